#include "platform/json.h"

#include <cmath>
#include <cstdio>

#include "platform/text.h"

namespace parvelle::json {

std::string quote(std::string_view raw) {
    const std::string s = text::sanitizeUtf8(raw);
    std::string out;
    out.reserve(s.size() + 2);
    out.push_back('"');
    for (char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                out += buf;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
    return out;
}

void Writer::newline() {
    if (!pretty_)
        return;
    out_.push_back('\n');
    out_.append(hasValue_.size() * 2, ' ');
}

void Writer::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasValue_.empty()) {
        if (hasValue_.back())
            out_.push_back(',');
        hasValue_.back() = true;
        newline();
    }
}

Writer& Writer::beginObject() {
    beforeValue();
    out_.push_back('{');
    hasValue_.push_back(false);
    return *this;
}

Writer& Writer::endObject() {
    const bool had = hasValue_.back();
    hasValue_.pop_back();
    if (had)
        newline();
    out_.push_back('}');
    return *this;
}

Writer& Writer::beginArray() {
    beforeValue();
    out_.push_back('[');
    hasValue_.push_back(false);
    return *this;
}

Writer& Writer::endArray() {
    const bool had = hasValue_.back();
    hasValue_.pop_back();
    if (had)
        newline();
    out_.push_back(']');
    return *this;
}

Writer& Writer::key(std::string_view name) {
    beforeValue();
    out_ += quote(name);
    out_ += pretty_ ? ": " : ":";
    afterKey_ = true;
    return *this;
}

Writer& Writer::value(std::string_view s) {
    beforeValue();
    out_ += quote(s);
    return *this;
}

Writer& Writer::value(bool b) {
    beforeValue();
    out_ += b ? "true" : "false";
    return *this;
}

Writer& Writer::value(std::int64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::value(std::uint64_t n) {
    beforeValue();
    out_ += std::to_string(n);
    return *this;
}

Writer& Writer::value(double d) {
    beforeValue();
    if (!std::isfinite(d)) {
        out_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    out_ += buf;
    return *this;
}

Writer& Writer::null() {
    beforeValue();
    out_ += "null";
    return *this;
}

} // namespace parvelle::json
