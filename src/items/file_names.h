#pragma once
// File-name rules shared by the item readers and the exports.
#include <string>
#include <string_view>

namespace parvelle::items {

// Replaces each of \ / : ? * " < > | carriage return, line feed and tab (and '.', when
// alsoDots is set) by '_'.
std::string SanitizeFileName(std::string_view text, bool alsoDots = false);

} // namespace parvelle::items
