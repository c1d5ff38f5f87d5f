#include "markup/attribute_scan.h"

#include "markup/node_scanner.h"

namespace parvelle::markup {
namespace {

bool endsName(char c) {
    return isMarkupSpace(c) || c == '=' || c == '>' || c == '/' || c == '?';
}

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

std::optional<std::string_view> findAttribute(std::string_view tag, std::string_view name,
                                              bool ignoreCase) {
    std::size_t i = 0;
    const auto skipSpace = [&] {
        while (i < tag.size() && isMarkupSpace(tag[i])) {
            ++i;
        }
    };
    skipSpace();
    while (i < tag.size() && !endsName(tag[i])) {
        ++i;
    }
    bool afterEquals = false;
    bool matched = false; // the last name token was `name`
    while (true) {
        skipSpace();
        if (i >= tag.size()) {
            break;
        }
        const char c = tag[i];
        if (c == '"' || c == '\'') {
            const std::size_t close = tag.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? tag.size() : close;
            const std::string_view value = tag.substr(i + 1, end - i - 1);
            i = close == std::string_view::npos ? tag.size() : close + 1;
            if (matched) {
                return afterEquals ? value : std::string_view{};
            }
            afterEquals = false;
            continue;
        }
        if (afterEquals) {
            if (c == '>') {
                break;
            }
            const std::size_t begin = i;
            while (i < tag.size() && !isMarkupSpace(tag[i]) && tag[i] != '>') {
                ++i;
            }
            if (matched) {
                return tag.substr(begin, i - begin);
            }
            afterEquals = false;
            continue;
        }
        if (c == '=') {
            afterEquals = true;
            ++i;
            continue;
        }
        if (c == '>' || c == '/' || c == '?') {
            break;
        }
        if (matched) {
            return std::string_view{};
        }
        const std::size_t begin = i;
        while (i < tag.size() && !endsName(tag[i])) {
            ++i;
        }
        const std::string_view token = tag.substr(begin, i - begin);
        matched = ignoreCase ? equalsIgnoreAsciiCase(token, name) : token == name;
    }
    if (matched) {
        return std::string_view{};
    }
    return std::nullopt;
}

} // namespace parvelle::markup
