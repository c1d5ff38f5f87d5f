#pragma once
// The mail reader's helpers: archive date texts, attachment entries and the copies of the
// attachments that the writers attach. ReadEmails itself is declared with the other readers.
#include <string>
#include <string_view>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

// An archive date text ("2013-04-05T10:20:30", optionally with "Z") as a DateStamp; text the
// parser rejects gives value 0 with status invalid.
DateStamp ParseDateStamp(std::string_view text);
// The attachment member key an "OPFAttachmentURL" names (the rule the scanner files attachment
// members under).
std::string AttachmentMemberKeyFromUrl(std::string_view url);
// Appends the attachment of the current "messageAttachment" child to state.pendingAttachments
// (display name made safe, extension added when the name has none) and sets
// summaryHasAttachments. The preview reads attachment lists with the same rule.
void ReadAttachmentEntry(MarkupDocument& doc, mailbox::JobState& state);
// The archive member holding an attachment: the member its URL names, else the one recorded
// under its key (whatever the key's length); nullptr when the archive has neither.
const mailbox::ItemSource* FindAttachmentMember(const mailbox::JobState& state,
                                                const mailbox::AttachmentInfo& attachment);
// Copies every pending attachment found in the archive (by its member path, else by its key)
// into state.tempFolder/Attachments, one file per attachment even when display names repeat,
// and lists them in extractedAttachments and extractedPaths. With conv.openArchiveMember set,
// the files are not written: their paths are registered as attachment sources.
void ExtractAttachments(ItemConversion& conv);
// Deletes the extracted files that are still on disk (and forgets registered sources) and
// empties both lists.
// Drops one extracted attachment: its registered source, or else its file.
void DiscardExtractedAttachment(const std::string& path);
void RemoveExtractedAttachments(ItemConversion& conv);

} // namespace parvelle::items
