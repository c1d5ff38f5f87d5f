#pragma once
// What a personal distribution list keeps about its members (MS-OXOCNTC): one entry id per
// member in PidLidDistributionListMembers and PidLidDistributionListOneOffMembers, the checksum
// that tells Outlook the member list is consistent, and PidLidDistributionListStream for lists
// too long for the two list properties.
#include "store/mapi/property.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace parvelle::mapi {

// PidLidDistributionListMembers and PidLidDistributionListOneOffMembers must each stay below
// this many bytes; a list that would reach it goes into PidLidDistributionListStream.
inline constexpr std::size_t kMemberListLimit = 15000;

// The bytes a member list takes as a multi-valued binary property: a 32-bit count, then a
// 32-bit length (in a PST, an offset) and the bytes of each entry id.
std::size_t memberListSize(const std::vector<Binary>& entryIds);

// How many leading entry ids keep the list below kMemberListLimit.
std::size_t membersBelowListLimit(const std::vector<Binary>& entryIds);

// PidLidDistributionListChecksum over the member entry ids, in order: the reflected CRC-32
// polynomial of ISO/IEC 8802-3, but started from zero and not inverted at the end, which is how
// Outlook computes it (a list Outlook wrote carries exactly this value).
std::uint32_t distributionListChecksum(const std::vector<Binary>& members);

// One member as PidLidDistributionListStream holds it: the entry id that
// PidLidDistributionListMembers would hold and the one-off entry id that
// PidLidDistributionListOneOffMembers would hold (empty when there is none).
struct DistListMember {
    Binary entryId;
    Binary oneOffEntryId;
};

// PidLidDistributionListStream: the DistListStreamInfo header (version 1, the build version of
// a version-3.0 business card definition, no flags, the member count and the sizes of all entry
// ids and of all one-off entry ids), one DistListMemberInfo per member in order (each size a
// 32-bit little-endian count before its bytes, no extra member information), then two zero
// terminators.
Binary distributionListStream(const std::vector<DistListMember>& members);

} // namespace parvelle::mapi
