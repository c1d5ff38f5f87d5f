#pragma once
// The reading pane's view of one item document: a mail's HTML body, a note's text, or a small
// page of labelled field lines for tasks, contacts, contact groups and calendar events.
#include <string>
#include <string_view>

#include "mailbox/job_state.h"

namespace parvelle::mailbox {

// Loads the item document at xmlPath and renders it into state.previewText (empty when the file
// cannot be loaded). A mail without an HTML body is shown by its plain text, escaped. Also sets
// previewHasHtml for mails, summarySubject and summaryDate for contacts and groups, and
// pendingAttachments and summaryHasAttachments for mails.
void RenderItemPreview(JobState& state, const std::string& xmlPath);
// The same for a document already in memory.
void RenderItemPreviewBytes(JobState& state, std::string_view documentBytes);

enum class PreviewDateFormat {
    Long,     // "Friday, April 05 2013 ,16:00:00"
    DateTime, // "04/05/2013 16.00.00"
    Date,     // "04/05/2013"
};

// A document date ("2013-04-05T14:00:00", UTC) as local time in one of the preview formats, with
// English day and month names; "Invalid DateTime" when the text does not parse.
std::string PreviewDate(std::string_view elementText, PreviewDateFormat format);

} // namespace parvelle::mailbox
