#pragma once
// The named-property mapping storage of an MSG file: which property set and name or number each
// id from 0x8000 on stands for. One map serves the whole file, embedded messages included.
//
// GUID stream: the property sets other than PS_MAPI and PS_PUBLIC_STRINGS, 16 bytes each.
// Entry stream: per id, 8 bytes: the number or the string-stream offset of the name, then
// (property index << 16) | (GUID index << 1) | kind, where GUID index 1 is PS_MAPI, 2 is
// PS_PUBLIC_STRINGS and 3 + i the GUID stream's entry i, and kind is 1 for a string name.
// String stream: per string name, its length in bytes and the UTF-16LE name, padded to 4 bytes.
// Hash streams 0x1000 + n: the same entries bucketed by (number or name CRC) xor GUID-and-kind.
#include "store/mapi/name_id_map.h"
#include "store/msg/result.h"

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace parvelle::msg {

struct NameIdStreams {
    std::vector<std::uint8_t> guids;
    std::vector<std::uint8_t> entries;
    std::vector<std::uint8_t> strings;
    // Keyed by the stream's id (0x1000 to 0x101E); only non-empty buckets appear.
    std::map<std::uint16_t, std::vector<std::uint8_t>> buckets;
};

NameIdStreams encodeNameIdStreams(const mapi::NameIdMap& map);

// Rebuilds the names of ids 0x8000 on. Entries that point outside their streams are errors.
Result<std::map<std::uint16_t, mapi::NamedProperty>>
decodeNameIdStreams(std::span<const std::uint8_t> guids, std::span<const std::uint8_t> entries,
                    std::span<const std::uint8_t> strings);

// The CRC-32 used for string names in the hash streams (reflected 0xEDB88320, no pre- or
// post-inversion), over the name's UTF-16LE bytes.
std::uint32_t nameIdCrc32(std::span<const std::uint8_t> bytes);

} // namespace parvelle::msg
