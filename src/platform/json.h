#pragma once
// A small streaming JSON writer for the command line's --json output. Values are written in the
// order they are given; the writer inserts commas and escapes strings (which must be UTF-8).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::json {

class Writer {
public:
    explicit Writer(bool pretty = false) : pretty_(pretty) {}

    Writer& beginObject();
    Writer& endObject();
    Writer& beginArray();
    Writer& endArray();
    // Names the next value inside an object.
    Writer& key(std::string_view name);
    Writer& value(std::string_view s);
    Writer& value(const char* s) { return value(std::string_view(s)); }
    Writer& value(const std::string& s) { return value(std::string_view(s)); }
    Writer& value(bool b);
    Writer& value(std::int64_t n);
    Writer& value(std::uint64_t n);
    Writer& value(int n) { return value(static_cast<std::int64_t>(n)); }
    Writer& value(double d);
    Writer& null();

    const std::string& str() const { return out_; }

private:
    void beforeValue();
    void newline();

    std::string out_;
    // One entry per open container: true once it holds a value.
    std::vector<bool> hasValue_;
    bool afterKey_ = false;
    bool pretty_;
};

// Escapes a UTF-8 string as a JSON string literal, quotes included.
std::string quote(std::string_view s);

} // namespace parvelle::json
