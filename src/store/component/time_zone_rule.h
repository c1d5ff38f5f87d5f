#pragma once
// The machine's time zone as Outlook records it on a recurring series (PidLidTimeZoneStruct,
// MS-OXOCAL): the offset from UTC and the yearly switches to and from daylight saving time, so
// that Outlook places every occurrence at its local time.
#include <cstdint>
#include <string>

#include "store/mapi/property.h"

namespace parvelle::component {

// A yearly switch as Windows gives it: month, weekday (0 Sunday) and its week in the month
// (1 to 4, 5 the last), at the local wall-clock time before the switch. All zero: no switch.
struct ZoneSwitch {
    std::uint16_t month = 0, dayOfWeek = 0, week = 0, hour = 0, minute = 0;
};

struct ZoneRule {
    std::int32_t bias = 0;         // minutes to add to local standard time to reach UTC
    std::int32_t daylightBias = 0; // minutes added to the bias during daylight saving time
    ZoneSwitch toStandard, toDaylight;
    std::string description; // "(UTC+01:00) Europe/Berlin"
};

// The rule of the machine's zone in `year`, from the switches the system's zone data makes then.
ZoneRule machineZoneRule(int year);
// The 48-byte PidLidTimeZoneStruct value of a rule.
mapi::Binary timeZoneStruct(const ZoneRule& rule);

} // namespace parvelle::component
