#include <unordered_map>

#include "mailbox/mailbox_converter.h"

namespace parvelle::mailbox {

void MailboxConverter::extractEntries(const std::string& archivePath) {
    if (!archive_.isOpen() || archiveOpenPath_ != archivePath) {
        if (!archive_.open(archivePath))
            return;
        archiveOpenPath_ = archivePath;
    }
    // Records grouped by folder key once, so each folder finds its items without a pass over
    // all records; within a folder they keep archive order.
    std::unordered_map<std::string, std::vector<std::size_t>> recordsByFolder;
    for (std::size_t i = 0; i < memberRecords_.size(); ++i)
        if (!memberRecords_[i].folderKey.empty())
            recordsByFolder[memberRecords_[i].folderKey].push_back(i);

    const std::size_t nodeCount = state_.folderNodes.size();
    for (std::size_t n = 0; n < nodeCount && !stopRequested(); ++n) {
        const Name_detailsNew node = state_.folderNodes[n];
        const auto found = recordsByFolder.find(node.key);
        if (found == recordsByFolder.end())
            continue;
        auto details = std::make_unique<Name_details>();
        details->treeItem = node.treeItem;
        details->folderName = node.name;
        details->parentKey = node.parentKey;
        details->nodeKind = node.nodeKind;
        details->archivePath = archivePath;
        details->items.reserve(found->second.size());
        for (const std::size_t index : found->second) {
            if (stopRequested())
                break;
            const FetchFileDetails& record = memberRecords_[index];
            state_.currentFolderName = node.name;
            progress();
            if (record.size <= 0)
                continue;
            std::string kind;
            if (!summaries_.empty()) {
                // Made during the walk; none means the item's bytes could not be read.
                ItemSummary* summary = summaries_.find(index);
                if (summary == nullptr)
                    continue;
                kind = applySummary(std::move(*summary));
            } else {
                const auto bytes = archive_.read(record);
                if (!bytes)
                    continue;
                kind = summarize(*bytes);
            }

            RecoveredOlmHeaderData item;
            static_cast<ItemSource&>(item) = record;
            item.kind = kind;
            item.hasAttachments = state_.summaryHasAttachments;
            item.from = state_.summaryFrom;
            item.to = state_.summaryTo;
            item.cc = state_.summaryCc;
            item.subject = state_.summarySubject;
            item.date = state_.summaryDate;
            for (std::size_t a = 0; a < state_.summaryAttachments.size(); ++a) {
                if (a > 0)
                    item.attachmentNames += ';';
                item.attachmentNames += state_.summaryAttachments[a].displayName;
            }
            state_.summaryAttachments.clear();
            state_.log.AppendLogRow("Message", state_.summarySubject, "Converted");
            details->items.push_back(std::move(item));
        }
        if (!details->items.empty())
            state_.folderItems.push_back(std::move(details));
    }
    summaries_ = {};
}

std::optional<std::string> MailboxConverter::extractItem(const std::string& archivePath,
                                                         const ItemSource& item) {
    if (!archive_.isOpen() || archiveOpenPath_ != archivePath) {
        if (!archive_.open(archivePath))
            return std::nullopt;
        archiveOpenPath_ = archivePath;
    }
    return archive_.read(item);
}

} // namespace parvelle::mailbox
