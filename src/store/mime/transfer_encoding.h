#pragma once
// Content transfer encodings for bodies and attachments: base64 (RFC 2045 6.8) and
// quoted-printable (RFC 2045 6.7), producing CRLF lines of at most 76 characters.
#include <cstddef>
#include <string>
#include <string_view>

namespace parvelle::mime {

// Base64 of `bytes` on one line, with padding.
std::string base64Encode(std::string_view bytes);

// Bytes per base64 line: 57 bytes make exactly 76 characters.
constexpr std::size_t kBase64LineBytes = 57;

// The characters base64Lines makes of `size` bytes.
constexpr std::size_t base64LinesSize(std::size_t size) {
    const std::size_t lines = (size + kBase64LineBytes - 1) / kBase64LineBytes;
    return (size + 2) / 3 * 4 + lines * 2;
}

// Base64 of `bytes` in lines of 76 characters, each ending in CRLF. Feeding a long input in
// pieces whose sizes are multiples of kBase64LineBytes gives the same lines as one call.
std::string base64Lines(std::string_view bytes);

// The same characters written to `out`, which has room for base64LinesSize(bytes.size()) of
// them; returns how many were written. For streams that encode large contents piece by piece
// into one reused buffer.
std::size_t base64LinesTo(std::string_view bytes, char* out);

// Quoted-printable of UTF-8 text whose line breaks are LF. Every output line ends in CRLF; a
// text that does not end in a line break ends in a soft line break, so decoding gives the text
// back without an added newline.
std::string quotedPrintable(std::string_view text);

} // namespace parvelle::mime
