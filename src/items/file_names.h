#pragma once
// File-name rules shared by the item readers and the exports.
#include <set>
#include <string>
#include <string_view>

namespace parvelle::items {

// Replaces each of \ / : ? * " < > | carriage return, line feed and tab (and '.', when
// alsoDots is set) by '_'.
std::string SanitizeFileName(std::string_view text, bool alsoDots = false);

// A file name for displayName that no earlier call with the same `taken` set returned (letter
// case ignored): "a.txt", then "a (2).txt", "a (3).txt", ... The characters SanitizeFileName
// replaces and control characters become '_'; empty, "." and ".." become "attachment".
// Attachments of one mail may share a display name; each gets its own file.
std::string UniqueAttachmentFileName(const std::string& displayName, std::set<std::string>& taken);

} // namespace parvelle::items
