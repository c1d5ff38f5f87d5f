#pragma once
// Text conversions shared by every layer. The engine keeps text as UTF-8 in std::string; the
// formats it reads and writes (OLM documents, PST and MSG properties) also speak UTF-16, and a
// few naming rules count UTF-16 code units, so both directions live here.
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace parvelle::text {

// Decodes UTF-8; invalid sequences become U+FFFD instead of failing.
std::u16string utf8ToUtf16(std::string_view utf8);
// Encodes UTF-16; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);
// Reads UTF-16 little-endian bytes (an odd trailing byte is dropped).
std::string utf16leToUtf8(std::string_view bytes);
// Writes UTF-16 little-endian bytes, without terminator.
std::string utf8ToUtf16le(std::string_view utf8);
// The same into `out`, which has room for twice the UTF-8 bytes (the most any text takes);
// returns the bytes written.
std::size_t utf8ToUtf16leInto(std::string_view utf8, std::uint8_t* out);

// Replaces invalid UTF-8 sequences with U+FFFD so the result is always valid UTF-8.
std::string sanitizeUtf8(std::string_view maybeUtf8);
bool isValidUtf8(std::string_view bytes);

// End of the run of ASCII bytes that starts at s[i], found sixteen bytes a step where the
// processor has SSE2. Inline, and exact within a step without a slower tail loop: mail text mixes
// scripts, with a character outside ASCII every few words, so most runs are short and a call or
// a second loop per run would cost more than the scan.
inline std::size_t asciiRunEnd(std::string_view s, std::size_t i) {
#ifdef __SSE2__
    while (i + 16 <= s.size()) {
        const auto other = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i))));
        if (other != 0)
            return i + static_cast<std::size_t>(std::countr_zero(other));
        i += 16;
    }
#endif
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
        ++i;
    return i;
}

// Number of UTF-16 code units the UTF-8 text would take.
std::size_t utf16Length(std::string_view utf8);

// ASCII-only case folding; enough for the format names we compare without case.
std::string asciiLower(std::string_view s);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Text made safe to insert between HTML tags or inside a quoted attribute.
std::string escapeHtml(std::string_view text);

} // namespace parvelle::text
