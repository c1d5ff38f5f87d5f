#include "store/mapi/recurrence.h"

#include "store/mapi/little_endian.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace parvelle::mapi {
namespace {

// Blob constants (MS-OXOCAL 2.2.1.44).
constexpr std::uint16_t kVersion = 0x3004;
constexpr std::uint32_t kVersion2Reader = 0x3006;
constexpr std::uint32_t kVersion2Writer = 0x3009;
constexpr std::uint16_t kFrequencyDaily = 0x200A;
constexpr std::uint16_t kFrequencyWeekly = 0x200B;
constexpr std::uint16_t kFrequencyMonthly = 0x200C;
constexpr std::uint16_t kFrequencyYearly = 0x200D;
constexpr std::uint16_t kPatternDay = 0;
constexpr std::uint16_t kPatternWeek = 1;
constexpr std::uint16_t kPatternMonth = 2;
constexpr std::uint16_t kPatternMonthNth = 3;
constexpr std::uint32_t kEndByDate = 0x2021;
constexpr std::uint32_t kEndAfterCount = 0x2022;
constexpr std::uint32_t kEndNever = 0x2023;
// EndDate of a series without end: 31 December 4500, 23:59.
constexpr std::uint32_t kNoEndDate = 0x5AE980DF;
// Occurrence count Outlook writes for a series without end.
constexpr std::uint32_t kNoEndCount = 10;
// How far a series is expanded looking for its occurrences (about 400 years).
constexpr std::int64_t kSearchDays = 146097;
constexpr std::int32_t kMaxOccurrences = 999;

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

std::int64_t monthIndex(const CivilDate& d) {
    return static_cast<std::int64_t>(d.year - 1601) * 12 + (d.month - 1);
}

std::int64_t weekStart(std::int64_t day, int firstDayOfWeek) {
    return day - ((weekdayFrom1601(day) - firstDayOfWeek + 7) % 7);
}

bool hasDay(std::uint32_t mask, std::int64_t day) {
    return (mask >> weekdayFrom1601(day) & 1U) != 0;
}

bool isNthInMonth(const RecurrenceRule& rule, std::int64_t day, const CivilDate& date) {
    if (!hasDay(rule.daysOfWeek, day))
        return false;
    if (rule.instance == 5) {
        for (std::int64_t next = day + 1;; ++next) {
            const CivilDate d = civilFrom1601(next);
            if (d.month != date.month)
                return true;
            if (hasDay(rule.daysOfWeek, next))
                return false;
        }
    }
    int ordinal = 0;
    for (std::int64_t d = day - (date.day - 1); d <= day; ++d)
        if (hasDay(rule.daysOfWeek, d))
            ++ordinal;
    return ordinal == rule.instance;
}

bool occursOn(const RecurrenceRule& rule, std::int64_t day) {
    const CivilDate date = civilFrom1601(day);
    const CivilDate start = civilFrom1601(rule.patternStart);
    const auto dayOfMonthMatches = [&] {
        return date.day == std::min(rule.dayOfMonth, daysInMonth(date.year, date.month));
    };
    switch (rule.kind) {
    case RecurrenceKind::Daily:
        return (day - rule.patternStart) % rule.interval == 0;
    case RecurrenceKind::Weekly:
        return hasDay(rule.daysOfWeek, day) &&
               ((weekStart(day, rule.firstDayOfWeek) -
                 weekStart(rule.patternStart, rule.firstDayOfWeek)) /
                7) % rule.interval ==
                   0;
    case RecurrenceKind::Monthly:
        return (monthIndex(date) - monthIndex(start)) % rule.interval == 0 && dayOfMonthMatches();
    case RecurrenceKind::MonthNth:
        return (monthIndex(date) - monthIndex(start)) % rule.interval == 0 &&
               isNthInMonth(rule, day, date);
    case RecurrenceKind::Yearly:
        return date.month == rule.monthOfYear && (date.year - start.year) % rule.interval == 0 &&
               dayOfMonthMatches();
    case RecurrenceKind::YearNth:
        return date.month == rule.monthOfYear && (date.year - start.year) % rule.interval == 0 &&
               isNthInMonth(rule, day, date);
    }
    return false;
}

std::uint32_t minutes(std::int64_t day) {
    return static_cast<std::uint32_t>(day * 1440);
}

const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
const char* const kInstanceNames[] = {"first", "second", "third", "fourth", "last"};

std::string dayList(std::uint32_t mask) {
    std::string out;
    for (int d = 0; d < 7; ++d) {
        if ((mask >> d & 1U) == 0)
            continue;
        if (!out.empty())
            out += ", ";
        out += kDayNames[d];
    }
    return out;
}

std::string dateText(std::int64_t day) {
    const CivilDate d = civilFrom1601(day);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string timeText(std::int32_t minuteOfDay) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", (minuteOfDay / 60) % 24, minuteOfDay % 60);
    return buf;
}

std::string every(std::int32_t interval, const char* unit) {
    return interval == 1 ? std::string("every ") + unit
                         : "every " + std::to_string(interval) + " " + unit + "s";
}

} // namespace

std::int64_t daysFrom1601(const CivilDate& date) {
    // Days from civil, shifted so that March starts the computational year.
    const int y = date.month <= 2 ? date.year - 1 : date.year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const int mp = (date.month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + date.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t fromEpoch0 = era * 146097 + doe; // days since 0000-03-01
    constexpr std::int64_t k1601 = 584694;              // 1601-01-01 in the same count
    return fromEpoch0 - k1601;
}

CivilDate civilFrom1601(std::int64_t days) {
    const std::int64_t z = days + 584694;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate out;
    out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
    return out;
}

int weekdayFrom1601(std::int64_t days) {
    // 1601-01-01 was a Monday.
    return static_cast<int>(((days % 7) + 7 + 1) % 7);
}

std::int64_t daysFrom1601ForOleDate(double oleDate) {
    return daysFrom1601({1899, 12, 30}) + static_cast<std::int64_t>(std::floor(oleDate));
}

bool isExpandable(const RecurrenceRule& r) {
    if (r.interval < 1 || r.interval > 999)
        return false;
    const bool nth = r.kind == RecurrenceKind::MonthNth || r.kind == RecurrenceKind::YearNth;
    if ((r.kind == RecurrenceKind::Weekly || nth) && (r.daysOfWeek & 0x7F) == 0)
        return false;
    if (nth && (r.instance < 1 || r.instance > 5))
        return false;
    if ((r.kind == RecurrenceKind::Monthly || r.kind == RecurrenceKind::Yearly) &&
        (r.dayOfMonth < 1 || r.dayOfMonth > 31))
        return false;
    if ((r.kind == RecurrenceKind::Yearly || r.kind == RecurrenceKind::YearNth) &&
        (r.monthOfYear < 1 || r.monthOfYear > 12))
        return false;
    if (r.end == RecurrenceEnd::AfterCount &&
        (r.occurrences < 1 || r.occurrences > kMaxOccurrences))
        return false;
    if (r.end == RecurrenceEnd::ByDate && r.endDay < r.patternStart)
        return false;
    return r.firstDayOfWeek >= 0 && r.firstDayOfWeek <= 6 && r.patternStart >= 0;
}

std::optional<ExpandedRecurrence> expandRecurrence(const RecurrenceRule& rule) {
    if (!isExpandable(rule))
        return std::nullopt;
    ExpandedRecurrence out;
    out.endless = rule.end == RecurrenceEnd::Never;
    bool found = false;
    for (std::int64_t day = rule.patternStart; day < rule.patternStart + kSearchDays; ++day) {
        if (rule.end == RecurrenceEnd::ByDate && day > rule.endDay)
            break;
        if (!occursOn(rule, day))
            continue;
        if (!found) {
            out.firstDay = day;
            found = true;
            if (out.endless)
                return out;
        }
        out.lastDay = day;
        ++out.count;
        if (rule.end == RecurrenceEnd::AfterCount && out.count == rule.occurrences)
            break;
        if (out.count == kMaxOccurrences && rule.end == RecurrenceEnd::ByDate)
            break;
    }
    if (!found || (rule.end == RecurrenceEnd::AfterCount && out.count != rule.occurrences))
        return std::nullopt;
    return out;
}

Binary appointmentRecurrenceBlob(const RecurrenceRule& rule, const ExpandedRecurrence& series,
                                 std::int32_t startMinute, std::int32_t durationMinutes) {
    std::uint16_t frequency = kFrequencyDaily;
    std::uint16_t patternType = kPatternDay;
    std::uint32_t period = static_cast<std::uint32_t>(rule.interval);
    std::uint32_t firstDateTime = 0;
    const CivilDate first = civilFrom1601(series.firstDay);
    const auto monthlyFirstDateTime = [&](std::uint32_t months) {
        const std::int64_t index = monthIndex(first) % months;
        return minutes(daysFrom1601(
            {1601 + static_cast<int>(index / 12), static_cast<int>(index % 12) + 1, 1}));
    };
    switch (rule.kind) {
    case RecurrenceKind::Daily:
        period = static_cast<std::uint32_t>(rule.interval) * 1440;
        firstDateTime = minutes(series.firstDay) % period;
        break;
    case RecurrenceKind::Weekly:
        frequency = kFrequencyWeekly;
        patternType = kPatternWeek;
        firstDateTime = minutes(weekStart(series.firstDay, rule.firstDayOfWeek)) % (period * 10080);
        break;
    case RecurrenceKind::Monthly:
    case RecurrenceKind::MonthNth:
        frequency = kFrequencyMonthly;
        patternType = rule.kind == RecurrenceKind::Monthly ? kPatternMonth : kPatternMonthNth;
        firstDateTime = monthlyFirstDateTime(period);
        break;
    case RecurrenceKind::Yearly:
    case RecurrenceKind::YearNth:
        frequency = kFrequencyYearly;
        patternType = rule.kind == RecurrenceKind::Yearly ? kPatternMonth : kPatternMonthNth;
        period *= 12;
        firstDateTime = monthlyFirstDateTime(period);
        break;
    }

    Binary out;
    appendLe16(out, kVersion);
    appendLe16(out, kVersion);
    appendLe16(out, frequency);
    appendLe16(out, patternType);
    appendLe16(out, 0); // Gregorian calendar
    appendLe32(out, firstDateTime);
    appendLe32(out, period);
    appendLe32(out, 0); // sliding flag: tasks only
    switch (patternType) {
    case kPatternWeek:
        appendLe32(out, rule.daysOfWeek & 0x7F);
        break;
    case kPatternMonth:
        appendLe32(out, static_cast<std::uint32_t>(rule.dayOfMonth));
        break;
    case kPatternMonthNth:
        appendLe32(out, rule.daysOfWeek & 0x7F);
        appendLe32(out, static_cast<std::uint32_t>(rule.instance));
        break;
    default:
        break;
    }
    if (series.endless) {
        appendLe32(out, kEndNever);
        appendLe32(out, kNoEndCount);
    } else {
        appendLe32(out, rule.end == RecurrenceEnd::ByDate ? kEndByDate : kEndAfterCount);
        appendLe32(out, static_cast<std::uint32_t>(series.count));
    }
    appendLe32(out, static_cast<std::uint32_t>(rule.firstDayOfWeek));
    appendLe32(out, 0); // deleted instances
    appendLe32(out, 0); // modified instances
    appendLe32(out, minutes(series.firstDay));
    appendLe32(out, series.endless ? kNoEndDate : minutes(series.lastDay));
    appendLe32(out, kVersion2Reader);
    appendLe32(out, kVersion2Writer);
    appendLe32(out, static_cast<std::uint32_t>(startMinute));
    appendLe32(out, static_cast<std::uint32_t>(startMinute + durationMinutes));
    appendLe16(out, 0); // exceptions
    appendLe32(out, 0); // reserved block 1
    appendLe32(out, 0); // reserved block 2
    return out;
}

std::string recurrencePatternText(const RecurrenceRule& rule, const ExpandedRecurrence& series,
                                  std::int32_t startMinute, std::int32_t durationMinutes) {
    std::string text = "Occurs ";
    const auto nth = [&] {
        return std::string("the ") + kInstanceNames[std::clamp(rule.instance, 1, 5) - 1] + " " +
               dayList(rule.daysOfWeek);
    };
    const char* month = kMonthNames[std::clamp(rule.monthOfYear, 1, 12) - 1];
    switch (rule.kind) {
    case RecurrenceKind::Daily:
        text += every(rule.interval, "day");
        break;
    case RecurrenceKind::Weekly:
        text += every(rule.interval, "week") + " on " + dayList(rule.daysOfWeek);
        break;
    case RecurrenceKind::Monthly:
        text += "day " + std::to_string(rule.dayOfMonth) + " of " + every(rule.interval, "month");
        break;
    case RecurrenceKind::MonthNth:
        text += nth() + " of " + every(rule.interval, "month");
        break;
    case RecurrenceKind::Yearly:
        text +=
            every(rule.interval, "year") + " on " + month + " " + std::to_string(rule.dayOfMonth);
        break;
    case RecurrenceKind::YearNth:
        text += every(rule.interval, "year") + " on " + nth() + " of " + month;
        break;
    }
    text += " effective " + dateText(series.firstDay);
    if (!series.endless)
        text += " until " + dateText(series.lastDay);
    text += " from " + timeText(startMinute) + " to " + timeText(startMinute + durationMinutes);
    return text;
}

std::int32_t recurrenceTypeCode(RecurrenceKind kind) {
    switch (kind) {
    case RecurrenceKind::Daily:
        return 1;
    case RecurrenceKind::Weekly:
        return 2;
    case RecurrenceKind::Monthly:
    case RecurrenceKind::MonthNth:
        return 3;
    case RecurrenceKind::Yearly:
    case RecurrenceKind::YearNth:
        return 4;
    }
    return 0;
}

} // namespace parvelle::mapi
