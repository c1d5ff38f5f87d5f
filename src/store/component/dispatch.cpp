#include "store/component/dispatch.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace parvelle::component {
namespace {

[[noreturn]] void mismatch(const char* to) {
    throw ComponentError(std::string("Type mismatch: the value cannot be used as ") + to);
}

} // namespace

std::string Variant::toString() const {
    if (const auto* s = std::get_if<std::string>(&v_))
        return *s;
    if (const auto* i = std::get_if<std::int32_t>(&v_))
        return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&v_))
        return *b ? "True" : "False";
    if (std::holds_alternative<std::monostate>(v_))
        return {};
    if (const auto* d = std::get_if<double>(&v_)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    mismatch("text");
}

std::int32_t Variant::toInt() const {
    if (const auto* i = std::get_if<std::int32_t>(&v_))
        return *i;
    if (const auto* b = std::get_if<bool>(&v_))
        return *b ? -1 : 0;
    if (const auto* d = std::get_if<double>(&v_))
        return static_cast<std::int32_t>(std::llround(*d));
    if (std::holds_alternative<std::monostate>(v_))
        return 0;
    if (const auto* s = std::get_if<std::string>(&v_)) {
        char* end = nullptr;
        const long v = std::strtol(s->c_str(), &end, 10);
        if (!s->empty() && end && *end == '\0')
            return static_cast<std::int32_t>(v);
    }
    mismatch("a number");
}

bool Variant::toBool() const {
    if (const auto* b = std::get_if<bool>(&v_))
        return *b;
    if (const auto* i = std::get_if<std::int32_t>(&v_))
        return *i != 0;
    if (std::holds_alternative<std::monostate>(v_))
        return false;
    mismatch("true or false");
}

double Variant::toDouble() const {
    if (const auto* d = std::get_if<double>(&v_))
        return *d;
    if (const auto* d = std::get_if<Date>(&v_))
        return d->value;
    if (const auto* i = std::get_if<std::int32_t>(&v_))
        return *i;
    if (std::holds_alternative<std::monostate>(v_))
        return 0;
    mismatch("a number");
}

Date Variant::toDate() const {
    if (const auto* d = std::get_if<Date>(&v_))
        return *d;
    if (const auto* d = std::get_if<double>(&v_))
        return {*d};
    if (std::holds_alternative<std::monostate>(v_))
        return {};
    mismatch("a date");
}

ObjectRef Variant::toObject() const {
    if (const auto* o = std::get_if<ObjectRef>(&v_))
        return *o;
    if (std::holds_alternative<std::monostate>(v_))
        return nullptr;
    mismatch("an object");
}

void DispatchObject::unknownMember(const char* object, std::int32_t dispid, CallKind kind) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s has no %s with dispatch id 0x%X", object,
                  kind == CallKind::Method ? "method"
                  : kind == CallKind::Get  ? "readable property"
                                           : "writable property",
                  static_cast<unsigned>(dispid));
    throw ComponentError(buf);
}

const Variant& DispatchObject::arg(std::span<const Variant> args, std::size_t i) {
    if (i >= args.size())
        throw ComponentError("A required argument is missing");
    return args[i];
}

} // namespace parvelle::component
