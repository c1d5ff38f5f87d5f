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
#include <unordered_map>

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

struct ZipCentralEntry {
    std::int64_t size = 0;
    std::int64_t packedSize = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
};

// Reads the central directory (ZIP64 records included) into header offset -> entry. Returns an
// empty map when there is none or it is damaged.
std::unordered_map<std::int64_t, ZipCentralEntry>
readCentralDirectory(std::span<const std::uint8_t> archive);

struct ZipWalkCallbacks {
    // Called for every member in archive order.
    std::function<void(const ZipMember&)> member;
    // Polled between members; true ends the walk.
    std::function<bool()> stop;
    // Told how far the walk has come (byte position).
    std::function<void(std::int64_t)> progress;
};

void walkZip(std::span<const std::uint8_t> archive, const ZipWalkCallbacks& callbacks);

// Inflates raw deflate data, producing at most expectedSize bytes. Returns false on corrupt data
// or when the output would not be exactly expectedSize bytes.
bool inflateRaw(std::span<const std::uint8_t> packed, std::int64_t expectedSize, std::string& out);

} // namespace parvelle::mailbox
