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

// Whether [pos, pos + n) lies inside `total` bytes.
bool fits(std::uint64_t total, std::uint64_t pos, std::uint64_t n) {
    return pos <= total && n <= total - pos;
}

bool plausibleVersion(std::uint8_t version) {
    // Outlook writes 45 (ZIP64); archives re-packed by other tools carry 10 or 20.
    return version == 45 || version == 20 || version == 10;
}

} // namespace

void ZipCentralDirectory::add(std::int64_t headerOffset, const ZipCentralEntry& entry) {
    entries_.emplace_back(headerOffset, entry);
}

void ZipCentralDirectory::seal() {
    const auto byOffset = [](const auto& a, const auto& b) { return a.first < b.first; };
    // Writers list members in archive order, so sorting is rarely needed.
    if (!std::is_sorted(entries_.begin(), entries_.end(), byOffset))
        std::stable_sort(entries_.begin(), entries_.end(), byOffset);
    const auto sameOffset = [](const auto& a, const auto& b) { return a.first == b.first; };
    entries_.erase(std::unique(entries_.begin(), entries_.end(), sameOffset), entries_.end());
    entries_.shrink_to_fit();
}

const ZipCentralEntry* ZipCentralDirectory::find(std::int64_t headerOffset) const {
    const auto it = std::lower_bound(
        entries_.begin(), entries_.end(), headerOffset,
        [](const auto& entry, std::int64_t offset) { return entry.first < offset; });
    return it != entries_.end() && it->first == headerOffset ? &it->second : nullptr;
}

ZipCentralDirectory readCentralDirectory(std::span<const std::uint8_t> archive) {
    SpanByteSource source(archive);
    return readCentralDirectory(source);
}

ZipCentralDirectory readCentralDirectory(ZipByteSource& archive) {
    ZipCentralDirectory entries;
    const std::uint64_t total = archive.size();
    if (total < 22)
        return entries;
    // The end record sits in the last 64 KiB + 22 bytes.
    const std::uint64_t lowest = total > 65557 ? total - 65557 : 0;
    const std::uint8_t* tailBytes = archive.view(lowest, static_cast<std::size_t>(total - lowest));
    if (tailBytes == nullptr)
        return entries;
    const Reader tail({tailBytes, static_cast<std::size_t>(total - lowest)});
    std::uint64_t eocd = UINT64_MAX;
    for (std::uint64_t p = total - 22 + 1; p-- > lowest;) {
        if (tail.u32(p - lowest) == kEndSignature) {
            eocd = p;
            break;
        }
    }
    if (eocd == UINT64_MAX)
        return entries;
    std::uint64_t count = tail.u16(eocd - lowest + 10);
    std::uint64_t cdSize = tail.u32(eocd - lowest + 12);
    std::uint64_t cdOffset = tail.u32(eocd - lowest + 16);
    if (eocd >= 20) {
        const std::uint8_t* locatorBytes = archive.view(eocd - 20, 20);
        if (locatorBytes != nullptr &&
            Reader({locatorBytes, 20}).u32(0) == kZip64LocatorSignature) {
            const std::uint64_t z64 = Reader({locatorBytes, 20}).u64(8);
            const std::uint8_t* recordBytes =
                fits(total, z64, 56) ? archive.view(z64, 56) : nullptr;
            if (recordBytes != nullptr) {
                const Reader record({recordBytes, 56});
                if (record.u32(0) == kZip64EndSignature) {
                    count = record.u64(32);
                    cdSize = record.u64(40);
                    cdOffset = record.u64(48);
                }
            }
        }
    }
    if (!fits(total, cdOffset, cdSize))
        return entries;
    std::uint64_t p = cdOffset;
    const std::uint64_t end = cdOffset + cdSize;
    entries.reserve(static_cast<std::size_t>(std::min(count, cdSize / 46)));
    for (std::uint64_t i = 0; i < count && p + 46 <= end; ++i) {
        const std::uint8_t* headerBytes = archive.view(p, 46);
        if (headerBytes == nullptr)
            break;
        const Reader h({headerBytes, 46});
        if (h.u32(0) != kCentralSignature)
            break;
        const std::uint16_t method = h.u16(10);
        const std::uint32_t crc = h.u32(16);
        const std::uint32_t packed32 = h.u32(20);
        const std::uint32_t size32 = h.u32(24);
        const std::uint16_t nameLen = h.u16(28);
        const std::uint16_t extraLen = h.u16(30);
        const std::uint16_t commentLen = h.u16(32);
        const std::uint32_t offset32 = h.u32(42);
        const std::uint64_t next = p + 46 + nameLen + extraLen + commentLen;
        if (next > end)
            break;
        Zip64Values v{size32, packed32, offset32};
        if (extraLen > 0) {
            const std::uint8_t* extraBytes = archive.view(p + 46 + nameLen, extraLen);
            if (extraBytes == nullptr)
                break;
            applyZip64(Reader({extraBytes, extraLen}), 0, extraLen, v, size32 == kMax32,
                       packed32 == kMax32, offset32 == kMax32);
        }
        if (v.headerOffset < total && v.size <= INT64_MAX && v.packedSize <= INT64_MAX)
            entries.add(static_cast<std::int64_t>(v.headerOffset),
                        ZipCentralEntry{static_cast<std::int64_t>(v.size),
                                        static_cast<std::int64_t>(v.packedSize), method, crc});
        p = next;
    }
    entries.seal();
    return entries;
}

void walkZip(std::span<const std::uint8_t> archive, const ZipWalkCallbacks& cb) {
    SpanByteSource source(archive);
    walkZip(source, cb);
}

namespace {

// Position of the next local-header signature at or after `from`, or `total` when there is none.
// Searched a piece at a time, each piece overlapping the last by three bytes so that a signature
// across two pieces is found.
std::uint64_t nextSignature(ZipByteSource& archive, std::uint64_t from) {
    static constexpr std::uint8_t kSig[] = {'P', 'K', 3, 4};
    constexpr std::uint64_t kPiece = 1u << 16;
    const std::uint64_t total = archive.size();
    while (from + sizeof kSig <= total) {
        const auto n = static_cast<std::size_t>(std::min(kPiece, total - from));
        const std::uint8_t* piece = archive.view(from, n);
        if (piece == nullptr)
            return total;
        const std::uint8_t* found = std::search(piece, piece + n, std::begin(kSig), std::end(kSig));
        if (found != piece + n)
            return from + static_cast<std::uint64_t>(found - piece);
        from += n - (sizeof kSig - 1);
    }
    return total;
}

} // namespace

void walkZip(ZipByteSource& archive, const ZipWalkCallbacks& cb) {
    const auto central = readCentralDirectory(archive);
    const std::uint64_t total = archive.size();
    std::uint64_t pos = 0;

    while (pos + kLocalHeaderSize <= total) {
        if (cb.stop && cb.stop())
            return;
        const std::uint8_t* headerBytes = archive.view(pos, kLocalHeaderSize);
        if (headerBytes == nullptr)
            return;
        const Reader h({headerBytes, kLocalHeaderSize});
        if (h.u32(0) != kLocalSignature || !plausibleVersion(headerBytes[4])) {
            pos = nextSignature(archive, pos + 1);
            continue;
        }
        const std::uint16_t flags = h.u16(6);
        const std::uint16_t method = h.u16(8);
        const std::uint32_t crc = h.u32(14);
        const std::uint32_t packed32 = h.u32(18);
        const std::uint32_t size32 = h.u32(22);
        const std::uint16_t nameLen = h.u16(26);
        const std::uint16_t extraLen = h.u16(28);
        const std::uint64_t dataOffset = pos + kLocalHeaderSize + nameLen + extraLen;
        if (dataOffset > total) {
            pos = nextSignature(archive, pos + 1);
            continue;
        }
        const std::size_t nameAndExtra = std::size_t{nameLen} + extraLen;
        const std::uint8_t* nameBytes =
            nameAndExtra == 0 ? headerBytes : archive.view(pos + kLocalHeaderSize, nameAndExtra);
        if (nameBytes == nullptr)
            return;
        ZipMember m;
        m.headerOffset = static_cast<std::int64_t>(pos);
        m.dataOffset = static_cast<std::int64_t>(dataOffset);
        m.name =
            text::sanitizeUtf8(std::string_view(reinterpret_cast<const char*>(nameBytes), nameLen));
        m.isDirectory = !m.name.empty() && m.name.back() == '/';

        Zip64Values v{size32, packed32, 0};
        applyZip64(Reader({nameBytes, nameAndExtra}), nameLen, extraLen, v, size32 == kMax32,
                   packed32 == kMax32, false);
        m.method = method;
        m.crc = crc;
        bool sizesKnown = !(flags & 0x0008) || v.packedSize != 0;
        if (const ZipCentralEntry* entry = central.find(m.headerOffset)) {
            v.size = static_cast<std::uint64_t>(entry->size);
            v.packedSize = static_cast<std::uint64_t>(entry->packedSize);
            m.method = entry->method;
            m.crc = entry->crc;
            sizesKnown = true;
        }
        if (!sizesKnown || v.packedSize > total - dataOffset || v.size > INT64_MAX) {
            // A member whose data runs past the end (a truncated archive) or whose size cannot
            // be known is not usable; look for the next header inside it.
            pos = nextSignature(archive, pos + 1);
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
