#pragma once
// The list summary of one item document, as a value: what the summary readers take from the
// document, so that summaries can be made on any thread and applied to JobState later, in order.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mailbox/records.h"

namespace parvelle::mailbox {

struct ItemSummary {
    // The kind of the top-level element ("email", "note", ...); empty when none was recognised.
    std::string kind;
    std::int32_t hasAttachments = 0;
    std::string from, to, cc, subject, date;
    std::vector<AttachmentInfo> attachments;
    // The type of the log row the item's reader writes ("Note", "Task", ...); empty for mails and
    // unrecognised documents, which write none.
    std::string_view logType;
};

// Reads the summary of one item document. `stop` ends the readers' entry loops early.
ItemSummary summarizeItem(std::string_view documentBytes, const std::atomic<std::int32_t>& stop);

} // namespace parvelle::mailbox
