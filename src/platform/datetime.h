#pragma once
// Dates and times as the mailbox model shows them. Archive documents carry UTC instants as
// ISO 8601 texts; the user sees local times formatted for their locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace parvelle::platform {

// Seconds since 1970-01-01T00:00:00Z.
using UnixSeconds = std::int64_t;

// OLE automation date: days since 30 December 1899 (midnight), fraction = time of day.
double oleDateFromUnix(UnixSeconds t);
UnixSeconds unixFromOleDate(double oleDate);

// Parses "YYYY-MM-DD HH:MM[:SS[.fff]]" or the same with "T" between date and time, an optional
// trailing "Z", or a bare date. The value is taken as UTC. Returns nothing for any other text
// or an impossible date.
std::optional<UnixSeconds> parseDateTime(std::string_view text);
// An archive's date text with its first 'T' made a space ("2021-03-04T05:06:07" gives
// "2021-03-04 05:06:07"); without a 'T' all of it is taken as the time part (" " + text).
std::string spacedDateText(std::string_view text);

// The C library's time-to-text layout of the local time ("Wed Dec  9 23:24:39 2026"), without
// the final newline.
std::string clockText(UnixSeconds t);
std::string clockTextNow();

// Local date and time in the user's locale: short date and long time; the time is left out when
// it is exactly midnight. The OLE date 0 (used for unparsable dates) shows as time only.
std::string localDateTimeText(UnixSeconds utc);
std::string zeroDateText();

// ISO 8601 UTC text ("2013-04-05T10:20:30Z").
std::string isoUtcText(UnixSeconds t);

// Settles the process on the system's time zone as it is at start-up (programs call it first
// thing). Left to itself the C library looks at the system's zone file again in every call that
// formats or converts a local time, thousands of times in a save.
void pinSystemTimeZone();

} // namespace parvelle::platform
