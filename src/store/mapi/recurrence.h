#pragma once
// Recurring series as Outlook stores them (MS-OXOCAL): a rule (kind, interval, days, end), its
// expansion into the first and last occurrence, and the binary recurrence blob with its pattern
// text. Dates are local calendar days counted from 1601-01-01, the blob's own epoch.
#include "store/mapi/property.h"

#include <cstdint>
#include <optional>
#include <string>

namespace parvelle::mapi {

struct CivilDate {
    int year = 1601;
    int month = 1;
    int day = 1;
};
// Days between 1601-01-01 and the date (proleptic Gregorian calendar).
std::int64_t daysFrom1601(const CivilDate& date);
CivilDate civilFrom1601(std::int64_t days);
// 0 Sunday ... 6 Saturday.
int weekdayFrom1601(std::int64_t days);
// The day an OLE automation date falls on (its date part, no time-zone shift).
std::int64_t daysFrom1601ForOleDate(double oleDate);

enum class RecurrenceKind { Daily, Weekly, Monthly, MonthNth, Yearly, YearNth };
enum class RecurrenceEnd { Never, AfterCount, ByDate };

struct RecurrenceRule {
    RecurrenceKind kind = RecurrenceKind::Weekly;
    std::int32_t interval = 1;     // days, weeks, months or years between occurrences
    std::uint32_t daysOfWeek = 0;  // bit 0 Sunday ... bit 6 Saturday (weekly and nth kinds)
    std::int32_t dayOfMonth = 0;   // monthly and yearly: 1..31 (31 means the month's last day)
    std::int32_t monthOfYear = 0;  // yearly kinds: 1..12
    std::int32_t instance = 0;     // nth kinds: 1..4, 5 the last
    std::int64_t patternStart = 0; // local day the series may start on
    RecurrenceEnd end = RecurrenceEnd::Never;
    std::int32_t occurrences = 0; // AfterCount
    std::int64_t endDay = 0;      // ByDate: the last day an occurrence may fall on
    std::int32_t firstDayOfWeek = 0;
};

struct ExpandedRecurrence {
    std::int64_t firstDay = 0;
    std::int64_t lastDay = 0; // meaningless for a series without end
    std::int32_t count = 0;   // occurrences of a series with an end
    bool endless = false;
};

// Whether the rule is complete enough to expand (interval, days, month and instance in range).
bool isExpandable(const RecurrenceRule& rule);
// The first and last occurrence; nullopt when the rule is not expandable or yields none.
std::optional<ExpandedRecurrence> expandRecurrence(const RecurrenceRule& rule);

// The PidLidAppointmentRecur value: an AppointmentRecurrencePattern without exceptions, whose
// occurrences start `startMinute` minutes after local midnight and last `durationMinutes`.
Binary appointmentRecurrenceBlob(const RecurrenceRule& rule, const ExpandedRecurrence& series,
                                 std::int32_t startMinute, std::int32_t durationMinutes);
// The PidLidRecurrencePattern text Outlook shows ("Occurs every week on Monday ...").
std::string recurrencePatternText(const RecurrenceRule& rule, const ExpandedRecurrence& series,
                                  std::int32_t startMinute, std::int32_t durationMinutes);
// PidLidRecurrenceType: 1 daily, 2 weekly, 3 monthly, 4 yearly.
std::int32_t recurrenceTypeCode(RecurrenceKind kind);

} // namespace parvelle::mapi
