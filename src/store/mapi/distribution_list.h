#pragma once
// What a personal distribution list keeps about its members (MS-OXOCNTC): one entry id per
// member in PidLidDistributionListMembers and PidLidDistributionListOneOffMembers, and the
// checksum that tells Outlook the member list is consistent.
#include "store/mapi/property.h"

#include <cstdint>
#include <vector>

namespace parvelle::mapi {

// PidLidDistributionListChecksum: the CRC-32 of ISO/IEC 8802-3 over the member entry ids, in
// order.
std::uint32_t distributionListChecksum(const std::vector<Binary>& members);

} // namespace parvelle::mapi
