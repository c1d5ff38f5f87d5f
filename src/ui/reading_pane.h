#pragma once
// The reading pane's header block and the page file it shows.
#include <string>
#include <vector>

#include "mailbox/records.h"

namespace parvelle::ui {

struct ReadingPaneView {
    std::string subject;
    std::string to;
    std::string cc;
    std::string from;
    bool attachmentsVisible = false;
    std::vector<std::string> attachmentRows;
};

// The header block for a previewed record (an empty view for none).
ReadingPaneView readingPaneView(const mailbox::RecoveredOlmHeaderData* record);

// The non-empty pieces of an attachment-names text ("a.pdf;;b.txt" gives a.pdf and b.txt).
std::vector<std::string> splitAttachmentNames(const std::string& names);

// The extension an attachment's icon is looked up by: from the last "." on, lower case; empty
// when the name has no ".".
std::string attachmentExtension(const std::string& name);

// Writes a preview page into folder (created when missing) under a new random name and returns
// its path; empty when it cannot be written. A mail's page ("0E0" has-HTML value) starts with a
// UTF-8 byte-order mark.
std::string writePreviewPage(const std::string& folder, const std::string& html,
                             const std::string& hasHtml);

} // namespace parvelle::ui
