#pragma once
// Encoding names as documents declare them (<?xml ... encoding="..."?>, <meta ... charset=...>)
// mapped to Windows code pages.
#include <string_view>

namespace parvelle::markup {

// Marker for data held as 32-bit code points, given for names beginning with "UTF-32" exactly.
inline constexpr int kUtf32CodePoints = 65005;

// Code page of an encoding name: 0 for an empty name (the ANSI code page), -1 for a name not in
// the table. Names compare ignoring the case of A to Z, except that a name starting with the
// exact capitals "UTF-32" gives kUtf32CodePoints.
int encodingCodePage(std::string_view name);

} // namespace parvelle::markup
