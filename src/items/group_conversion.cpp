#include "items/group_conversion.h"

#include "items/item_kind_support.h"

namespace parvelle::items {

using component::ObjectRef;

void ReadGroup(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
               ItemConversion& conv) {
    BeginKindItem(holder, conv);
    conv.htmlBody.clear();
    std::vector<DIST_List> members;
    try {
        if (doc.FindChild("OPFGroupCopyDisplayName")) {
            holder.record->subject = doc.ChildText();
            AnnounceItem(conv, "Contact Group", holder.record->subject);
        }
        doc.FindChild("OPFGroupCopyDueDateTime");
        if (doc.FindChild("OPFGroupCopyMemberList")) {
            doc.Descend();
            while (!conv.stopRequested() && doc.FindChild("emailAddress"))
                members.push_back({doc.ChildAttribute("OPFContactEmailAddressName"),
                                   doc.ChildAttribute("OPFContactEmailAddressAddress"),
                                   {}});
            doc.Ascend();
        }
        doc.FindChild("OPFGroupCopyModDate");
        if (doc.FindChild("OPFGroupCopyNotes"))
            conv.htmlBody = doc.ChildText();
        doc.FindChild("OPFGroupCopyStartDateTime");
    } catch (const std::exception&) {
        // What was read so far is still written.
    }
    WriteGroup(folder, holder, members, conv);
}

void WriteGroup(const component::ObjectRef& folder, ItemHolder& holder,
                std::vector<DIST_List>& members, ItemConversion& conv) {
    const ObjectRef item = NewStoreItem(folder, "IPM.DistList");
    if (!item)
        return;
    item->put(0x1E, "IPM.DistList");
    PutMessageFlags(item, holder);
    for (const DIST_List& member : members)
        if (!member.address.empty())
            item->call(0x6004000B, {member.name, member.address, member.reserved});
    members.clear();
    const std::string name = holder.record ? holder.record->subject : std::string();
    if (!name.empty())
        item->put(0x60040002, name);
    if (!conv.htmlBody.empty()) {
        item->put(0x1A, conv.htmlBody);
        conv.htmlBody.clear();
    }
    item->call(6);
}

} // namespace parvelle::items
