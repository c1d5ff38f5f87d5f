#pragma once
// A minimal JSON reader for the oracle scripts' output in the MSG tests.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvelle::testing {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text; // a string's value, or a number as written
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    bool isNull() const { return kind == Kind::Null; }
    // Member lookup; a null value when absent or not an object.
    const JsonValue& operator[](const std::string& key) const;
    const JsonValue& operator[](std::size_t index) const;
    std::size_t size() const { return kind == Kind::Array ? items.size() : members.size(); }
    // Strings as they are, numbers as written, booleans as true/false, null as empty.
    std::string str() const;
};

// Parses a whole document; nullopt on malformed input.
std::optional<JsonValue> parseJson(std::string_view text);

} // namespace parvelle::testing
