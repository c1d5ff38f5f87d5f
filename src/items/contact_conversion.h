#pragma once
// Contacts: the reader of one "contact" element and the writer of its "IPM.Contact" item.
#include <array>
#include <string>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

// One text per row of the contact vocabulary (rows 1 to 49; row 0 unused) and the two dates.
struct ContactRecord {
    static constexpr std::size_t kRows = 50;
    std::array<std::string, kRows> text;
    DateStamp birthday;    // row 2, UTC
    DateStamp anniversary; // row 49
};

void WriteContact(const component::ObjectRef& folder, ItemHolder& holder,
                  const ContactRecord& contact, ItemConversion& conv);

} // namespace parvelle::items
