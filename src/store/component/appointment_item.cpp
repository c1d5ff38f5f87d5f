// The appointment kind (IPM.Appointment, MS-OXOCAL).
//
// Derived on save, as Outlook does when its own object model saves an appointment:
// - Start and End also as PidLidCommonStart/End and PidTagStartDate/EndDate, the duration in
//   minutes (PidLidAppointmentDuration), busy status "busy" unless set;
// - with a reminder (ReminderSet): PidLidReminderDelta (15 minutes unless set), the reminder
//   time at the start and the signal time that many minutes before it;
// - with attendees: the meeting state flag and the attendee strings (all, To, Cc);
// - a recurrence pattern that describes a series Outlook can expand: the recurrence blob
//   (PidLidAppointmentRecur), PidLidRecurring, PidLidRecurrenceType, the pattern text, the
//   machine's zone the blob's local times are in (PidLidTimeZoneStruct and its description) and
//   the clip start/end of the series (local midnight of its first and last day, in UTC); without
//   one, the clip start/end are the item's start/end and the item is not recurring, whatever
//   was set before, so that Outlook never expands a series the blob does not describe.
#include <cmath>

#include "store/component/item_kind.h"
#include "store/component/mail_item.h"
#include "store/component/recurrence_pattern.h"
#include "store/component/time_zone_rule.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

using enum TypedValue;
namespace tags = mapi::tags;
const mapi::Guid& kAppointment = mapi::psets::kAppointment;

constexpr std::int32_t kGetRecurrencePattern = 0x6004004B;

const std::vector<TypedProperty>& appointmentTable() {
    static const std::vector<TypedProperty> table = {
        // End: PidLidAppointmentEndWhole; derives PidLidCommonEnd, PidTagEndDate, the duration
        // and, without a series, the clip end.
        byName(0x6004000A, LocalDate, kAppointment, 0x820E),
        // Start: PidLidAppointmentStartWhole; derives PidLidCommonStart, PidTagStartDate, the
        // duration, the reminder and signal times and the series' first day and start minute.
        byName(0x60040042, LocalDate, kAppointment, 0x820D),
    };
    return table;
}

mapi::NamedProperty kStartWhole() {
    return appointmentProp(0x820D);
}
mapi::NamedProperty kEndWhole() {
    return appointmentProp(0x820E);
}
mapi::NamedProperty kBusyStatus() {
    return appointmentProp(0x8205);
}
mapi::NamedProperty kDuration() {
    return appointmentProp(0x8213);
}
mapi::NamedProperty kRecur() {
    return appointmentProp(0x8216);
}
mapi::NamedProperty kStateFlags() {
    return appointmentProp(0x8217);
}
mapi::NamedProperty kRecurring() {
    return appointmentProp(0x8223);
}
mapi::NamedProperty kRecurrenceType() {
    return appointmentProp(0x8231);
}
mapi::NamedProperty kRecurrencePatternText() {
    return appointmentProp(0x8232);
}
mapi::NamedProperty kClipStart() {
    return appointmentProp(0x8235);
}
mapi::NamedProperty kClipEnd() {
    return appointmentProp(0x8236);
}
mapi::NamedProperty kTimeZoneStruct() {
    return appointmentProp(0x8233);
}
mapi::NamedProperty kTimeZoneDescription() {
    return appointmentProp(0x8234);
}
mapi::NamedProperty kAllAttendees() {
    return appointmentProp(0x8238);
}
mapi::NamedProperty kToAttendees() {
    return appointmentProp(0x823B);
}
mapi::NamedProperty kCcAttendees() {
    return appointmentProp(0x823C);
}
mapi::NamedProperty kCommonStart() {
    return commonProp(0x8516);
}
mapi::NamedProperty kCommonEnd() {
    return commonProp(0x8517);
}
mapi::NamedProperty kReminderDelta() {
    return commonProp(0x8501);
}
mapi::NamedProperty kReminderTime() {
    return commonProp(0x8502);
}
mapi::NamedProperty kReminderSet() {
    return commonProp(0x8503);
}
mapi::NamedProperty kReminderSignalTime() {
    return commonProp(0x8560);
}

// Clip end of a series without end: 31 August 4500, 23:59 (MS-OXOCAL).
mapi::FileTime noEndClip() {
    const auto day = mapi::daysFrom1601({4500, 8, 31}) - mapi::daysFrom1601({1899, 12, 30});
    return fileTimeFromUtcDate(Date{static_cast<double>(day) + 1439.0 / 1440.0});
}

std::optional<mapi::FileTime> timeOf(const MailItem& item, const mapi::NamedProperty& name) {
    const mapi::PropValue* v = item.getNamed(name);
    return v ? v->asTime() : std::nullopt;
}

mapi::FileTime localMidnight(std::int64_t day1601) {
    const double ole = static_cast<double>(day1601 - mapi::daysFrom1601({1899, 12, 30}));
    return fileTimeFromLocalDate(Date{ole});
}

class AppointmentKind : public ItemKind {
public:
    std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) override {
        if (dispid == kGetRecurrencePattern && kind == CallKind::Method) {
            if (!recurrence_)
                recurrence_ = std::make_shared<RecurrenceSettings>();
            return Variant(ObjectRef(std::make_shared<RecurrencePattern>(recurrence_)));
        }
        if (dispid == 0x1A && kind == CallKind::Put && !args.empty()) { // HTMLBody: description
            putDescription(item, args.back().toString());
            return answered();
        }
        return putFromTable(appointmentTable(), item, dispid, kind, args);
    }

    void beforeSave(MailItem& item) override {
        const auto start = timeOf(item, kStartWhole());
        const auto end = timeOf(item, kEndWhole());
        auto& props = item.message().props;
        if (start) {
            item.setNamed(kCommonStart(), mapi::PropValue::time(*start));
            props.setTime(mapi::makeTag(0x0060, mapi::PropType::SysTime), *start);
        }
        if (end) {
            item.setNamed(kCommonEnd(), mapi::PropValue::time(*end));
            props.setTime(mapi::makeTag(0x0061, mapi::PropType::SysTime), *end);
        }
        std::int32_t durationMinutes = 0;
        if (start && end && *end >= *start)
            durationMinutes = static_cast<std::int32_t>((end->ticks - start->ticks) / 600000000ULL);
        item.setNamed(kDuration(), mapi::PropValue::i4(durationMinutes));
        if (item.getNamed(kBusyStatus()) == nullptr)
            item.setNamed(kBusyStatus(), mapi::PropValue::i4(2));
        deriveReminder(item, start);
        deriveAttendees(item);
        deriveRecurrence(item, start, end, durationMinutes);
    }

private:
    static void deriveReminder(MailItem& item, const std::optional<mapi::FileTime>& start) {
        const mapi::PropValue* set = item.getNamed(kReminderSet());
        if (set == nullptr || !set->asBool().value_or(false) || !start)
            return;
        const mapi::PropValue* delta = item.getNamed(kReminderDelta());
        const std::int32_t minutes = delta && delta->asInt32() ? *delta->asInt32() : 15;
        item.setNamed(kReminderDelta(), mapi::PropValue::i4(minutes));
        item.setNamed(kReminderTime(), mapi::PropValue::time(*start));
        const std::uint64_t before = static_cast<std::uint64_t>(minutes) * 600000000ULL;
        item.setNamed(kReminderSignalTime(),
                      mapi::PropValue::time({start->ticks > before ? start->ticks - before : 0}));
    }

    static void deriveAttendees(MailItem& item) {
        std::string all, to, cc;
        const auto append = [](std::string& list, const std::string& name) {
            if (!list.empty())
                list += "; ";
            list += name;
        };
        for (const mapi::Recipient& r : item.message().recipients) {
            const std::string name = r.displayName();
            append(all, name);
            if (r.kind() == tags::kRecipTo)
                append(to, name);
            else if (r.kind() == tags::kRecipCc)
                append(cc, name);
        }
        if (all.empty())
            return;
        item.setNamed(kAllAttendees(), mapi::PropValue::unicode(all));
        item.setNamed(kToAttendees(), mapi::PropValue::unicode(to));
        item.setNamed(kCcAttendees(), mapi::PropValue::unicode(cc));
        item.setNamed(kStateFlags(), mapi::PropValue::i4(1)); // asfMeeting
    }

    void deriveRecurrence(MailItem& item, const std::optional<mapi::FileTime>& start,
                          const std::optional<mapi::FileTime>& end,
                          std::int32_t durationMinutes) const {
        std::optional<mapi::RecurrenceRule> rule;
        std::optional<mapi::ExpandedRecurrence> series;
        std::int32_t startMinute = 0;
        if (recurrence_ && start) {
            const Date local = localDateFromFileTime(*start);
            const std::int64_t startDay = mapi::daysFrom1601ForOleDate(local.value);
            startMinute = static_cast<std::int32_t>(
                std::lround((local.value - std::floor(local.value)) * 1440.0));
            rule = recurrenceRule(*recurrence_, startDay);
            if (rule)
                series = mapi::expandRecurrence(*rule);
        }
        if (!series) {
            removeNamed(item, kRecur());
            removeNamed(item, kRecurrencePatternText());
            removeNamed(item, kTimeZoneStruct());
            removeNamed(item, kTimeZoneDescription());
            item.setNamed(kRecurring(), mapi::PropValue::boolean(false));
            item.setNamed(kRecurrenceType(), mapi::PropValue::i4(0));
            if (start)
                item.setNamed(kClipStart(), mapi::PropValue::time(*start));
            if (end)
                item.setNamed(kClipEnd(), mapi::PropValue::time(*end));
            return;
        }
        item.setNamed(kRecur(), mapi::PropValue::binary(mapi::appointmentRecurrenceBlob(
                                    *rule, *series, startMinute, durationMinutes)));
        item.setNamed(kRecurring(), mapi::PropValue::boolean(true));
        item.setNamed(kRecurrenceType(), mapi::PropValue::i4(mapi::recurrenceTypeCode(rule->kind)));
        item.setNamed(kRecurrencePatternText(),
                      mapi::PropValue::unicode(mapi::recurrencePatternText(
                          *rule, *series, startMinute, durationMinutes)));
        // The blob's times are local: the zone says how Outlook turns them into instants.
        const ZoneRule zone = machineZoneRule(mapi::civilFrom1601(series->firstDay).year);
        item.setNamed(kTimeZoneStruct(), mapi::PropValue::binary(timeZoneStruct(zone)));
        item.setNamed(kTimeZoneDescription(), mapi::PropValue::unicode(zone.description));
        item.setNamed(kClipStart(), mapi::PropValue::time(localMidnight(series->firstDay)));
        item.setNamed(
            kClipEnd(),
            mapi::PropValue::time(series->endless ? noEndClip() : localMidnight(series->lastDay)));
    }

    static void removeNamed(MailItem& item, const mapi::NamedProperty& name) {
        item.message().props.removeNamed(name);
    }

    std::shared_ptr<RecurrenceSettings> recurrence_;
};

} // namespace

std::shared_ptr<ItemKind> makeAppointmentKind() {
    return std::make_shared<AppointmentKind>();
}

} // namespace parvelle::component
