#include "store/mapi/distribution_list.h"

#include "store/mapi/little_endian.h"

namespace parvelle::mapi {
namespace {

constexpr std::uint16_t kStreamVersion = 1;
// The stream's build version is the business card definition's major version times 10,000
// plus its minor version; 3.0 is the lowest definition version there is.
constexpr std::uint32_t kBuildVersion = 3 * 10000 + 0;

void put32(Binary& out, std::size_t value) {
    appendLe32(out, static_cast<std::uint32_t>(value));
}

void putSized(Binary& out, const Binary& bytes) {
    put32(out, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
}

} // namespace

std::size_t memberListSize(const std::vector<Binary>& entryIds) {
    std::size_t size = 4;
    for (const Binary& id : entryIds)
        size += 4 + id.size();
    return size;
}

std::size_t membersBelowListLimit(const std::vector<Binary>& entryIds) {
    std::size_t size = 4;
    std::size_t count = 0;
    for (const Binary& id : entryIds) {
        size += 4 + id.size();
        if (size >= kMemberListLimit)
            break;
        ++count;
    }
    return count;
}

std::uint32_t distributionListChecksum(const std::vector<Binary>& members) {
    std::uint32_t crc = 0;
    for (const Binary& member : members) {
        for (const std::uint8_t byte : member) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return crc;
}

Binary distributionListStream(const std::vector<DistListMember>& members) {
    std::size_t entryIdBytes = 0;
    std::size_t oneOffBytes = 0;
    for (const DistListMember& m : members) {
        entryIdBytes += m.entryId.size();
        oneOffBytes += m.oneOffEntryId.size();
    }
    Binary out;
    out.reserve(36 + 12 * members.size() + entryIdBytes + oneOffBytes);
    appendLe16(out, kStreamVersion);
    appendLe16(out, 0); // reserved
    put32(out, kBuildVersion);
    // Flags: "always use stream" left clear, so an editor may go back to the list properties
    // once the list is short enough.
    put32(out, 0);
    put32(out, members.size());
    put32(out, entryIdBytes);
    put32(out, oneOffBytes);
    put32(out, 0); // total extra member information
    for (const DistListMember& m : members) {
        putSized(out, m.entryId);
        putSized(out, m.oneOffEntryId);
        put32(out, 0); // no extra member information
    }
    put32(out, 0);
    put32(out, 0);
    return out;
}

} // namespace parvelle::mapi
