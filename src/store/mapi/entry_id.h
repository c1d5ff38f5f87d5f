#pragma once
// Entry identifiers and search keys that do not depend on a store (MS-OXCDATA): one-off entry
// ids for recipients that are not in an address book, and address search keys.
#include "store/mapi/property.h"

#include <string_view>

namespace parvelle::mapi {

// ProviderUID of one-off entry ids {812B1FA4-BEA3-1019-9D6E-00DD010F5402}, in on-disk order.
extern const std::array<std::uint8_t, 16> kOneOffProviderUid;

// A one-off entry id with Unicode strings (MAPI_ONE_OFF_UNICODE, no rich information).
Binary oneOffEntryId(std::string_view displayName, std::string_view addressType,
                     std::string_view address);
// An address search key: "ADDRTYPE:ADDRESS" in upper case with a terminating zero byte.
Binary addressSearchKey(std::string_view addressType, std::string_view address);

} // namespace parvelle::mapi
