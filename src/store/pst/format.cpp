#include "store/pst/format.h"

#include <algorithm>

#include <zlib.h>
#ifdef PARVELLE_HAVE_ISAL
#include <isa-l/crc.h>
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PARVELLE_BYTE_PERMUTE 1
#endif

namespace parvelle::pst {

namespace {

// mpbbCrypt of MS-PST section 5.1: the substitution R, the involution S used only by the cyclic
// method, and I = R's inverse (derived below rather than stored).
constexpr std::array<std::uint8_t, 256> kCryptR = {
    0x41, 0x36, 0x13, 0x62, 0xA8, 0x21, 0x6E, 0xBB, 0xF4, 0x16, 0xCC, 0x04, 0x7F, 0x64, 0xE8, 0x5D,
    0x1E, 0xF2, 0xCB, 0x2A, 0x74, 0xC5, 0x5E, 0x35, 0xD2, 0x95, 0x47, 0x9E, 0x96, 0x2D, 0x9A, 0x88,
    0x4C, 0x7D, 0x84, 0x3F, 0xDB, 0xAC, 0x31, 0xB6, 0x48, 0x5F, 0xF6, 0xC4, 0xD8, 0x39, 0x8B, 0xE7,
    0x23, 0x3B, 0x38, 0x8E, 0xC8, 0xC1, 0xDF, 0x25, 0xB1, 0x20, 0xA5, 0x46, 0x60, 0x4E, 0x9C, 0xFB,
    0xAA, 0xD3, 0x56, 0x51, 0x45, 0x7C, 0x55, 0x00, 0x07, 0xC9, 0x2B, 0x9D, 0x85, 0x9B, 0x09, 0xA0,
    0x8F, 0xAD, 0xB3, 0x0F, 0x63, 0xAB, 0x89, 0x4B, 0xD7, 0xA7, 0x15, 0x5A, 0x71, 0x66, 0x42, 0xBF,
    0x26, 0x4A, 0x6B, 0x98, 0xFA, 0xEA, 0x77, 0x53, 0xB2, 0x70, 0x05, 0x2C, 0xFD, 0x59, 0x3A, 0x86,
    0x7E, 0xCE, 0x06, 0xEB, 0x82, 0x78, 0x57, 0xC7, 0x8D, 0x43, 0xAF, 0xB4, 0x1C, 0xD4, 0x5B, 0xCD,
    0xE2, 0xE9, 0x27, 0x4F, 0xC3, 0x08, 0x72, 0x80, 0xCF, 0xB0, 0xEF, 0xF5, 0x28, 0x6D, 0xBE, 0x30,
    0x4D, 0x34, 0x92, 0xD5, 0x0E, 0x3C, 0x22, 0x32, 0xE5, 0xE4, 0xF9, 0x9F, 0xC2, 0xD1, 0x0A, 0x81,
    0x12, 0xE1, 0xEE, 0x91, 0x83, 0x76, 0xE3, 0x97, 0xE6, 0x61, 0x8A, 0x17, 0x79, 0xA4, 0xB7, 0xDC,
    0x90, 0x7A, 0x5C, 0x8C, 0x02, 0xA6, 0xCA, 0x69, 0xDE, 0x50, 0x1A, 0x11, 0x93, 0xB9, 0x52, 0x87,
    0x58, 0xFC, 0xED, 0x1D, 0x37, 0x49, 0x1B, 0x6A, 0xE0, 0x29, 0x33, 0x99, 0xBD, 0x6C, 0xD9, 0x94,
    0xF3, 0x40, 0x54, 0x6F, 0xF0, 0xC6, 0x73, 0xB8, 0xD6, 0x3E, 0x65, 0x18, 0x44, 0x1F, 0xDD, 0x67,
    0x10, 0xF1, 0x0C, 0x19, 0xEC, 0xAE, 0x03, 0xA1, 0x14, 0x7B, 0xA9, 0x0B, 0xFF, 0xF8, 0xA3, 0xC0,
    0xA2, 0x01, 0xF7, 0x2E, 0xBC, 0x24, 0x68, 0x75, 0x0D, 0xFE, 0xBA, 0x2F, 0xB5, 0xD0, 0xDA, 0x3D,
};
constexpr std::array<std::uint8_t, 256> kCryptS = {
    0x14, 0x53, 0x0F, 0x56, 0xB3, 0xC8, 0x7A, 0x9C, 0xEB, 0x65, 0x48, 0x17, 0x16, 0x15, 0x9F, 0x02,
    0xCC, 0x54, 0x7C, 0x83, 0x00, 0x0D, 0x0C, 0x0B, 0xA2, 0x62, 0xA8, 0x76, 0xDB, 0xD9, 0xED, 0xC7,
    0xC5, 0xA4, 0xDC, 0xAC, 0x85, 0x74, 0xD6, 0xD0, 0xA7, 0x9B, 0xAE, 0x9A, 0x96, 0x71, 0x66, 0xC3,
    0x63, 0x99, 0xB8, 0xDD, 0x73, 0x92, 0x8E, 0x84, 0x7D, 0xA5, 0x5E, 0xD1, 0x5D, 0x93, 0xB1, 0x57,
    0x51, 0x50, 0x80, 0x89, 0x52, 0x94, 0x4F, 0x4E, 0x0A, 0x6B, 0xBC, 0x8D, 0x7F, 0x6E, 0x47, 0x46,
    0x41, 0x40, 0x44, 0x01, 0x11, 0xCB, 0x03, 0x3F, 0xF7, 0xF4, 0xE1, 0xA9, 0x8F, 0x3C, 0x3A, 0xF9,
    0xFB, 0xF0, 0x19, 0x30, 0x82, 0x09, 0x2E, 0xC9, 0x9D, 0xA0, 0x86, 0x49, 0xEE, 0x6F, 0x4D, 0x6D,
    0xC4, 0x2D, 0x81, 0x34, 0x25, 0x87, 0x1B, 0x88, 0xAA, 0xFC, 0x06, 0xA1, 0x12, 0x38, 0xFD, 0x4C,
    0x42, 0x72, 0x64, 0x13, 0x37, 0x24, 0x6A, 0x75, 0x77, 0x43, 0xFF, 0xE6, 0xB4, 0x4B, 0x36, 0x5C,
    0xE4, 0xD8, 0x35, 0x3D, 0x45, 0xB9, 0x2C, 0xEC, 0xB7, 0x31, 0x2B, 0x29, 0x07, 0x68, 0xA3, 0x0E,
    0x69, 0x7B, 0x18, 0x9E, 0x21, 0x39, 0xBE, 0x28, 0x1A, 0x5B, 0x78, 0xF5, 0x23, 0xCA, 0x2A, 0xB0,
    0xAF, 0x3E, 0xFE, 0x04, 0x8C, 0xE7, 0xE5, 0x98, 0x32, 0x95, 0xD3, 0xF6, 0x4A, 0xE8, 0xA6, 0xEA,
    0xE9, 0xF3, 0xD5, 0x2F, 0x70, 0x20, 0xF2, 0x1F, 0x05, 0x67, 0xAD, 0x55, 0x10, 0xCE, 0xCD, 0xE3,
    0x27, 0x3B, 0xDA, 0xBA, 0xD7, 0xC2, 0x26, 0xD4, 0x91, 0x1D, 0xD2, 0x1C, 0x22, 0x33, 0xF8, 0xFA,
    0xF1, 0x5A, 0xEF, 0xCF, 0x90, 0xB6, 0x8B, 0xB5, 0xBD, 0xC0, 0xBF, 0x08, 0x97, 0x1E, 0x6C, 0xE2,
    0x61, 0xE0, 0xC6, 0xC1, 0x59, 0xAB, 0xBB, 0x58, 0xDE, 0x5F, 0xDF, 0x60, 0x79, 0x7E, 0xB2, 0x8A,
};
constexpr std::array<std::uint8_t, 256> invert(const std::array<std::uint8_t, 256>& t) {
    std::array<std::uint8_t, 256> inverse{};
    for (std::size_t i = 0; i < 256; ++i)
        inverse[t[i]] = static_cast<std::uint8_t>(i);
    return inverse;
}
constexpr auto kCryptI = invert(kCryptR);

#ifdef PARVELLE_BYTE_PERMUTE
// 64 bytes per step with the byte-permute instructions: the 256-entry table is two 128-byte
// halves, each looked up by one two-register permute (index bits 0-6), and the index's top bit
// picks the half. Every attachment byte of a PST passes through here.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
substituteWide(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 256>& table) {
    const __m512i t0 = _mm512_loadu_si512(table.data());
    const __m512i t1 = _mm512_loadu_si512(table.data() + 64);
    const __m512i t2 = _mm512_loadu_si512(table.data() + 128);
    const __m512i t3 = _mm512_loadu_si512(table.data() + 192);
    std::size_t i = 0;
    for (; i + 64 <= bytes.size(); i += 64) {
        const __m512i x = _mm512_loadu_si512(bytes.data() + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_storeu_si512(bytes.data() + i,
                            _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
    }
    for (; i < bytes.size(); ++i)
        bytes[i] = table[bytes[i]];
}
#endif

void substitute(std::span<std::uint8_t> bytes, const std::array<std::uint8_t, 256>& table) {
#ifdef PARVELLE_BYTE_PERMUTE
    static const bool wide =
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
    if (wide && bytes.size() >= 64) {
        substituteWide(bytes, table);
        return;
    }
#endif
    for (auto& b : bytes)
        b = table[b];
}

} // namespace

std::uint32_t computeCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    // The gzip CRC-32 (zlib's, ISA-L's) is the same reflected CRC with the register inverted on
    // entry and exit, so inverting around it gives the plain form. Both are many times faster
    // than a byte-wise table, which matters because every block and page written is checksummed.
    if (bytes.empty())
        return crc; // zlib treats a null buffer as a request for its initial value
#ifdef PARVELLE_HAVE_ISAL
    return ~crc32_gzip_refl(~crc, bytes.data(), bytes.size());
#else
    return ~static_cast<std::uint32_t>(crc32_z(~crc & 0xFFFFFFFFul, bytes.data(), bytes.size()));
#endif
}

void permuteEncode(std::span<std::uint8_t> bytes) {
    substitute(bytes, kCryptR);
}

void permuteDecode(std::span<std::uint8_t> bytes) {
    substitute(bytes, kCryptI);
}

void cyclicCrypt(std::span<std::uint8_t> bytes, std::uint32_t key) {
    auto w = static_cast<std::uint16_t>(key ^ (key >> 16));
    for (auto& byte : bytes) {
        const auto lo = static_cast<std::uint8_t>(w);
        const auto hi = static_cast<std::uint8_t>(w >> 8);
        std::uint8_t b = byte;
        b = kCryptR[static_cast<std::uint8_t>(b + lo)];
        b = kCryptS[static_cast<std::uint8_t>(b + hi)];
        b = kCryptI[static_cast<std::uint8_t>(b - hi)];
        byte = static_cast<std::uint8_t>(b - lo);
        ++w;
    }
}

void decodeBlock(CryptMethod method, std::span<std::uint8_t> bytes, std::uint64_t bid) {
    if (method == CryptMethod::Permute)
        permuteDecode(bytes);
    else if (method == CryptMethod::Cyclic)
        cyclicCrypt(bytes, static_cast<std::uint32_t>(bid));
}

void encodeBlock(CryptMethod method, std::span<std::uint8_t> bytes, std::uint64_t bid) {
    if (method == CryptMethod::Permute)
        permuteEncode(bytes);
    else if (method == CryptMethod::Cyclic)
        cyclicCrypt(bytes, static_cast<std::uint32_t>(bid));
}

std::optional<Format> formatFromVersion(std::uint16_t wVer) {
    if (wVer == kVerAnsiMin || wVer == kVerAnsi)
        return Format::Ansi;
    if (wVer >= kVerUnicodeMin && wVer <= kVerUnicode)
        return Format::Unicode;
    return std::nullopt;
}

std::uint32_t headerCrcPartial(std::span<const std::uint8_t> header) {
    return computeCrc(header.subspan(kHeaderCrcStart, kHeaderCrcPartialLength));
}

std::uint32_t headerCrcFull(std::span<const std::uint8_t> header) {
    return computeCrc(header.subspan(kHeaderCrcStart, kHeaderCrcFullLength));
}

HeaderParse parseHeader(std::span<const std::uint8_t> bytes) {
    HeaderParse result;
    if (bytes.size() < kAnsiHeader.size) {
        result.error = HeaderError::TooShort;
        return result;
    }
    const std::uint8_t* p = bytes.data();
    if (loadLe32(p) != kHeaderMagic) {
        result.error = HeaderError::BadMagic;
        return result;
    }
    const std::uint16_t clientMagic = loadLe16(p + 8);
    if (clientMagic != kClientMagicPst && clientMagic != kClientMagicOst) {
        result.error = HeaderError::BadClientMagic;
        return result;
    }
    const std::uint16_t wVer = loadLe16(p + 10);
    const auto format = formatFromVersion(wVer);
    if (!format) {
        result.error = HeaderError::UnknownVersion;
        return result;
    }
    const HeaderLayout& L = headerLayout(*format);
    if (bytes.size() < L.size) {
        result.error = HeaderError::TooShort;
        return result;
    }
    const std::uint8_t crypt = p[L.bCryptMethod];
    if (crypt > static_cast<std::uint8_t>(CryptMethod::Cyclic)) {
        result.error = HeaderError::BadCryptMethod;
        return result;
    }
    Header h;
    h.format = *format;
    h.wVer = wVer;
    h.wVerClient = loadLe16(p + L.wVerClient);
    h.wMagicClient = clientMagic;
    h.crypt = static_cast<CryptMethod>(crypt);
    h.dwCRCPartial = loadLe32(p + L.dwCRCPartial);
    if (L.dwCRCFull != HeaderLayout::kNoField)
        h.dwCRCFull = loadLe32(p + L.dwCRCFull);
    h.bidNextP = loadId(h.format, p + L.bidNextP);
    h.bidNextB = loadId(h.format, p + L.bidNextB);
    h.dwUnique = loadLe32(p + L.dwUnique);
    for (std::size_t i = 0; i < kNidCounterCount; ++i)
        h.rgnid[i] = loadLe32(p + L.rgnid + 4 * i);
    h.ibFileEof = loadId(h.format, p + L.ibFileEof);
    h.ibAMapLast = loadId(h.format, p + L.ibAMapLast);
    h.cbAMapFree = loadId(h.format, p + L.cbAMapFree);
    h.cbPMapFree = loadId(h.format, p + L.cbPMapFree);
    h.nbt = {loadId(h.format, p + L.brefNbtBid), loadId(h.format, p + L.brefNbtIb)};
    h.bbt = {loadId(h.format, p + L.brefBbtBid), loadId(h.format, p + L.brefBbtIb)};
    h.fAMapValid = p[L.fAMapValid];
    std::copy_n(p + L.rgbFM, kHeaderFreeMapBytes, h.rgbFM.begin());
    std::copy_n(p + L.rgbFP, kHeaderFreeMapBytes, h.rgbFP.begin());
    result.header = h;
    return result;
}

void writeHeader(Header& h, std::span<std::uint8_t> out) {
    const HeaderLayout& L = headerLayout(h.format);
    std::uint8_t* p = out.data();
    storeLe32(p + L.dwMagic, kHeaderMagic);
    storeLe16(p + L.wMagicClient, h.wMagicClient);
    storeLe16(p + L.wVer, h.wVer);
    storeLe16(p + L.wVerClient, h.wVerClient);
    p[L.bPlatformCreate] = kPlatform;
    p[L.bPlatformAccess] = kPlatform;
    storeId(h.format, p + L.bidNextP, h.bidNextP);
    storeId(h.format, p + L.bidNextB, h.bidNextB);
    storeLe32(p + L.dwUnique, h.dwUnique);
    for (std::size_t i = 0; i < kNidCounterCount; ++i)
        storeLe32(p + L.rgnid + 4 * i, h.rgnid[i]);
    storeId(h.format, p + L.ibFileEof, h.ibFileEof);
    storeId(h.format, p + L.ibAMapLast, h.ibAMapLast);
    storeId(h.format, p + L.cbAMapFree, h.cbAMapFree);
    storeId(h.format, p + L.cbPMapFree, h.cbPMapFree);
    storeId(h.format, p + L.brefNbtBid, h.nbt.bid);
    storeId(h.format, p + L.brefNbtIb, h.nbt.ib);
    storeId(h.format, p + L.brefBbtBid, h.bbt.bid);
    storeId(h.format, p + L.brefBbtIb, h.bbt.ib);
    p[L.fAMapValid] = h.fAMapValid;
    std::copy(h.rgbFM.begin(), h.rgbFM.end(), p + L.rgbFM);
    std::copy(h.rgbFP.begin(), h.rgbFP.end(), p + L.rgbFP);
    p[L.bSentinel] = kSentinel;
    p[L.bCryptMethod] = static_cast<std::uint8_t>(h.crypt);
    if (h.format == Format::Unicode) {
        h.dwCRCFull = headerCrcFull(out);
        storeLe32(p + L.dwCRCFull, h.dwCRCFull);
    }
    h.dwCRCPartial = headerCrcPartial(out);
    storeLe32(p + L.dwCRCPartial, h.dwCRCPartial);
}

PageTrailer readPageTrailer(Format f, std::span<const std::uint8_t> page) {
    const PageTrailerLayout& L = pageTrailerLayout(f);
    const std::uint8_t* t = page.data() + kPageSize - L.size;
    PageTrailer trailer;
    trailer.ptype = static_cast<PageType>(t[L.ptype]);
    trailer.ptypeRepeat = t[L.ptypeRepeat];
    trailer.wSig = loadLe16(t + L.wSig);
    trailer.dwCRC = loadLe32(t + L.dwCRC);
    trailer.bid = loadId(f, t + L.bid);
    return trailer;
}

void writePageTrailer(Format f, std::span<std::uint8_t> page, PageType type, std::uint64_t bid,
                      std::uint64_t ib) {
    const PageTrailerLayout& L = pageTrailerLayout(f);
    std::uint8_t* t = page.data() + kPageSize - L.size;
    t[L.ptype] = static_cast<std::uint8_t>(type);
    t[L.ptypeRepeat] = static_cast<std::uint8_t>(type);
    storeLe16(t + L.wSig, pageHasSignature(type) ? computeSignature(ib, bid) : 0);
    storeLe32(t + L.dwCRC, computeCrc(page.first(pageDataSize(f))));
    storeId(f, t + L.bid, bid);
}

MapPages mapPagesOfInterval(std::uint64_t n) {
    MapPages pages;
    std::uint64_t ib = amapOffset(n);
    auto add = [&](PageType type) {
        pages.pages[pages.count++] = {type, ib};
        ib += kPageSize;
    };
    add(PageType::AMap);
    if (amapHasPMap(n))
        add(PageType::PMap);
    if (amapHasFMap(n))
        add(PageType::FMap);
    if (amapHasFPMap(n))
        add(PageType::FPMap);
    return pages;
}

BlockTrailer readBlockTrailer(Format f, std::span<const std::uint8_t> trailer) {
    const BlockTrailerLayout& L = blockTrailerLayout(f);
    const std::uint8_t* t = trailer.data();
    BlockTrailer result;
    result.cb = loadLe16(t + L.cb);
    result.wSig = loadLe16(t + L.wSig);
    result.dwCRC = loadLe32(t + L.dwCRC);
    result.bid = loadId(f, t + L.bid);
    return result;
}

void writeBlockTrailer(Format f, std::span<std::uint8_t> block, std::size_t dataSize,
                       std::uint64_t bid, std::uint64_t ib) {
    const BlockTrailerLayout& L = blockTrailerLayout(f);
    std::uint8_t* t = block.data() + blockTotalSize(f, dataSize) - L.size;
    storeLe16(t + L.cb, static_cast<std::uint16_t>(dataSize));
    storeLe16(t + L.wSig, computeSignature(ib, bid));
    storeLe32(t + L.dwCRC, computeCrc(block.first(dataSize)));
    storeId(f, t + L.bid, bid);
}

void sealBlock(Format f, CryptMethod method, std::span<std::uint8_t> block, std::size_t dataSize,
               std::uint64_t bid, std::uint64_t ib) {
    encodeBlock(method, block.first(dataSize), bid);
    writeBlockTrailer(f, block, dataSize, bid, ib);
}

} // namespace parvelle::pst
