#pragma once
// The readers of the item kinds. Each is given the document positioned on its top-level element
// ("emails", "contact", "group", "task", "note", "appointment"), the destination folder (a store
// folder object, or empty for the file formats), the holder to fill and the conversion; it
// reads the item and calls its writer. A component call that fails throws
// component::ComponentError, which the dispatcher catches.
#include "items/item_conversion.h"
#include "items/item_record.h"
#include "markup/markup_document.h"
#include "store/component/dispatch.h"

namespace parvelle::items {

using markup::MarkupDocument;

void ReadEmails(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
                ItemConversion& conv);
void ReadContact(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
                 ItemConversion& conv);
void ReadEvent(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
               ItemConversion& conv);
void ReadTask(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
              ItemConversion& conv);
void ReadNote(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
              ItemConversion& conv);
void ReadGroup(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
               ItemConversion& conv);

} // namespace parvelle::items
