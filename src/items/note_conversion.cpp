#include "items/note_conversion.h"

#include "items/item_kind_support.h"

namespace parvelle::items {

using component::ObjectRef;

void ReadNote(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
              ItemConversion& conv) {
    BeginKindItem(holder, conv);
    conv.htmlBody.clear();
    try {
        if (doc.FindChild("OPFNoteCopyCreationDate"))
            conv.state.summaryDate = doc.ChildText();
        doc.FindChild("OPFNoteCopyFolderRecordUID");
        if (doc.FindChild("OPFNoteCopyText"))
            conv.htmlBody = doc.ChildText();
        if (doc.FindChild("OPFNoteCopyTitle")) {
            holder.record->subject = doc.ChildText();
            AnnounceItem(conv, "Note", holder.record->subject);
        }
    } catch (const std::exception&) {
        // What was read so far is still written.
    }
    WriteNote(folder, holder, conv);
}

void WriteNote(const component::ObjectRef& folder, ItemHolder& holder, ItemConversion& conv) {
    const ObjectRef item = NewStoreItem(folder, "IPM.StickyNote");
    if (!item)
        return;
    item->put(0x1E, "IPM.StickyNote");
    PutMessageFlags(item, holder);
    const std::string title = holder.record ? holder.record->subject : std::string();
    item->put(0, title.empty() ? std::string("Unknown") : title);
    if (!conv.htmlBody.empty()) {
        item->put(0x1A, conv.htmlBody);
        conv.htmlBody.clear();
    }
    item->put(0x38, true);
    item->call(6);
}

} // namespace parvelle::items
