#pragma once
// Calendar events: the reader of one "appointment" element and the writer of its
// "IPM.Appointment" item with its attendees, organizer and recurrence.
#include <cstdint>
#include <string>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

// The recurrence of an event or task as the archive gives it.
struct RecurrenceFields {
    std::int32_t patternType = 0; // 1 daily, 2 weekly, 3 monthly, 4 yearly, 0 unknown
    bool nth = false;             // the type names an nth weekday ("MonthlyNth", "YearlyNth")
    DateStamp start;              // "OPFRecurrenceCopyStartDate"
    DateStamp end;                // "OPFRecurrenceCopyEndDate"
    std::string occurrences;      // "OPFRecurrenceGetOccurenceCount"
    std::string interval;         // "OPFRecurrencePatternInterval"
    bool noEnd = false;           // "OPFRecurrenceIsNoEnd"
    std::int32_t daysOfWeek = 0;  // bit 0 Sunday ... bit 6 Saturday
    std::int32_t dayOfMonth = 0;  // "OPFRecurrencePatternDayOfMonth"
    std::int32_t month = 0;       // "OPFRecurrencePatternMonth"
    std::int32_t week = 0;        // "OPFRecurrencePatternWeek": 1..4, 5 the last
};

struct EventRecord {
    DateStamp end;
    std::string location;
    DateStamp start;
    std::int32_t allDay = 0;
    std::int32_t hasReminder = 0;
    std::int32_t isPrivate = 0;
    std::int32_t recurring = 0;
    RecurrenceFields recurrence;
};

// Pattern type code of an "OPFRecurrencePatternType" text: the first of Daily, Weekly, Monthly,
// Yearly it contains (1 to 4), else 0.
std::int32_t PatternTypeCode(std::string_view text);
// Reads the recurrence element the document's child is on (Descend/Ascend around it); with
// `typeOnly` just the pattern type, as tasks use it.
void ReadRecurrence(MarkupDocument& doc, RecurrenceFields& recurrence, bool typeOnly);
// Whether the series can be handed to Outlook as the archive describes it: a recurring event of
// a known type, with the weekday and week of an nth pattern when it names one, days of the week
// only where the type has them, and a known end (none, a count or a last date).
bool RecurrenceCarriesOver(const EventRecord& event);

void WriteEvent(const component::ObjectRef& folder, ItemHolder& holder, const EventRecord& event,
                ItemConversion& conv);

} // namespace parvelle::items
