#pragma once
// The recurrence pattern object an appointment hands out (item method 0x6004004B). Its puts
// only record the pattern; the appointment turns it into the recurrence blob and the
// properties that go with it when it is saved, when its start and end are known.
#include <memory>
#include <optional>

#include "store/component/dispatch.h"
#include "store/mapi/recurrence.h"

namespace parvelle::component {

// What the pattern's puts said; a field left unset takes Outlook's default from the
// appointment's start when the series is made.
struct RecurrenceSettings {
    std::optional<std::int32_t> type; // 0 daily, 1 weekly, 2 monthly, 3 month-nth, 5 yearly,
                                      // 6 year-nth
    std::optional<std::int32_t> interval;
    std::optional<std::int32_t> daysOfWeek; // bit 0 Sunday ... bit 6 Saturday
    std::optional<std::int32_t> dayOfMonth;
    std::optional<std::int32_t> monthOfYear;
    std::optional<std::int32_t> instance;
    std::optional<std::int32_t> occurrences;
    std::optional<bool> noEndDate;
    std::optional<Date> patternStart; // local date
    std::optional<Date> patternEnd;   // local date
    std::int32_t firstDayOfWeek = 0;
};

// The pattern object's dispatch ids.
enum RecurrenceDispid : std::int32_t {
    kPatternDayOfMonth = 0x60020001,     // DayOfMonth (1..31)
    kPatternDayOfWeekMask = 0x60020003,  // DayOfWeekMask (1 Sunday, 2 Monday, ... 64 Saturday)
    kPatternInterval = 0x6002000B,       // Interval (days, weeks, months or years)
    kPatternInstance = 0x6002000D,       // Instance (1..4, 5 the last) of the nth kinds
    kPatternMonthOfYear = 0x6002000F,    // MonthOfYear (1..12)
    kPatternOccurrences = 0x60020011,    // Occurrences: the series ends after this many
    kPatternNoEndDate = 0x60020013,      // NoEndDate: the series never ends
    kPatternEndDate = 0x60020015,        // PatternEndDate (local date of the last occurrence)
    kPatternRecurrenceType = 0x60020017, // RecurrenceType (olRecurs* numbers)
    kPatternStartDate = 0x6002001B,      // PatternStartDate (local date)
    kPatternFirstDayOfWeek = 0x60020022, // FirstDayOfWeek (0 Sunday)
};

class RecurrencePattern : public DispatchObject {
public:
    explicit RecurrencePattern(std::shared_ptr<RecurrenceSettings> settings)
        : settings_(std::move(settings)) {}
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

private:
    std::shared_ptr<RecurrenceSettings> settings_;
};

// The rule the settings describe for a series whose first occurrence starts on local day
// `startDay`; nullopt when they do not describe a series Outlook can expand as the archive meant.
std::optional<mapi::RecurrenceRule> recurrenceRule(const RecurrenceSettings& settings,
                                                   std::int64_t startDay);

} // namespace parvelle::component
