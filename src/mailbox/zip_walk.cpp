#include "mailbox/zip_walk.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::size_t kLocalHeaderSize = 30;

// Bounds-checked little-endian reads from a span.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool has(std::uint64_t pos, std::uint64_t n) const {
        return pos <= bytes_.size() && n <= bytes_.size() - pos;
    }
    std::uint16_t u16(std::uint64_t pos) const {
        return static_cast<std::uint16_t>(bytes_[pos] | (bytes_[pos + 1] << 8));
    }
    std::uint32_t u32(std::uint64_t pos) const {
        return static_cast<std::uint32_t>(u16(pos)) |
               (static_cast<std::uint32_t>(u16(pos + 2)) << 16);
    }
    std::uint64_t u64(std::uint64_t pos) const {
        return static_cast<std::uint64_t>(u32(pos)) |
               (static_cast<std::uint64_t>(u32(pos + 4)) << 32);
    }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
};

// The ZIP64 extended-information extra field holds, in this order, the uncompressed size, the
// compressed size and the header offset, each only when its 32-bit field is saturated.
struct Zip64Values {
    std::uint64_t size, packedSize, headerOffset;
};

void applyZip64(const Reader& r, std::uint64_t extra, std::uint16_t extraLen, Zip64Values& v,
                bool sizeSaturated, bool packedSaturated, bool offsetSaturated) {
    std::uint64_t p = extra;
    const std::uint64_t end = extra + extraLen;
    while (p + 4 <= end && r.has(p, 4)) {
        const std::uint16_t id = r.u16(p);
        const std::uint16_t len = r.u16(p + 2);
        const std::uint64_t data = p + 4;
        if (data + len > end || !r.has(data, len))
            return;
        if (id == 0x0001) {
            std::uint64_t q = data;
            auto take = [&](bool saturated, std::uint64_t& field) {
                if (saturated && q + 8 <= data + len) {
                    field = r.u64(q);
                    q += 8;
                }
            };
            take(sizeSaturated, v.size);
            take(packedSaturated, v.packedSize);
            take(offsetSaturated, v.headerOffset);
            return;
        }
        p = data + len;
    }
}

bool plausibleVersion(std::uint8_t version) {
    // Outlook writes 45 (ZIP64); archives re-packed by other tools carry 10 or 20.
    return version == 45 || version == 20 || version == 10;
}

} // namespace

std::unordered_map<std::int64_t, ZipCentralEntry>
readCentralDirectory(std::span<const std::uint8_t> archive) {
    std::unordered_map<std::int64_t, ZipCentralEntry> entries;
    const Reader r(archive);
    if (archive.size() < 22)
        return entries;
    // The end record sits in the last 64 KiB + 22 bytes.
    const std::uint64_t lowest = archive.size() > 65557 ? archive.size() - 65557 : 0;
    std::uint64_t eocd = UINT64_MAX;
    for (std::uint64_t p = archive.size() - 22 + 1; p-- > lowest;) {
        if (r.u32(p) == kEndSignature) {
            eocd = p;
            break;
        }
    }
    if (eocd == UINT64_MAX)
        return entries;
    std::uint64_t count = r.u16(eocd + 10);
    std::uint64_t cdSize = r.u32(eocd + 12);
    std::uint64_t cdOffset = r.u32(eocd + 16);
    if (eocd >= 20 && r.u32(eocd - 20) == kZip64LocatorSignature) {
        const std::uint64_t z64 = r.u64(eocd - 20 + 8);
        if (r.has(z64, 56) && r.u32(z64) == kZip64EndSignature) {
            count = r.u64(z64 + 32);
            cdSize = r.u64(z64 + 40);
            cdOffset = r.u64(z64 + 48);
        }
    }
    if (!r.has(cdOffset, cdSize))
        return entries;
    std::uint64_t p = cdOffset;
    const std::uint64_t end = cdOffset + cdSize;
    for (std::uint64_t i = 0; i < count && p + 46 <= end; ++i) {
        if (r.u32(p) != kCentralSignature)
            break;
        const std::uint16_t method = r.u16(p + 10);
        const std::uint32_t crc = r.u32(p + 16);
        const std::uint32_t packed32 = r.u32(p + 20);
        const std::uint32_t size32 = r.u32(p + 24);
        const std::uint16_t nameLen = r.u16(p + 28);
        const std::uint16_t extraLen = r.u16(p + 30);
        const std::uint16_t commentLen = r.u16(p + 32);
        const std::uint32_t offset32 = r.u32(p + 42);
        const std::uint64_t next = p + 46 + nameLen + extraLen + commentLen;
        if (next > end)
            break;
        Zip64Values v{size32, packed32, offset32};
        applyZip64(r, p + 46 + nameLen, extraLen, v, size32 == kMax32, packed32 == kMax32,
                   offset32 == kMax32);
        if (v.headerOffset < archive.size() && v.size <= INT64_MAX && v.packedSize <= INT64_MAX)
            entries.emplace(static_cast<std::int64_t>(v.headerOffset),
                            ZipCentralEntry{static_cast<std::int64_t>(v.size),
                                            static_cast<std::int64_t>(v.packedSize), method, crc});
        p = next;
    }
    return entries;
}

void walkZip(std::span<const std::uint8_t> archive, const ZipWalkCallbacks& cb) {
    const Reader r(archive);
    const auto central = readCentralDirectory(archive);
    const std::uint64_t total = archive.size();
    std::uint64_t pos = 0;
    static constexpr std::uint8_t kSig[] = {'P', 'K', 3, 4};

    auto resync = [&](std::uint64_t from) -> std::uint64_t {
        if (from >= total)
            return total;
        const auto* begin = archive.data() + from;
        const auto* found =
            std::search(begin, archive.data() + total, std::begin(kSig), std::end(kSig));
        return static_cast<std::uint64_t>(found - archive.data());
    };

    while (pos + kLocalHeaderSize <= total) {
        if (cb.stop && cb.stop())
            return;
        if (r.u32(pos) != kLocalSignature || !plausibleVersion(archive[pos + 4])) {
            pos = resync(pos + 1);
            continue;
        }
        const std::uint16_t flags = r.u16(pos + 6);
        const std::uint16_t method = r.u16(pos + 8);
        const std::uint32_t crc = r.u32(pos + 14);
        const std::uint32_t packed32 = r.u32(pos + 18);
        const std::uint32_t size32 = r.u32(pos + 22);
        const std::uint16_t nameLen = r.u16(pos + 26);
        const std::uint16_t extraLen = r.u16(pos + 28);
        const std::uint64_t dataOffset = pos + kLocalHeaderSize + nameLen + extraLen;
        if (dataOffset > total) {
            pos = resync(pos + 1);
            continue;
        }
        ZipMember m;
        m.headerOffset = static_cast<std::int64_t>(pos);
        m.dataOffset = static_cast<std::int64_t>(dataOffset);
        m.name = text::sanitizeUtf8(std::string_view(
            reinterpret_cast<const char*>(archive.data() + pos + kLocalHeaderSize), nameLen));
        m.isDirectory = !m.name.empty() && m.name.back() == '/';

        Zip64Values v{size32, packed32, 0};
        applyZip64(r, pos + kLocalHeaderSize + nameLen, extraLen, v, size32 == kMax32,
                   packed32 == kMax32, false);
        m.method = method;
        m.crc = crc;
        bool sizesKnown = !(flags & 0x0008) || v.packedSize != 0;
        if (auto it = central.find(m.headerOffset); it != central.end()) {
            v.size = static_cast<std::uint64_t>(it->second.size);
            v.packedSize = static_cast<std::uint64_t>(it->second.packedSize);
            m.method = it->second.method;
            m.crc = it->second.crc;
            sizesKnown = true;
        }
        if (!sizesKnown || v.packedSize > total - dataOffset || v.size > INT64_MAX) {
            // A member whose data runs past the end (a truncated archive) or whose size cannot
            // be known is not usable; look for the next header inside it.
            pos = resync(pos + 1);
            continue;
        }
        if (m.method == 0)
            v.size = v.packedSize;
        m.size = static_cast<std::int64_t>(v.size);
        m.packedSize = static_cast<std::int64_t>(v.packedSize);
        if (cb.member)
            cb.member(m);
        pos = dataOffset + v.packedSize;
        if (cb.progress)
            cb.progress(static_cast<std::int64_t>(pos));
    }
}

bool inflateRaw(std::span<const std::uint8_t> packed, std::int64_t expectedSize, std::string& out) {
    out.clear();
    if (expectedSize < 0)
        return false;
    out.resize(static_cast<std::size_t>(expectedSize));
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return false;
    // zlib counts in 32-bit units, so large members are fed and drained in chunks. Once the
    // expected bytes are out, a one-byte sink catches a stream that has more to give.
    constexpr std::size_t kChunk = 1u << 30;
    std::size_t inPos = 0, outPos = 0;
    std::uint8_t sink = 0;
    bool sinkGiven = false;
    int rc = Z_OK;
    for (;;) {
        if (zs.avail_in == 0 && inPos < packed.size()) {
            const std::size_t n = std::min(kChunk, packed.size() - inPos);
            zs.next_in = const_cast<Bytef*>(packed.data() + inPos);
            zs.avail_in = static_cast<uInt>(n);
            inPos += n;
        }
        if (zs.avail_out == 0) {
            if (outPos < out.size()) {
                const std::size_t n = std::min(kChunk, out.size() - outPos);
                zs.next_out = reinterpret_cast<Bytef*>(out.data() + outPos);
                zs.avail_out = static_cast<uInt>(n);
                outPos += n;
            } else if (!sinkGiven) {
                zs.next_out = &sink;
                zs.avail_out = 1;
                sinkGiven = true;
            } else {
                break;
            }
        }
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK)
            break;
    }
    const bool ok = rc == Z_STREAM_END && zs.total_out == static_cast<uLong>(expectedSize);
    inflateEnd(&zs);
    if (!ok)
        out.clear();
    return ok;
}

} // namespace parvelle::mailbox
