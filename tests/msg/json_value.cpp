#include "json_value.h"

#include "platform/text.h"

namespace parvelle::testing {

namespace {

const JsonValue& nullValue() {
    static const JsonValue v;
    return v;
}

class Parser {
public:
    explicit Parser(std::string_view s) : s_(s) {}

    std::optional<JsonValue> document() {
        auto v = value();
        skip();
        if (!v || pos_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    void skip() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool eat(char c) {
        skip();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word)
            return false;
        pos_ += word.size();
        return true;
    }

    std::optional<std::string> string() {
        if (!eat('"'))
            return std::nullopt;
        std::u16string units;
        std::string out;
        auto flush = [&] {
            out += text::utf16ToUtf8(units);
            units.clear();
        };
        while (pos_ < s_.size()) {
            const char c = s_[pos_++];
            if (c == '"') {
                flush();
                return out;
            }
            if (c != '\\') {
                flush();
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                return std::nullopt;
            const char e = s_[pos_++];
            if (e == 'u') {
                if (pos_ + 4 > s_.size())
                    return std::nullopt;
                units.push_back(static_cast<char16_t>(
                    std::stoul(std::string(s_.substr(pos_, 4)), nullptr, 16)));
                pos_ += 4;
                continue;
            }
            flush();
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            default:
                out += e;
            }
        }
        return std::nullopt;
    }

    std::optional<JsonValue> value() {
        skip();
        if (pos_ >= s_.size())
            return std::nullopt;
        JsonValue v;
        const char c = s_[pos_];
        if (c == '{') {
            ++pos_;
            v.kind = JsonValue::Kind::Object;
            if (eat('}'))
                return v;
            do {
                auto key = string();
                if (!key || !eat(':'))
                    return std::nullopt;
                auto member = value();
                if (!member)
                    return std::nullopt;
                v.members[*key] = std::move(*member);
            } while (eat(','));
            return eat('}') ? std::optional<JsonValue>(std::move(v)) : std::nullopt;
        }
        if (c == '[') {
            ++pos_;
            v.kind = JsonValue::Kind::Array;
            if (eat(']'))
                return v;
            do {
                auto item = value();
                if (!item)
                    return std::nullopt;
                v.items.push_back(std::move(*item));
            } while (eat(','));
            return eat(']') ? std::optional<JsonValue>(std::move(v)) : std::nullopt;
        }
        if (c == '"') {
            auto s = string();
            if (!s)
                return std::nullopt;
            v.kind = JsonValue::Kind::String;
            v.text = std::move(*s);
            return v;
        }
        if (literal("true")) {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = true;
            return v;
        }
        if (literal("false")) {
            v.kind = JsonValue::Kind::Bool;
            return v;
        }
        if (literal("null"))
            return v;
        const std::size_t start = pos_;
        while (pos_ < s_.size() &&
               std::string_view("+-0123456789.eE").find(s_[pos_]) != std::string_view::npos)
            ++pos_;
        if (pos_ == start)
            return std::nullopt;
        v.kind = JsonValue::Kind::Number;
        v.text = std::string(s_.substr(start, pos_ - start));
        return v;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    auto it = members.find(key);
    return it == members.end() ? nullValue() : it->second;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
    return index < items.size() ? items[index] : nullValue();
}

std::string JsonValue::str() const {
    switch (kind) {
    case Kind::Bool:
        return boolean ? "true" : "false";
    case Kind::String:
    case Kind::Number:
        return text;
    default:
        return {};
    }
}

std::optional<JsonValue> parseJson(std::string_view text) {
    return Parser(text).document();
}

} // namespace parvelle::testing
