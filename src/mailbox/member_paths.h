#pragma once
// The grammar of archive member paths: which folder a member belongs to, what kind of entry it
// is, and the key under which an attachment member is found again. The mail reader derives the
// same key from an attachment's URL, so both sides meet in JobState::archiveMembers.
#include <string>
#include <string_view>

namespace parvelle::mailbox {

inline constexpr std::string_view kAttachmentsFolder = "com.microsoft.__Attachments";
inline constexpr std::string_view kMessagesFolder = "com.microsoft.__Messages";

// Key of the folder node a file member belongs to ("acct/Inbox", "Local/Drafts", ...).
std::string memberFolderKey(std::string_view memberName);
// "message" for message_00001.xml, "com.microsoft.__Attachments" for attachment members, the
// file name up to its last "_" otherwise (or the whole file name when it has none).
std::string memberEntryKind(std::string_view memberName);
// The attachment member key of a member inside a com.microsoft.__Attachments folder; empty for
// any other member.
std::string attachmentMemberKey(std::string_view memberName);
// The same rule applied to a file name and the text its last four characters are taken from.
std::string attachmentKeyFromParts(std::string_view fileName, std::string_view wholeName);

// Small text helpers with the "not found" convention of the path rules: a separator that does
// not occur counts as position -1, so the text after it is the whole text and the text before
// it is empty.
std::string_view textBefore(std::string_view s, std::string_view sep);
std::string_view textAfter(std::string_view s, std::string_view sep);
std::string_view textBeforeLast(std::string_view s, std::string_view sep);
std::string_view textAfterLast(std::string_view s, std::string_view sep);

} // namespace parvelle::mailbox
