#include "store/component/recurrence_pattern.h"

namespace parvelle::component {

Variant RecurrencePattern::invoke(std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) {
    RecurrenceSettings& s = *settings_;
    if (kind == CallKind::Put) {
        const Variant& v = arg(args, 0);
        switch (dispid) {
        case kPatternDayOfMonth:
            return s.dayOfMonth = v.toInt(), Variant{};
        case kPatternDayOfWeekMask:
            return s.daysOfWeek = v.toInt(), Variant{};
        case kPatternInterval:
            return s.interval = v.toInt(), Variant{};
        case kPatternInstance:
            return s.instance = v.toInt(), Variant{};
        case kPatternMonthOfYear:
            return s.monthOfYear = v.toInt(), Variant{};
        case kPatternOccurrences:
            return s.occurrences = v.toInt(), Variant{};
        case kPatternNoEndDate:
            return s.noEndDate = v.toBool(), Variant{};
        case kPatternEndDate:
            return s.patternEnd = v.toDate(), Variant{};
        case kPatternRecurrenceType:
            return s.type = v.toInt(), Variant{};
        case kPatternStartDate:
            return s.patternStart = v.toDate(), Variant{};
        case kPatternFirstDayOfWeek:
            return s.firstDayOfWeek = v.toInt(), Variant{};
        default:
            break;
        }
    } else if (kind == CallKind::Get) {
        switch (dispid) {
        case kPatternInterval:
            return s.interval.value_or(1);
        case kPatternOccurrences:
            return s.occurrences.value_or(0);
        case kPatternRecurrenceType:
            return s.type.value_or(1);
        case kPatternNoEndDate:
            return s.noEndDate.value_or(!s.occurrences && !s.patternEnd);
        default:
            break;
        }
    }
    unknownMember("RecurrencePattern", dispid, kind);
}

std::optional<mapi::RecurrenceRule> recurrenceRule(const RecurrenceSettings& s,
                                                   std::int64_t startDay) {
    using mapi::RecurrenceKind;
    if (!s.type)
        return std::nullopt;
    mapi::RecurrenceRule rule;
    switch (*s.type) {
    case 0:
        rule.kind = RecurrenceKind::Daily;
        break;
    case 1:
        rule.kind = RecurrenceKind::Weekly;
        break;
    case 2:
        rule.kind = RecurrenceKind::Monthly;
        break;
    case 3:
        rule.kind = RecurrenceKind::MonthNth;
        break;
    case 5:
        rule.kind = RecurrenceKind::Yearly;
        break;
    case 6:
        rule.kind = RecurrenceKind::YearNth;
        break;
    default:
        return std::nullopt;
    }
    rule.patternStart =
        s.patternStart ? mapi::daysFrom1601ForOleDate(s.patternStart->value) : startDay;
    // Outlook's defaults for what the pattern was not told: the start's day, weekday and month.
    const mapi::CivilDate start = mapi::civilFrom1601(rule.patternStart);
    rule.interval = s.interval.value_or(1);
    rule.daysOfWeek = static_cast<std::uint32_t>(
        s.daysOfWeek.value_or(1 << mapi::weekdayFrom1601(rule.patternStart)));
    rule.dayOfMonth = s.dayOfMonth.value_or(start.day);
    rule.monthOfYear = s.monthOfYear.value_or(start.month);
    rule.firstDayOfWeek = s.firstDayOfWeek;
    const bool nth = rule.kind == RecurrenceKind::MonthNth || rule.kind == RecurrenceKind::YearNth;
    if (nth && (!s.instance || !s.daysOfWeek))
        return std::nullopt;
    rule.instance = s.instance.value_or(0);
    if (s.occurrences && *s.occurrences > 0 && !s.noEndDate.value_or(false)) {
        rule.end = mapi::RecurrenceEnd::AfterCount;
        rule.occurrences = *s.occurrences;
    } else if (s.patternEnd && !s.noEndDate.value_or(false)) {
        rule.end = mapi::RecurrenceEnd::ByDate;
        rule.endDay = mapi::daysFrom1601ForOleDate(s.patternEnd->value);
    }
    if (!mapi::isExpandable(rule))
        return std::nullopt;
    return rule;
}

} // namespace parvelle::component
