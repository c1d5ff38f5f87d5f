#pragma once
// The two mail writers. Both fill an "IPM.Note" message with the same sequence of calls
// (FillMailMessage) and save it; the store writer creates it in a store folder, the file writer
// as a message file that the file formats are then made from.
#include "items/item_conversion.h"
#include "items/item_record.h"
#include "store/component/dispatch.h"

namespace parvelle::items {

// Creates the mail in the store folder and saves it.
void WriteMailToStore(const component::ObjectRef& folder, ItemHolder& holder, ItemConversion& conv);
// Creates the mail as a file in state.fileExportFolder in the format of state.saveFormat.
void WriteMailToFile(const component::ObjectRef& folder, ItemHolder& holder, ItemConversion& conv);

// Fills a new message object with the mail and saves it (DISPID 6). Attached files are deleted
// from disk as they are attached, and also when filling fails half-way.
void FillMailMessage(const component::ObjectRef& message, ItemHolder& holder, ItemConversion& conv);

} // namespace parvelle::items
