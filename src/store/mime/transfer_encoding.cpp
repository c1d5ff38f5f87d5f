#include "store/mime/transfer_encoding.h"

namespace parvelle::mime {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kQpLineLimit = 76;

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64Lines(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() / kBase64LineBytes + 1) * 78);
    for (std::size_t i = 0; i < bytes.size(); i += kBase64LineBytes) {
        out += base64Encode(bytes.substr(i, kBase64LineBytes));
        out += "\r\n";
    }
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
            // transports treat specially at the start of a line.
            const bool literal =
                (c >= 0x21 && c <= 0x7E && c != '=') || ((c == ' ' || c == '\t') && !atEnd);
            const bool guarded =
                column == 0 && (c == '.' || (c == 'F' && line.substr(i).starts_with("From ")));
            std::string piece;
            if (literal && !guarded) {
                piece = static_cast<char>(c);
            } else {
                piece = {'=', kHex[c >> 4], kHex[c & 15]};
            }
            // Room for a soft line break '=' unless this is the line's last piece.
            const std::size_t limit = atEnd ? kQpLineLimit : kQpLineLimit - 1;
            if (column + piece.size() > limit) {
                out += "=\r\n";
                column = 0;
            }
            out += piece;
            column += piece.size();
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
