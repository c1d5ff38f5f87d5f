#include "items/event_conversion.h"

#include "items/item_kind_support.h"
#include "items/mail_reader.h"

namespace parvelle::items {
namespace {

using component::Date;
using component::ObjectRef;

// The recurrence pattern object's dispatch ids.
enum : std::int32_t {
    kPatternDayOfMonth = 0x60020001,
    kPatternDayOfWeekMask = 0x60020003,
    kPatternInterval = 0x6002000B,
    kPatternInstance = 0x6002000D,
    kPatternMonthOfYear = 0x6002000F,
    kPatternOccurrences = 0x60020011,
    kPatternNoEndDate = 0x60020013,
    kPatternEndDate = 0x60020015,
    kPatternRecurrenceType = 0x60020017,
    kPatternStartDate = 0x6002001B,
    kPatternFirstDayOfWeek = 0x60020022,
};

bool isOne(std::string_view text) {
    return text == "1";
}

constexpr std::int32_t kAllDays = 0x7F;
constexpr std::int32_t kWeekdays = 0x3E; // Monday to Friday
constexpr std::int32_t kWeekend = 0x41;  // Saturday and Sunday

void readDaysOfWeek(MarkupDocument& doc, RecurrenceFields& r) {
    // The single days, and the groups that stand for several of them.
    static constexpr std::pair<const char*, std::int32_t> kDays[] = {
        {"allDays", kAllDays},     {"friday", 1 << 5},    {"monday", 1 << 1},
        {"saturday", 1 << 6},      {"sunday", 1 << 0},    {"thursday", 1 << 4},
        {"tuesday", 1 << 2},       {"wednesday", 1 << 3}, {"weekdays", kWeekdays},
        {"weekenddays", kWeekend},
    };
    doc.Descend();
    for (const auto& [name, bits] : kDays)
        if (doc.FindChild(name) && isOne(doc.ChildText()))
            r.daysOfWeek |= bits;
    doc.Ascend();
}

// The number of occurrences the archive gives (0 when none).
std::int32_t occurrenceCount(const RecurrenceFields& r) {
    return LeadingInteger(r.occurrences);
}

void readEvent(MarkupDocument& doc, ItemHolder& holder, EventRecord& event, ItemConversion& conv) {
    ItemRecord& record = *holder.record;
    std::string organizer;
    bool hasOrganizer = false;
    if (doc.FindChild("OPFCalendarEventCopyAttendeeList")) {
        doc.Descend();
        while (!conv.stopRequested() && doc.FindChild("appointmentAttendee")) {
            RecipientNode node;
            node.kind = kTo;
            node.name = doc.ChildAttribute("OPFCalendarAttendeeName");
            node.address = doc.ChildAttribute("OPFCalendarAttendeeAddress");
            holder.recipients.push_back(std::move(node));
        }
        doc.Ascend();
    }
    if (doc.FindChild("OPFCalendarEventCopyDescription"))
        conv.htmlBody = doc.ChildText();
    if (doc.FindChild("OPFCalendarEventCopyEndTime"))
        event.end = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFCalendarEventCopyLocation"))
        event.location = doc.ChildText();
    if (doc.FindChild("OPFCalendarEventCopyModDate"))
        record.receivedTime = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFCalendarEventCopyOrganizer")) {
        organizer = doc.ChildText();
        hasOrganizer = true;
    }
    doc.FindChild("OPFCalendarEventCopyOriginalReminderTime");
    if (doc.FindChild("OPFCalendarEventCopyRecurrence"))
        ReadRecurrence(doc, event.recurrence, false);
    doc.FindChild("OPFCalendarEventCopyReminderDelta");
    doc.FindChild("OPFCalendarEventCopyReminderTime");
    if (doc.FindChild("OPFCalendarEventCopyStartTime"))
        event.start = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFCalendarEventCopySummary")) {
        record.subject = doc.ChildText();
        AnnounceItem(conv, "Calendar", record.subject);
    }
    doc.FindChild("OPFCalendarEventCopyTimeZone");
    if (doc.FindChild("OPFCalendarEventGetHasReminder"))
        event.hasReminder = LeadingInteger(doc.ChildText());
    if (doc.FindChild("OPFCalendarEventGetIsAllDayEvent"))
        event.allDay = isOne(doc.ChildText()) ? 1 : 0;
    if (doc.FindChild("OPFCalendarEventGetIsPrivate"))
        event.isPrivate = isOne(doc.ChildText()) ? 1 : 0;
    if (doc.FindChild("OPFCalendarEventIsRecurring"))
        event.recurring = LeadingInteger(doc.ChildText());
    doc.FindChild("OPFCalendarEventSetIsOwner");
    // The organizer follows the attendees.
    if (hasOrganizer) {
        RecipientNode node;
        node.kind = kSender;
        node.address = organizer;
        holder.recipients.push_back(std::move(node));
    }
}

void writePattern(const ObjectRef& item, const RecurrenceFields& r) {
    const ObjectRef pattern = item->call(0x6004004B).toObject();
    if (!pattern)
        return;
    pattern->put(kPatternFirstDayOfWeek, 0);
    if (r.start.value != 0)
        pattern->put(kPatternStartDate, Date{r.start.value});
    if (!r.interval.empty())
        pattern->put(kPatternInterval, LeadingInteger(r.interval));
    // RecurrenceType: daily 0, weekly 1, monthly 2, month-nth 3, yearly 5, year-nth 6.
    static constexpr std::int32_t kTypes[] = {0, 0, 1, 2, 5};
    std::int32_t type = kTypes[r.patternType];
    if (r.nth && (type == 2 || type == 5))
        ++type;
    pattern->put(kPatternRecurrenceType, type);
    if (!r.occurrences.empty())
        pattern->put(kPatternOccurrences, LeadingInteger(r.occurrences));
    // What else the series needs to expand as in the archive: its days, month and end.
    if (r.daysOfWeek != 0)
        pattern->put(kPatternDayOfWeekMask, r.daysOfWeek);
    if (r.dayOfMonth > 0)
        pattern->put(kPatternDayOfMonth, r.dayOfMonth);
    if (r.month > 0)
        pattern->put(kPatternMonthOfYear, r.month);
    if (r.week > 0)
        pattern->put(kPatternInstance, r.week);
    // A count of 0 says nothing: the series then ends on its end date.
    if (r.noEnd)
        pattern->put(kPatternNoEndDate, true);
    else if (occurrenceCount(r) <= 0 && r.end.value != 0)
        pattern->put(kPatternEndDate, Date{r.end.value});
}

} // namespace

std::int32_t PatternTypeCode(std::string_view text) {
    static constexpr std::string_view kNames[] = {"Daily", "Weekly", "Monthly", "Yearly"};
    for (std::size_t i = 0; i < 4; ++i)
        if (text.find(kNames[i]) != std::string_view::npos)
            return static_cast<std::int32_t>(i + 1);
    return 0;
}

void ReadRecurrence(MarkupDocument& doc, RecurrenceFields& r, bool typeOnly) {
    doc.Descend();
    if (!typeOnly) {
        if (doc.FindChild("OPFRecurrenceCopyEndDate"))
            r.end = ParseDateStamp(doc.ChildText());
        if (doc.FindChild("OPFRecurrenceCopyStartDate"))
            r.start = ParseDateStamp(doc.ChildText());
        if (doc.FindChild("OPFRecurrenceGetOccurenceCount"))
            r.occurrences = doc.ChildText();
        if (doc.FindChild("OPFRecurrenceIsNoEnd"))
            r.noEnd = isOne(doc.ChildText());
    }
    if (doc.FindChild("OPFRecurrencePattern")) {
        doc.Descend();
        if (!typeOnly) {
            if (doc.FindChild("OPFRecurrencePatternDayOfMonth"))
                r.dayOfMonth = LeadingInteger(doc.ChildText());
            if (doc.FindChild("OPFRecurrencePatternDaysOfWeek"))
                readDaysOfWeek(doc, r);
            if (doc.FindChild("OPFRecurrencePatternInterval"))
                r.interval = doc.ChildText();
            if (doc.FindChild("OPFRecurrencePatternMonth"))
                r.month = LeadingInteger(doc.ChildText());
        }
        if (doc.FindChild("OPFRecurrencePatternType")) {
            const std::string type = doc.ChildText();
            r.patternType = PatternTypeCode(type);
            r.nth = type.find("Nth") != std::string::npos;
        }
        if (!typeOnly && doc.FindChild("OPFRecurrencePatternWeek"))
            r.week = LeadingInteger(doc.ChildText());
        doc.Ascend();
    }
    doc.Ascend();
}

bool RecurrenceCarriesOver(const EventRecord& event) {
    const RecurrenceFields& r = event.recurrence;
    if (event.recurring == 0 || r.patternType == 0)
        return false;
    // An nth pattern without its weekday and week would become a different series.
    if (r.nth && (r.week < 1 || r.daysOfWeek == 0))
        return false;
    // A daily series on some days of the week only has no daily pattern in Outlook.
    if (r.patternType == 1 && r.daysOfWeek != 0 && r.daysOfWeek != kAllDays)
        return false;
    // Without its end (none, a count or a last date) the series would run on for ever.
    return r.noEnd || occurrenceCount(r) > 0 || r.end.value != 0;
}

void ReadEvent(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
               ItemConversion& conv) {
    BeginKindItem(holder, conv);
    conv.htmlBody.clear();
    EventRecord event;
    try {
        readEvent(doc, holder, event, conv);
    } catch (const std::exception&) {
        // What was read so far is still written.
    }
    WriteEvent(folder, holder, event, conv);
}

void WriteEvent(const component::ObjectRef& folder, ItemHolder& holder, const EventRecord& event,
                ItemConversion& conv) {
    const ObjectRef item = NewStoreItem(folder, "IPM.Appointment");
    if (!item)
        return;
    item->put(0x1E, "IPM.Appointment");
    PutMessageFlags(item, holder);
    if (holder.unread == 0)
        item->put(0x41, false);
    if (event.start.value > 0)
        item->put(0x60040042, Date{ToLocalDate(event.start).value});
    if (event.end.value > 0)
        item->put(0x6004000A, Date{ToLocalDate(event.end).value});
    if (!event.location.empty())
        PutNamed(item, kAppointmentSet, 0x8208, 0x001E, event.location);
    // A series goes over only when Outlook would expand it into the archive's occurrences;
    // otherwise the event is written as a single one.
    const RecurrenceFields& r = event.recurrence;
    const bool pattern = RecurrenceCarriesOver(event);
    if (pattern)
        writePattern(item, r);
    if (event.isPrivate != 0) {
        PutNamed(item, kCommonSet, 0x8506, 0x000B, 1);
        PutTag(item, 0x0002000B, 0);
        PutTag(item, 0x002B000B, 1);
        PutTag(item, 0x00360003, 2);
    }
    if (event.allDay != 0)
        PutNamed(item, kAppointmentSet, 0x8215, 0x000B, 1);
    if (event.hasReminder != 0)
        item->put(0x2D, true);
    if (!pattern) {
        // Not a series, whatever the archive's recurrence elements said.
        PutNamed(item, kAppointmentSet, 0x8231, 0x0003, 0);
    } else {
        if (r.start.value > 0)
            PutNamed(item, kAppointmentSet, 0x8235, 0x0040, Date{ToLocalDate(r.start).value});
        if (r.end.value > 0)
            PutNamed(item, kAppointmentSet, 0x8236, 0x0040, Date{ToLocalDate(r.end).value});
        PutNamed(item, kAppointmentSet, 0x8231, 0x0003, r.patternType);
        PutNamed(item, kAppointmentSet, 0x8223, 0x000B, 1);
    }
    if (!holder.recipients.empty()) {
        const ObjectRef recipients = item->get(0x4D).toObject();
        if (recipients)
            for (const RecipientNode& node : holder.recipients) {
                if (conv.stopRequested())
                    break;
                recipients->call(3, {node.name, node.address, "SMTP", node.kind});
            }
    }
    PutNamed(item, kAppointmentSet, 0x8241, 0x000B, 0);
    const ItemRecord* record = holder.record.get();
    if (record != nullptr && !record->subject.empty())
        item->put(0, record->subject);
    if (!conv.htmlBody.empty()) {
        item->put(0x1A, conv.htmlBody);
        conv.htmlBody.clear();
    }
    if (record != nullptr && record->receivedTime.value != 0)
        PutTag(item, 0x0E060040, Date{record->receivedTime.value});
    item->put(0x38, true);
    item->call(6);
}

} // namespace parvelle::items
