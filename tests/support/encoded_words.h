#pragma once
// Reading RFC 2047 encoded words back, for tests and fuzz targets that check the header values
// the writers encode.
#include <cctype>
#include <cstdint>
#include <string>

namespace parvelle::testing {

// Decodes RFC 2047 encoded words (UTF-8, base64 or Q) in a header value.
inline std::string decodeHeader(const std::string& v) {
    std::string out;
    std::size_t i = 0;
    while (i < v.size()) {
        const std::size_t start = v.find("=?", i);
        if (start == std::string::npos) {
            out += v.substr(i);
            break;
        }
        out += v.substr(i, start - i);
        const std::size_t q1 = v.find('?', start + 2);
        const std::size_t q2 = q1 == std::string::npos ? q1 : v.find('?', q1 + 1);
        const std::size_t end = q2 == std::string::npos ? q2 : v.find("?=", q2 + 1);
        if (end == std::string::npos) {
            out += v.substr(start);
            break;
        }
        const char enc = static_cast<char>(std::toupper(v[q1 + 1]));
        const std::string payload = v.substr(q2 + 1, end - q2 - 1);
        if (enc == 'B') {
            static const std::string kAlphabet =
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            std::uint32_t acc = 0;
            int bits = 0;
            for (char c : payload) {
                const std::size_t k = kAlphabet.find(c);
                if (k == std::string::npos)
                    continue;
                acc = (acc << 6) | static_cast<std::uint32_t>(k);
                bits += 6;
                if (bits >= 8) {
                    bits -= 8;
                    out += static_cast<char>((acc >> bits) & 0xFF);
                }
            }
        } else {
            for (std::size_t k = 0; k < payload.size(); ++k) {
                if (payload[k] == '_')
                    out += ' ';
                else if (payload[k] == '=' && k + 2 < payload.size()) {
                    out += static_cast<char>(std::stoi(payload.substr(k + 1, 2), nullptr, 16));
                    k += 2;
                } else
                    out += payload[k];
            }
        }
        i = end + 2;
        // Whitespace between two encoded words is not part of the text.
        const std::size_t next = v.find_first_not_of(" \t", i);
        if (next != std::string::npos && v.compare(next, 2, "=?") == 0)
            i = next;
    }
    return out;
}

} // namespace parvelle::testing
