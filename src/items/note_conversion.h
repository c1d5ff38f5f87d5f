#pragma once
// Notes: the reader of one "note" element and the writer of its "IPM.StickyNote" item.
#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

void WriteNote(const component::ObjectRef& folder, ItemHolder& holder, ItemConversion& conv);

} // namespace parvelle::items
