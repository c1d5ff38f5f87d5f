#pragma once
// Text conversions shared by every layer. The engine keeps text as UTF-8 in std::string; the
// formats it reads and writes (OLM documents, PST and MSG properties) also speak UTF-16, and a
// few naming rules count UTF-16 code units, so both directions live here.
#include <cstdint>
#include <string>
#include <string_view>

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

// End of the run of ASCII bytes that starts at s[i] (found many bytes at a time).
std::size_t asciiRunEnd(std::string_view s, std::size_t i);

// Number of UTF-16 code units the UTF-8 text would take.
std::size_t utf16Length(std::string_view utf8);

// ASCII-only case folding; enough for the format names we compare without case.
std::string asciiLower(std::string_view s);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

// Text made safe to insert between HTML tags or inside a quoted attribute.
std::string escapeHtml(std::string_view text);

} // namespace parvelle::text
