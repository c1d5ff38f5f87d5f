#pragma once
// Windows code pages on top of glibc iconv. Formats we read and write name their character sets by
// Windows code-page numbers (OLM documents, PST and MSG properties), so the engine speaks code
// pages and this layer maps them to iconv converters. Conversions never fail: bytes that do not
// decode become U+FFFD, characters a code page cannot hold become '?'.
#include <string>
#include <string_view>

namespace parvelle::codepage {

inline constexpr int kAnsi = 0; // "the system ANSI code page", as Windows callers write it
inline constexpr int kUtf16Le = 1200;
inline constexpr int kUtf16Be = 1201;
inline constexpr int kWindows1252 = 1252;
inline constexpr int kUtf32Le = 12000;
inline constexpr int kUtf32Be = 12001;
inline constexpr int kUtf7 = 65000;
inline constexpr int kUtf8 = 65001;

// The code page that stands in for the system ANSI code page: Western European (1252), which is
// what the documents and file names this tool reads were written with on Windows.
int ansiCodePage();

// The iconv name for a code page, or an empty view when glibc has no converter for it.
// kAnsi resolves to the ANSI code page.
std::string_view iconvName(int codePage);
bool isSupported(int codePage);

// Bytes in `codePage` to UTF-8. kAnsi, negative and unsupported code pages convert as the ANSI
// code page. Byte sequences that do not decode become U+FFFD; an incomplete sequence at the end
// becomes one U+FFFD.
std::string toUtf8(std::string_view bytes, int codePage);

// UTF-8 to bytes in `codePage` (kAnsi and unsupported code pages as the ANSI code page). Every
// character the code page cannot hold, and every invalid UTF-8 sequence, becomes '?';
// `usedDefaultChar`, when given, tells whether that happened.
std::string fromUtf8(std::string_view utf8, int codePage, bool* usedDefaultChar = nullptr);

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, surrogates or values above
// U+10FFFF), or 0 when it is malformed; `valid` receives the length of its longest well-formed
// prefix, which is replaced as one unit (the Unicode "maximal subpart" practice that Windows
// follows too).
// Inline: text scanners call it for every character outside ASCII.
inline std::size_t utf8SequenceLength(std::string_view s, std::size_t i, std::size_t& valid) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    valid = 1;
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (i + k >= s.size()) {
            return 0;
        }
        const auto b = static_cast<unsigned char>(s[i + k]);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            return 0;
        }
        valid = k + 1;
    }
    return need + 1;
}

} // namespace parvelle::codepage
