#pragma once
// File-name rules shared by the item readers and the exports.
#include <set>
#include <string>
#include <string_view>

namespace parvelle::items {

// Replaces each of \ / : ? * " < > | carriage return, line feed and tab (and '.', when
// alsoDots is set) by '_'.
std::string SanitizeFileName(std::string_view text, bool alsoDots = false);

// SanitizeFileName's replacements, and control characters (NUL above all, which would cut the
// name short in every system call) replaced by '_' too: a name the file system takes as it is.
std::string SystemFileName(std::string_view text);

// At most `maxBytes` of UTF-8 text, cut before a character, never inside one.
std::string FirstBytes(const std::string& text, std::size_t maxBytes);

// A file name for displayName that no earlier call with the same `taken` set returned (letter
// case ignored): "a.txt", then "a (2).txt", "a (3).txt", ... The name is made a SystemFileName;
// empty, "." and ".." become "attachment"; a name longer than kMaxAttachmentFileNameBytes keeps
// its extension and as much of its start as fits. Attachments of one mail may share a display
// name; each gets its own file.
inline constexpr std::size_t kMaxAttachmentFileNameBytes = 200; // room for " (n)" within 255
std::string UniqueAttachmentFileName(const std::string& displayName, std::set<std::string>& taken);

} // namespace parvelle::items
