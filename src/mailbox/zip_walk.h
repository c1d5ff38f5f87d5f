#pragma once
// The archive's ZIP container, walked member by member through its local headers. The walk never
// trusts a length field: every record is bounds-checked against the bytes it was given. When the
// central directory is readable it confirms each member's sizes and method (members written with
// data descriptors have no sizes in their local header); without it the local headers alone are
// used, so a truncated archive still yields every complete member before the damage. Bytes that do
// not form a header are skipped up to the next local-header signature.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace parvelle::mailbox {

struct ZipMember {
    std::string name; // UTF-8 (invalid sequences replaced)
    std::int64_t headerOffset = 0;
    std::int64_t dataOffset = 0;
    std::int64_t size = 0;       // uncompressed bytes
    std::int64_t packedSize = 0; // bytes in the archive
    std::uint16_t method = 0;    // 0 stored, 8 deflated
    std::uint32_t crc = 0;
    bool isDirectory = false; // the name ends in "/"
};

// Where the walk takes its bytes from: an archive held in memory (or mapped), or a file read a
// window at a time.
class ZipByteSource {
public:
    virtual ~ZipByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // The bytes [pos, pos + n), with pos + n <= size(); valid until the next call. Null when they
    // cannot be read.
    virtual const std::uint8_t* view(std::uint64_t pos, std::size_t n) = 0;
};

class SpanByteSource final : public ZipByteSource {
public:
    explicit SpanByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    const std::uint8_t* view(std::uint64_t pos, std::size_t) override {
        return bytes_.data() + pos;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

struct ZipCentralEntry {
    std::int64_t size = 0;
    std::int64_t packedSize = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
};

// The central directory's entries by local-header offset; for an offset named twice the first
// entry counts.
class ZipCentralDirectory {
public:
    void reserve(std::size_t entries) { entries_.reserve(entries); }
    void add(std::int64_t headerOffset, const ZipCentralEntry& entry);
    // Orders the entries for find(); called once after the last add().
    void seal();
    const ZipCentralEntry* find(std::int64_t headerOffset) const;
    std::size_t size() const { return entries_.size(); }

private:
    std::vector<std::pair<std::int64_t, ZipCentralEntry>> entries_;
};

// Reads the central directory (ZIP64 records included). Empty when there is none or it is
// damaged.
ZipCentralDirectory readCentralDirectory(std::span<const std::uint8_t> archive);
ZipCentralDirectory readCentralDirectory(ZipByteSource& archive);

struct ZipWalkCallbacks {
    // Called for every member in archive order.
    std::function<void(const ZipMember&)> member;
    // Polled between members; true ends the walk.
    std::function<bool()> stop;
    // Told how far the walk has come (byte position).
    std::function<void(std::int64_t)> progress;
};

void walkZip(std::span<const std::uint8_t> archive, const ZipWalkCallbacks& callbacks);
// The same walk over any byte source; the callbacks may read the source themselves.
void walkZip(ZipByteSource& archive, const ZipWalkCallbacks& callbacks);

// Inflates raw deflate data, producing at most expectedSize bytes. Returns false on corrupt data
// or when the output would not be exactly expectedSize bytes.
bool inflateRaw(std::span<const std::uint8_t> packed, std::int64_t expectedSize, std::string& out);

} // namespace parvelle::mailbox
