#include "mailbox/summary_date.h"

#include "mailbox/member_paths.h"
#include "platform/datetime.h"

namespace parvelle::mailbox {

std::string summaryDateText(std::string_view elementText) {
    // The date and time parts are joined with one space before parsing.
    const std::string joined =
        std::string(textBefore(elementText, "T")) + " " + std::string(textAfter(elementText, "T"));
    if (const auto utc = platform::parseDateTime(joined))
        return platform::localDateTimeText(*utc);
    return platform::zeroDateText();
}

} // namespace parvelle::mailbox
