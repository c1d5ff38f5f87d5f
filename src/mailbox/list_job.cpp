#include "mailbox/mailbox_converter.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

// Texts from 256 UTF-16 units on are cut to their first 250, so the list receives bounded texts.
std::string capped(const std::string& s) {
    if (s.size() < 256)
        return s;
    std::u16string wide = text::utf8ToUtf16(s);
    if (wide.size() < 256)
        return s;
    wide.resize(250);
    // Do not leave half of a surrogate pair behind.
    if (wide.back() >= 0xD800 && wide.back() <= 0xDBFF)
        wide.pop_back();
    return text::utf16ToUtf8(wide);
}

} // namespace

void MailboxConverter::listFolder() {
    ui_.clearItemList();
    state_.listedRecords.clear();
    state_.itemCount = 0;
    state_.progressMode = ProgressMode::Listing;
    ui_.post(Notification::ItemCount, 1, 0);
    // A stop requested before the listing started does not cancel it.
    state_.stopRequested = 0;

    std::int64_t index = 0;
    for (const auto& details : state_.folderItems) {
        if (stopRequested())
            break;
        if (details->treeItem != state_.listFolderItem)
            continue;
        ui_.send(Notification::ListFolder, 0, nullptr);
        state_.itemCount = static_cast<std::int32_t>(details->items.size());
        for (const RecoveredOlmHeaderData& record : details->items) {
            state_.currentItem = record;
            auto listed = std::make_unique<RecoveredOlmHeaderData>();
            progress();
            static_cast<ItemSource&>(*listed) = state_.currentItem;
            listed->kind = state_.currentItem.kind;
            listed->date = capped(state_.currentItem.date);
            listed->to = capped(state_.currentItem.to);
            listed->from = capped(state_.currentItem.from);
            listed->attachmentNames = capped(state_.currentItem.attachmentNames);
            listed->subject = state_.currentItem.subject;
            listed->hasAttachments = state_.currentItem.hasAttachments;
            ui_.send(Notification::ItemListed, index, listed.get());
            state_.listedRecords.push_back(std::move(listed));
            ++index;
        }
    }
    ui_.post(Notification::ItemCount, 1, 0);
}

} // namespace parvelle::mailbox
