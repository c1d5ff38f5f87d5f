#include "store/mime/transfer_encoding.h"

#include <cstring>

namespace parvelle::mime {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kQpLineLimit = 76;

// The two characters of every 12-bit value, so that three bytes take two look-ups.
struct PairTable {
    char pairs[4096][2];
    constexpr PairTable() : pairs() {
        for (int v = 0; v < 4096; ++v) {
            pairs[v][0] = kAlphabet[v >> 6];
            pairs[v][1] = kAlphabet[v & 63];
        }
    }
};
constexpr PairTable kPairs;

// Encodes the whole groups of three bytes; returns the characters written.
std::size_t encodeGroups(const unsigned char* in, std::size_t groups, char* out) {
    for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
        const unsigned v = unsigned{in[0]} << 16 | unsigned{in[1]} << 8 | in[2];
        std::memcpy(out, kPairs.pairs[v >> 12], 2);
        std::memcpy(out + 2, kPairs.pairs[v & 0xFFF], 2);
    }
    return groups * 4;
}

// Encodes `size` bytes with padding; returns the characters written.
std::size_t encode(const unsigned char* in, std::size_t size, char* out) {
    std::size_t n = encodeGroups(in, size / 3, out);
    in += size / 3 * 3;
    if (const std::size_t rest = size % 3; rest > 0) {
        unsigned v = unsigned{in[0]} << 16;
        if (rest == 2)
            v |= unsigned{in[1]} << 8;
        out[n++] = kAlphabet[v >> 18];
        out[n++] = kAlphabet[(v >> 12) & 63];
        out[n++] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out[n++] = '=';
    }
    return n;
}

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

std::size_t base64LinesTo(std::string_view bytes, char* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    char* const begin = out;
    std::size_t left = bytes.size();
    for (; left >= kBase64LineBytes; left -= kBase64LineBytes, in += kBase64LineBytes) {
        out += encodeGroups(in, kBase64LineBytes / 3, out);
        *out++ = '\r';
        *out++ = '\n';
    }
    if (left > 0) {
        out += encode(in, left, out);
        *out++ = '\r';
        *out++ = '\n';
    }
    return static_cast<std::size_t>(out - begin);
}

std::string base64Lines(std::string_view bytes) {
    std::string out(base64LinesSize(bytes.size()), '\0');
    out.resize(base64LinesTo(bytes, out.data()));
    return out;
}

std::string quotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t lineStart = 0;
    while (lineStart <= text.size()) {
        const std::size_t lf = text.find('\n', lineStart);
        const bool last = lf == std::string_view::npos;
        const std::string_view line =
            text.substr(lineStart, last ? std::string_view::npos : lf - lineStart);
        std::size_t column = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool atEnd = i + 1 == line.size();
            // Keep printable ASCII; encode '=', controls, 8-bit bytes, white space that ends a
            // line (it would be stripped in transport) and the "From " and "." that some
            // transports treat specially at the start of a line, soft line breaks included.
            const bool literal =
                (c >= 0x21 && c <= 0x7E && c != '=') || ((c == ' ' || c == '\t') && !atEnd);
            const auto guarded = [&] {
                return c == '.' || (c == 'F' && line.substr(i).starts_with("From "));
            };
            bool encoded = !literal || (column == 0 && guarded());
            // Room for a soft line break '=' unless this is the last piece of a line that ends
            // in a line break (the text's last line ends in a soft one).
            const std::size_t limit = atEnd && !last ? kQpLineLimit : kQpLineLimit - 1;
            if (column + (encoded ? 3 : 1) > limit) {
                out += "=\r\n";
                column = 0;
                encoded = encoded || guarded();
            }
            if (encoded) {
                const char piece[] = {'=', kHex[c >> 4], kHex[c & 15]};
                out.append(piece, 3);
                column += 3;
            } else {
                out += static_cast<char>(c);
                ++column;
            }
        }
        if (last) {
            if (!line.empty())
                out += "=\r\n";
            break;
        }
        out += "\r\n";
        lineStart = lf + 1;
    }
    return out;
}

} // namespace parvelle::mime
