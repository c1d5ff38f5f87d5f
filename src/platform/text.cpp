#include "platform/text.h"

#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace parvelle::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point starting at s[i]; advances i past it (by one byte when invalid).
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + extra >= s.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += extra + 1;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

template <typename Get> std::string decodeUtf16(std::size_t n, Get unit) {
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            char32_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    return out;
}

} // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t run = asciiRunEnd(utf8, i);
        out.append(utf8.begin() + static_cast<std::ptrdiff_t>(i),
                   utf8.begin() + static_cast<std::ptrdiff_t>(run));
        i = run;
        if (i < utf8.size())
            appendUtf16(out, decodeUtf8(utf8, i));
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    return decodeUtf16(utf16.size(), [&](std::size_t i) { return char32_t(utf16[i]); });
}

std::string utf16leToUtf8(std::string_view bytes) {
    return decodeUtf16(bytes.size() / 2, [&](std::size_t i) {
        return char32_t(static_cast<unsigned char>(bytes[2 * i]) |
                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    });
}

std::size_t utf8ToUtf16leInto(std::string_view utf8, std::uint8_t* out) {
    std::uint8_t* const start = out;
    auto put = [&out](char16_t unit) {
        *out++ = static_cast<std::uint8_t>(unit & 0xFF);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    };
    const std::size_t n = utf8.size();
    for (std::size_t i = 0; i < n;) {
#ifdef __SSE2__
        // ASCII widens to UTF-16 by interleaving zero bytes, sixteen characters a step. A step
        // that meets another character still widens all sixteen but keeps only the ASCII before
        // it: text mixing scripts has one every few words. The output has room for this, since
        // no character takes more bytes in UTF-16LE than in UTF-8 and sixteen input bytes remain.
        if (i + 16 <= n) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf8.data() + i));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(bytes, zero));
            const auto other = static_cast<unsigned>(_mm_movemask_epi8(bytes));
            const std::size_t ascii =
                other == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(other));
            i += ascii;
            out += 2 * ascii;
            if (ascii == 16)
                continue;
        }
#endif
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            *out++ = static_cast<std::uint8_t>(utf8[i++]);
            *out++ = 0;
            continue;
        }
        const char32_t c = decodeUtf8(utf8, i);
        if (c >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(c));
        }
    }
    return static_cast<std::size_t>(out - start);
}

std::string utf8ToUtf16le(std::string_view utf8) {
    std::string out(utf8.size() * 2, '\0');
    out.resize(utf8ToUtf16leInto(utf8, reinterpret_cast<std::uint8_t*>(out.data())));
    return out;
}

std::string sanitizeUtf8(std::string_view s) {
    if (isValidUtf8(s))
        return std::string(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();)
        appendUtf8(out, decodeUtf8(s, i));
    return out;
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        i = asciiRunEnd(s, i);
        if (i >= s.size())
            break;
        const std::size_t start = i;
        if (decodeUtf8(s, i) == kReplacement && i == start + 1)
            return false;
    }
    return true;
}

std::size_t utf16Length(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t run = asciiRunEnd(s, i);
        n += run - i;
        i = run;
        if (i < s.size())
            n += decodeUtf8(s, i) >= 0x10000 ? 2 : 1;
    }
    return n;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

} // namespace parvelle::text
