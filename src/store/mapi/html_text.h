#pragma once
// Plain text from an HTML body, the way Outlook fills PidTagBody when a message is saved with
// only an HTML body: markup dropped, head/script/style skipped, block elements and <br> turned
// into line breaks (CR LF), character references decoded, runs of white space collapsed.
#include <string>
#include <string_view>

namespace parvelle::mapi {

std::string htmlToPlainText(std::string_view html);

} // namespace parvelle::mapi
