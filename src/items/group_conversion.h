#pragma once
// Contact groups: the reader of one "group" element and the writer of its "IPM.DistList" item.
#include <string>
#include <vector>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

// One member of a group: display name and e-mail address (the third text stays empty).
struct DIST_List {
    std::string name;
    std::string address;
    std::string reserved;
};

// Members without an address are left out: a list entry needs one to reach anybody.
void WriteGroup(const component::ObjectRef& folder, ItemHolder& holder,
                std::vector<DIST_List>& members, ItemConversion& conv);

} // namespace parvelle::items
