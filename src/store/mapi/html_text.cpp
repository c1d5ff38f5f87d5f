#include "store/mapi/html_text.h"

#include "platform/text.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <utility>

namespace parvelle::mapi {
namespace {

std::string lower(std::string_view s) {
    return text::asciiLower(s);
}

void appendCodePoint(std::string& out, char32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::array<std::pair<std::string_view, char32_t>, 24> kEntities{{
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"bull", 0x2022},  {"euro", 0x20AC},  {"pound", 0xA3},   {"yen", 0xA5},
    {"cent", 0xA2},    {"sect", 0xA7},    {"deg", 0xB0},     {"middot", 0xB7},
}};

// Decodes the character reference at html[i] ('&'); returns the code point and advances i, or
// returns '&' and advances by one when it is not a reference.
char32_t decodeReference(std::string_view html, std::size_t& i) {
    const std::size_t semi = html.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12) {
        ++i;
        return '&';
    }
    const std::string_view name = html.substr(i + 1, semi - i - 1);
    char32_t cp = 0;
    bool ok = false;
    if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        ok = name.size() > (hex ? 2u : 1u);
        for (std::size_t k = hex ? 2 : 1; ok && k < name.size(); ++k) {
            const char c = name[k];
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0 || cp > 0x10FFFF)
                ok = false;
            else
                cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
        }
    } else {
        for (const auto& [entity, value] : kEntities)
            if (entity == name) {
                cp = value;
                ok = true;
            }
    }
    if (!ok) {
        ++i;
        return '&';
    }
    i = semi + 1;
    return cp;
}

bool isBlockTag(std::string_view name) {
    static constexpr std::array<std::string_view, 22> kBlocks{
        "p",  "div", "tr",         "li",  "h1", "h2", "h3", "h4", "h5",      "h6",     "table",
        "ul", "ol",  "blockquote", "pre", "hr", "dl", "dt", "dd", "address", "center", "title"};
    for (auto b : kBlocks)
        if (b == name)
            return true;
    return false;
}

class Converter {
public:
    std::string run(std::string_view html) {
        std::size_t i = 0;
        while (i < html.size()) {
            const char c = html[i];
            if (c == '<') {
                i = tag(html, i);
            } else if (skipDepth_ > 0) {
                ++i;
            } else if (c == '&') {
                std::string utf8;
                const char32_t cp = decodeReference(html, i);
                appendCodePoint(utf8, cp == 0xA0 ? char32_t{' '} : cp);
                text(utf8);
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
                if (pre_)
                    text(std::string_view(&html[i], 1));
                else
                    pendingSpace_ = true;
                ++i;
            } else {
                std::size_t j = i;
                while (j < html.size() && html[j] != '<' && html[j] != '&' && html[j] != ' ' &&
                       html[j] != '\t' && html[j] != '\r' && html[j] != '\n' && html[j] != '\f')
                    ++j;
                text(html.substr(i, j - i));
                i = j;
            }
        }
        while (!out_.empty() && (out_.back() == '\n' || out_.back() == '\r' || out_.back() == ' '))
            out_.pop_back();
        return out_;
    }

private:
    std::size_t tag(std::string_view html, std::size_t i) {
        if (html.compare(i, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", i + 4);
            return end == std::string_view::npos ? html.size() : end + 3;
        }
        std::size_t j = i + 1;
        const bool closing = j < html.size() && html[j] == '/';
        if (closing)
            ++j;
        const std::size_t nameStart = j;
        while (j < html.size() &&
               (std::isalnum(static_cast<unsigned char>(html[j])) || html[j] == ':'))
            ++j;
        const std::string name = lower(html.substr(nameStart, j - nameStart));
        // Skip to the closing '>' honouring quoted attribute values.
        char quote = 0;
        while (j < html.size() && (quote || html[j] != '>')) {
            if (quote && html[j] == quote)
                quote = 0;
            else if (!quote && (html[j] == '"' || html[j] == '\''))
                quote = html[j];
            ++j;
        }
        const std::size_t end = j < html.size() ? j + 1 : html.size();
        if (name.empty()) {
            if (!closing && nameStart < html.size() && html[nameStart] != '!' &&
                html[nameStart] != '?' && skipDepth_ == 0) {
                text("<"); // a lone '<' is text
                return i + 1;
            }
            return end;
        }
        if (name == "script" || name == "style" || name == "head") {
            if (closing) {
                if (skipDepth_ > 0)
                    --skipDepth_;
            } else if (html[end - 2] != '/') {
                ++skipDepth_;
            }
            return end;
        }
        if (skipDepth_ > 0)
            return end;
        if (name == "br") {
            newline();
        } else if (name == "pre") {
            lineBreak();
            pre_ = !closing;
        } else if (name == "td" || name == "th") {
            if (closing)
                pendingTab_ = true;
        } else if (isBlockTag(name)) {
            lineBreak();
        }
        return end;
    }

    void text(std::string_view s) {
        if (out_.empty() || atLineStart()) {
            pendingSpace_ = false;
            pendingTab_ = false;
        }
        if (pendingTab_)
            out_ += '\t';
        else if (pendingSpace_)
            out_ += ' ';
        pendingSpace_ = pendingTab_ = false;
        out_ += s;
    }
    bool atLineStart() const { return !out_.empty() && out_.back() == '\n'; }
    void newline() {
        out_ += "\r\n";
        pendingSpace_ = pendingTab_ = false;
    }
    // A block boundary: start a new line unless we already are at one.
    void lineBreak() {
        if (!out_.empty() && !atLineStart())
            newline();
        pendingSpace_ = pendingTab_ = false;
    }

    std::string out_;
    int skipDepth_ = 0;
    bool pendingSpace_ = false;
    bool pendingTab_ = false;
    bool pre_ = false;
};

} // namespace

std::string htmlToPlainText(std::string_view html) {
    return Converter().run(html);
}

} // namespace parvelle::mapi
