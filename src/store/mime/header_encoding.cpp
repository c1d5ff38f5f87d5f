#include "store/mime/header_encoding.h"

#include "platform/text.h"
#include "store/mime/transfer_encoding.h"

namespace parvelle::mime {

namespace {

constexpr std::size_t kLineLimit = 78;
constexpr std::size_t kEncodedWordLimit = 75;
constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray continuation byte, which
// cannot occur in sanitized text).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

bool isAtext(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

// A phrase made of atoms and single spaces needs no quoting.
bool isAtomPhrase(std::string_view s) {
    if (s.empty() || s.front() == ' ' || s.back() == ' ' ||
        s.find("  ") != std::string_view::npos || s.find("=?") != std::string_view::npos)
        return false;
    for (unsigned char c : s)
        if (c != ' ' && !isAtext(c))
            return false;
    return true;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// RFC 2231 attribute-char: what may stand unencoded in an extended parameter value.
bool isAttributeChar(unsigned char c) {
    return c > 0x20 && c < 0x7F &&
           std::string_view("*'%()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) ==
               std::string_view::npos;
}

// The RFC 2231 sections of a value, each holding whole characters and short enough that
// " name*NN*=" plus the section fits on a line.
std::vector<std::string> extendedSections(std::string_view name, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> sections(1, "UTF-8''");
    const std::size_t room = kLineLimit - (name.size() + 8);
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n =
            std::min(sequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
        std::string piece;
        for (std::size_t k = 0; k < n; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if (isAttributeChar(c)) {
                piece += static_cast<char>(c);
            } else {
                piece += '%';
                piece += kHex[c >> 4];
                piece += kHex[c & 15];
            }
        }
        if (sections.back().size() + piece.size() > room)
            sections.emplace_back();
        sections.back() += piece;
        i += n;
    }
    return sections;
}

} // namespace

bool isPrintableAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

std::string foldHeader(std::string_view name, std::string_view unfolded) {
    std::string out;
    std::string line = std::string(name) + ":";
    if (!unfolded.empty())
        line += " ";
    const std::size_t valueStart = line.size();
    line += unfolded;
    // Fold before a space that leaves text on both sides; if a line has no such space within
    // the limit, fold at the first one after it (a long word stays whole).
    std::size_t start = 0;
    while (line.size() - start > kLineLimit) {
        const std::size_t minBreak = start == 0 ? valueStart : start + 1;
        std::size_t at = std::string::npos;
        for (std::size_t i = start + kLineLimit; i > minBreak; --i)
            if (line[i] == ' ' && line[i - 1] != ' ') {
                at = i;
                break;
            }
        if (at == std::string::npos) {
            for (std::size_t i = start + kLineLimit + 1; i < line.size(); ++i)
                if (line[i] == ' ' && line[i - 1] != ' ') {
                    at = i;
                    break;
                }
        }
        if (at == std::string::npos || at + 1 >= line.size())
            break;
        out.append(line, start, at - start);
        out += "\r\n";
        start = at;
    }
    out.append(line, start);
    out += "\r\n";
    return out;
}

std::string encodedWords(std::string_view utf8, std::size_t firstRoom) {
    std::string out;
    std::size_t room = std::min(firstRoom, kEncodedWordLimit);
    std::size_t i = 0;
    while (i < utf8.size()) {
        // Base64 of n bytes takes 4 * ceil(n / 3) characters.
        const std::size_t overhead = kWordStart.size() + kWordEnd.size();
        const std::size_t maxBytes = room > overhead + 4 ? (room - overhead) / 4 * 3 : 3;
        std::size_t end = i;
        while (end < utf8.size()) {
            const std::size_t n =
                std::min(sequenceLength(static_cast<unsigned char>(utf8[end])), utf8.size() - end);
            if (end + n - i > maxBytes && end > i)
                break;
            end += n;
        }
        if (!out.empty())
            out += ' ';
        out += kWordStart;
        out += base64Encode(utf8.substr(i, end - i));
        out += kWordEnd;
        i = end;
        room = kEncodedWordLimit;
    }
    return out;
}

std::string encodeUnstructured(std::string_view utf8, std::size_t firstLineUsed) {
    const bool plain = isPrintableAscii(utf8) && utf8.find("=?") == std::string_view::npos &&
                       utf8.find("  ") == std::string_view::npos &&
                       (utf8.empty() || (utf8.front() != ' ' && utf8.back() != ' '));
    if (plain)
        return std::string(utf8);
    const std::size_t firstRoom = firstLineUsed < kLineLimit ? kLineLimit - firstLineUsed : 0;
    return encodedWords(utf8, firstRoom < 20 ? kEncodedWordLimit : firstRoom);
}

std::string encodePhrase(std::string_view utf8) {
    if (isAtomPhrase(utf8))
        return std::string(utf8);
    if (isPrintableAscii(utf8) && utf8.find("=?") == std::string_view::npos)
        return quoted(utf8);
    return encodedWords(utf8);
}

std::string encodeAddressList(const std::vector<Mailbox>& mailboxes) {
    std::string out;
    for (const Mailbox& m : mailboxes) {
        if (!out.empty())
            out += ", ";
        if (m.address.empty()) {
            out += encodePhrase(m.name) + ":;";
        } else if (m.name.empty()) {
            out += m.address;
        } else {
            out += encodePhrase(m.name) + " <" + m.address + ">";
        }
    }
    return out;
}

std::string encodeParameter(std::string_view name, std::string_view utf8Value) {
    const std::string simple = std::string(name) + "=" + quoted(utf8Value);
    // A plain quoted string when it fits on a continuation line (or folds at its spaces).
    if (isPrintableAscii(utf8Value) && utf8Value.find("=?") == std::string_view::npos &&
        (simple.size() + 2 <= kLineLimit || utf8Value.find(' ') != std::string_view::npos))
        return "; " + simple;
    const std::vector<std::string> sections = extendedSections(name, utf8Value);
    if (sections.size() == 1)
        return "; " + std::string(name) + "*=" + sections.front();
    std::string out;
    for (std::size_t i = 0; i < sections.size(); ++i)
        out += "; " + std::string(name) + "*" + std::to_string(i) + "*=" + sections[i];
    return out;
}

} // namespace parvelle::mime
