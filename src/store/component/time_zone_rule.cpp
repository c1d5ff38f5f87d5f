#include "store/component/time_zone_rule.h"

#include "store/mapi/little_endian.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace parvelle::component {
namespace {

struct Instant {
    std::time_t at = 0;
    long offset = 0; // seconds east of UTC
    bool daylight = false;
};

Instant instant(std::time_t at) {
    std::tm fields{};
    localtime_r(&at, &fields);
    return {at, fields.tm_gmtoff, fields.tm_isdst > 0};
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// The switch at `at`, told in the wall-clock time that was in force just before it.
ZoneSwitch switchAt(std::time_t at, long offsetBefore) {
    const std::time_t local = at + offsetBefore;
    std::tm f{};
    gmtime_r(&local, &f);
    ZoneSwitch s;
    s.month = static_cast<std::uint16_t>(f.tm_mon + 1);
    s.dayOfWeek = static_cast<std::uint16_t>(f.tm_wday);
    s.week = static_cast<std::uint16_t>(
        f.tm_mday + 7 > daysInMonth(f.tm_year + 1900, f.tm_mon + 1) ? 5 : (f.tm_mday - 1) / 7 + 1);
    s.hour = static_cast<std::uint16_t>(f.tm_hour);
    s.minute = static_cast<std::uint16_t>(f.tm_min);
    return s;
}

// The zone's name: TZ when set, else where /etc/localtime leads in the zone database.
std::string zoneName() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0')
        return *tz == ':' ? tz + 1 : tz;
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink("/etc/localtime", ec).string();
    const auto at = target.find("zoneinfo/");
    return at == std::string::npos ? std::string() : target.substr(at + 9);
}

std::string describe(std::int32_t bias) {
    const std::int32_t east = -bias;
    char text[24];
    std::snprintf(text, sizeof text, "(UTC%c%02d:%02d)", east < 0 ? '-' : '+', std::abs(east) / 60,
                  std::abs(east) % 60);
    const std::string name = zoneName();
    return name.empty() ? std::string(text) : std::string(text) + " " + name;
}

void put32(mapi::Binary& out, std::int32_t v) {
    mapi::appendLe32(out, static_cast<std::uint32_t>(v));
}

// A SYSTEMTIME of a yearly switch (no year, no seconds).
void putSwitch(mapi::Binary& out, const ZoneSwitch& s) {
    for (std::uint16_t v : {std::uint16_t{0}, s.month, s.dayOfWeek, s.week, s.hour, s.minute,
                            std::uint16_t{0}, std::uint16_t{0}})
        mapi::appendLe16(out, v);
}

} // namespace

ZoneRule machineZoneRule(int year) {
    // Switches are months apart: half-day steps find each, a bisection its second.
    constexpr std::time_t kStep = 12 * 3600;
    std::tm first{};
    first.tm_year = year - 1900;
    first.tm_mday = 1;
    const std::time_t begin = timegm(&first);
    first.tm_year += 1;
    const std::time_t end = timegm(&first);

    ZoneRule rule;
    Instant previous = instant(begin);
    long standard = previous.daylight ? 0 : previous.offset;
    bool haveStandard = !previous.daylight;
    for (std::time_t t = begin + kStep; t <= end; t += kStep) {
        const Instant now = instant(t);
        if (now.offset != previous.offset && now.daylight != previous.daylight) {
            // The exact second of the switch within the step.
            std::time_t low = previous.at, high = now.at;
            while (high - low > 1) {
                const std::time_t mid = low + (high - low) / 2;
                (instant(mid).offset == previous.offset ? low : high) = mid;
            }
            if (now.daylight)
                rule.toDaylight = switchAt(high, previous.offset);
            else
                rule.toStandard = switchAt(high, previous.offset);
            rule.daylightBias = static_cast<std::int32_t>(
                -(now.daylight ? now.offset - previous.offset : previous.offset - now.offset) / 60);
        }
        if (!now.daylight && !haveStandard) {
            standard = now.offset;
            haveStandard = true;
        }
        previous = now;
    }
    if (rule.toDaylight.month == 0 || rule.toStandard.month == 0) {
        // Not both switches in that year: no daylight saving time to describe.
        rule.toDaylight = rule.toStandard = {};
        rule.daylightBias = 0;
        standard = instant(begin).offset;
    }
    rule.bias = static_cast<std::int32_t>(-standard / 60);
    rule.description = describe(rule.bias);
    return rule;
}

mapi::Binary timeZoneStruct(const ZoneRule& rule) {
    mapi::Binary out;
    put32(out, rule.bias);
    put32(out, 0); // standard bias
    put32(out, rule.daylightBias);
    mapi::appendLe16(out, 0); // the standard switch's year: every year
    putSwitch(out, rule.toStandard);
    mapi::appendLe16(out, 0);
    putSwitch(out, rule.toDaylight);
    return out;
}

} // namespace parvelle::component
