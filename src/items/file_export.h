#pragma once
// Mails as loose files: the writers of the save-as types the item object offers, and the naming
// of the exported files.
#include <string>

#include "items/item_conversion.h"
#include "store/component/mail_item.h"

namespace parvelle::items {

// The message-file writers a store session hands to its items (MSG, EML, RTF, HTML).
component::FileWriters MessageFileWriters();

} // namespace parvelle::items
