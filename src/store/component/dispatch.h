#pragma once
// The automation contract the item writers speak: objects answer calls keyed by a dispatch id
// (method, property get, property put) with variant arguments. A failed call throws
// ComponentError; a missing object is an empty Variant. Each object kind keeps one table that
// says what every dispatch id it answers means.
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>

namespace parvelle::component {

class DispatchObject;
using ObjectRef = std::shared_ptr<DispatchObject>;

// An OLE automation date: days since 30 December 1899, fraction = time of day.
struct Date {
    double value = 0;
};
// An optional argument left out by the caller.
struct Missing {};

class Variant {
public:
    using Storage = std::variant<std::monostate, Missing, bool, std::int32_t, double, Date,
                                 std::string, ObjectRef>;
    Variant() = default;
    Variant(Missing m) : v_(m) {}
    Variant(bool b) : v_(b) {}
    Variant(std::int32_t i) : v_(i) {}
    Variant(double d) : v_(d) {}
    Variant(Date d) : v_(d) {}
    Variant(std::string s) : v_(std::move(s)) {}
    Variant(const char* s) : v_(std::string(s)) {}
    Variant(ObjectRef o) : v_(std::move(o)) {}

    bool isEmpty() const { return std::holds_alternative<std::monostate>(v_); }
    bool isMissing() const { return std::holds_alternative<Missing>(v_); }
    const Storage& storage() const { return v_; }

    // Conversions as automation performs them; a value that cannot convert throws
    // ComponentError ("type mismatch").
    std::string toString() const;
    std::int32_t toInt() const;
    bool toBool() const;
    double toDouble() const;
    Date toDate() const;
    // The object, or nullptr for an empty variant; anything else throws.
    ObjectRef toObject() const;
    template <typename T> std::shared_ptr<T> as() const {
        return std::dynamic_pointer_cast<T>(toObject());
    }

private:
    Storage v_;
};

class ComponentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class CallKind { Method, Get, Put };

class DispatchObject : public std::enable_shared_from_this<DispatchObject> {
public:
    virtual ~DispatchObject() = default;
    virtual Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) = 0;

    Variant call(std::int32_t dispid, std::initializer_list<Variant> args = {}) {
        return invoke(dispid, CallKind::Method, {args.begin(), args.size()});
    }
    Variant get(std::int32_t dispid, std::initializer_list<Variant> args = {}) {
        return invoke(dispid, CallKind::Get, {args.begin(), args.size()});
    }
    void put(std::int32_t dispid, Variant value) { invoke(dispid, CallKind::Put, {&value, 1}); }
    // An indexed put: put(dispid, index..., value).
    void putIndexed(std::int32_t dispid, std::initializer_list<Variant> indexAndValue) {
        invoke(dispid, CallKind::Put, {indexAndValue.begin(), indexAndValue.size()});
    }

protected:
    [[noreturn]] static void unknownMember(const char* object, std::int32_t dispid, CallKind kind);
    // The argument at `i`, or throws when the caller passed fewer.
    static const Variant& arg(std::span<const Variant> args, std::size_t i);
};

} // namespace parvelle::component
