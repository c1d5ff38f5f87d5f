#include "store/mime/transfer_encoding.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PARVELLE_BASE64_WIDE 1
#endif

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

#ifdef PARVELLE_BASE64_WIDE
// 24 bytes into 32 characters with AVX2. Each 128-bit lane takes 12 bytes; every group of three
// bytes b0 b1 b2 is spread over a 32-bit word as b1 b0 b2 b1, from which two multiplies move the
// four 6-bit values to the four bytes; a 16-entry table then adds the offset of each value's
// range of the alphabet. Reads 28 bytes from `in`.
__attribute__((target("avx2"))) inline void encode24(const unsigned char* in, char* out) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
    __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    v = _mm256_shuffle_epi8(v, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,
                                                1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    // First and third values: bits 10-15 of the low half, 6-11 of the high half, to bits 0-5.
    const __m256i first = _mm256_mulhi_epu16(_mm256_and_si256(v, _mm256_set1_epi32(0x0FC0FC00)),
                                             _mm256_set1_epi32(0x04000040));
    // Second and fourth: bits 4-9 of the low half, 0-5 of the high half, to bits 8-13.
    const __m256i second = _mm256_mullo_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x003F03F0)),
                                              _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(first, second);
    // Range of each value: 0 for 26-51, 1-12 for 52-63 (digits, '+', '/'), 13 for 0-25.
    __m256i range = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
    range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i offsets =
        _mm256_setr_epi8(71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0, //
                         71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 65, 0, 0);
    const __m256i chars = _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
}

// One whole line: 57 bytes into 76 characters (two wide steps, then three groups).
__attribute__((target("avx2"))) void encodeLineWide(const unsigned char* in, char* out) {
    static_assert(kBase64LineBytes == 57, "two steps of 24 bytes, each reading 28, fit a line");
    encode24(in, out);
    encode24(in + 24, out + 32);
    encodeGroups(in + 48, 3, out + 64);
}
#endif

// One whole line of kBase64LineBytes bytes; returns the characters written (without the break).
std::size_t encodeLine(const unsigned char* in, char* out) {
#ifdef PARVELLE_BASE64_WIDE
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) {
        encodeLineWide(in, out);
        return kBase64LineBytes / 3 * 4;
    }
#endif
    return encodeGroups(in, kBase64LineBytes / 3, out);
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
        out += encodeLine(in, out);
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
