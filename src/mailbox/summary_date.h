#pragma once
// The date text of the item list: an archive date ("2013-04-05T10:20:30", UTC) shown as local
// time in the user's short-date and long-time formats; an unparsable text shows date value 0.
#include <string>
#include <string_view>

namespace parvelle::mailbox {

std::string summaryDateText(std::string_view elementText);

} // namespace parvelle::mailbox
