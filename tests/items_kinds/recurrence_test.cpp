// Expanding recurring series (first and last occurrence, count), the local time of archive
// dates, and the component's refusal of list members that lead nowhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "items/item_kind_support.h"
#include "platform/datetime.h"
#include "store/component/mail_item.h"
#include "store/component/time_zone_rule.h"
#include "store/mapi/recurrence.h"

namespace parvelle::items::test {
namespace {

using mapi::RecurrenceEnd;
using mapi::RecurrenceKind;

std::int64_t day(int y, int m, int d) {
    return mapi::daysFrom1601({y, m, d});
}

struct SeriesCase {
    const char* name;
    mapi::RecurrenceRule rule;
    std::int64_t first, last;
    std::int32_t count;
};

mapi::RecurrenceRule rule(RecurrenceKind kind, std::int32_t interval, std::int64_t start,
                          RecurrenceEnd end, std::int32_t occurrences, std::int64_t endDay,
                          std::uint32_t days = 0, std::int32_t dayOfMonth = 0,
                          std::int32_t month = 0, std::int32_t instance = 0) {
    mapi::RecurrenceRule r;
    r.kind = kind;
    r.interval = interval;
    r.patternStart = start;
    r.end = end;
    r.occurrences = occurrences;
    r.endDay = endDay;
    r.daysOfWeek = days;
    r.dayOfMonth = dayOfMonth;
    r.monthOfYear = month;
    r.instance = instance;
    return r;
}

TEST(Recurrence, ExpandsEachKindToItsFirstAndLastOccurrence) {
    const SeriesCase cases[] = {
        {"weekdays, ten times",
         rule(RecurrenceKind::Weekly, 1, day(2024, 3, 18), RecurrenceEnd::AfterCount, 10, 0, 0x3E),
         day(2024, 3, 18), day(2024, 3, 29), 10},
        {"every second Saturday from a Monday",
         rule(RecurrenceKind::Weekly, 2, day(2024, 3, 4), RecurrenceEnd::AfterCount, 3, 0, 0x40),
         day(2024, 3, 9), day(2024, 4, 6), 3},
        {"every other day to a date",
         rule(RecurrenceKind::Daily, 2, day(2024, 4, 2), RecurrenceEnd::ByDate, 0,
              day(2024, 4, 30)),
         day(2024, 4, 2), day(2024, 4, 30), 15},
        {"the 31st falls back to the month's last day",
         rule(RecurrenceKind::Monthly, 1, day(2024, 1, 31), RecurrenceEnd::AfterCount, 3, 0, 0, 31),
         day(2024, 1, 31), day(2024, 3, 31), 3},
        {"last Friday of the month",
         rule(RecurrenceKind::MonthNth, 1, day(2024, 1, 1), RecurrenceEnd::AfterCount, 2, 0, 0x20,
              0, 0, 5),
         day(2024, 1, 26), day(2024, 2, 23), 2},
        {"second Tuesday of March, yearly",
         rule(RecurrenceKind::YearNth, 1, day(2024, 1, 1), RecurrenceEnd::AfterCount, 2, 0, 0x04, 0,
              3, 2),
         day(2024, 3, 12), day(2025, 3, 11), 2},
        {"29 February in a common year",
         rule(RecurrenceKind::Yearly, 1, day(2024, 2, 29), RecurrenceEnd::AfterCount, 2, 0, 0, 29,
              2),
         day(2024, 2, 29), day(2025, 2, 28), 2},
    };
    for (const SeriesCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto series = mapi::expandRecurrence(c.rule);
        ASSERT_TRUE(series);
        EXPECT_EQ(series->firstDay, c.first);
        EXPECT_EQ(series->lastDay, c.last);
        EXPECT_EQ(series->count, c.count);
    }
}

TEST(Recurrence, IncompleteRulesExpandToNothing) {
    const mapi::RecurrenceRule cases[] = {
        rule(RecurrenceKind::Weekly, 1, day(2024, 1, 1), RecurrenceEnd::Never, 0, 0, 0),
        rule(RecurrenceKind::MonthNth, 1, day(2024, 1, 1), RecurrenceEnd::Never, 0, 0, 0x02),
        rule(RecurrenceKind::Monthly, 0, day(2024, 1, 1), RecurrenceEnd::Never, 0, 0, 0, 1),
        rule(RecurrenceKind::Yearly, 1, day(2024, 1, 1), RecurrenceEnd::Never, 0, 0, 0, 1, 13),
        rule(RecurrenceKind::Daily, 1, day(2024, 1, 10), RecurrenceEnd::ByDate, 0, day(2024, 1, 9)),
    };
    for (const auto& r : cases)
        EXPECT_FALSE(mapi::expandRecurrence(r));
}

TEST(Recurrence, CalendarDaysRoundTrip) {
    for (std::int64_t d : {std::int64_t{0}, day(1899, 12, 30), day(2000, 2, 29), day(4500, 8, 31)})
        EXPECT_EQ(mapi::daysFrom1601(mapi::civilFrom1601(d)), d);
    EXPECT_EQ(mapi::weekdayFrom1601(day(2024, 3, 18)), 1); // a Monday
}

TEST(ToLocalDate, ShiftsUtcToTheMachineZone) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const auto ole = [](const char* text) {
        return platform::oleDateFromUnix(*platform::parseDateTime(text));
    };
    const DateStamp summer = ToLocalDate({ole("2001-05-04 00:00:00"), kDateValid});
    EXPECT_EQ(summer.status, kDateValid);
    EXPECT_DOUBLE_EQ(summer.value, ole("2001-05-04 02:00:00"));
    const DateStamp winter = ToLocalDate({ole("2024-01-15 09:00:00"), kDateValid});
    EXPECT_DOUBLE_EQ(winter.value, ole("2024-01-15 10:00:00"));
    // An invalid stamp, or one before 1601, becomes the zero date.
    EXPECT_EQ(ToLocalDate({ole("2001-05-04 00:00:00"), kDateInvalid}).value, 0);
    EXPECT_EQ(ToLocalDate({-200000, kDateValid}).value, 0);
}

std::string hexOf(const mapi::Binary& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// The zone a recurring series records, against the values genuine Outlook files carry for the
// same zones (Paris and Pacific time); Tokyo has no daylight saving time, Sydney's summer spans
// the new year.
TEST(TimeZoneStruct, RecordsTheMachineZoneAsOutlookDoes) {
    const std::string previous = std::getenv("TZ") ? std::getenv("TZ") : "";
    struct Case {
        const char* zone;
        int year;
        const char* blob;
    };
    const Case cases[] = {
        {"Europe/Paris", 2019,
         "c4ffffff00000000c4ffffff000000000a0000000500030000000000000000000000030000000500020000000"
         "0"
         "000000"},
        {"America/Los_Angeles", 2016,
         "e001000000000000c4ffffff000000000b0000000100020000000000000000000000030000000200020000000"
         "0"
         "000000"},
        {"Asia/Tokyo", 2024,
         "e4fdffff000000000000000000000000000000000000000000000000000000000000000000000000000000000"
         "0"
         "000000"},
        {"Australia/Sydney", 2024,
         "a8fdffff00000000c4ffffff000000000400000001000300000000000000000000000a0000000100020000000"
         "0"
         "000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        setenv("TZ", c.zone, 1);
        tzset();
        const component::ZoneRule rule = component::machineZoneRule(c.year);
        EXPECT_EQ(hexOf(component::timeZoneStruct(rule)), c.blob);
        EXPECT_NE(rule.description.find(c.zone), std::string::npos) << rule.description;
    }
    setenv("TZ", previous.c_str(), 1);
    tzset();
}

TEST(DistListItem, RefusesAMemberWithoutAddress) {
    auto item =
        std::make_shared<component::MailItem>("IPM.DistList", nullptr, component::FileWriters{});
    EXPECT_NO_THROW(item->call(0x6004000B, {"Alice", "alice@example.com", ""}));
    EXPECT_THROW(item->call(0x6004000B, {"No Address", "", ""}), component::ComponentError);
}

} // namespace
} // namespace parvelle::items::test
