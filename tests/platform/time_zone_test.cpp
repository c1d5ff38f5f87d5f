// The process settles on the time zone it starts with, without changing any local time.
#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace parvelle::platform {
namespace {

struct LocalFields {
    int hour, isDst;
    long offset;
    bool operator==(const LocalFields&) const = default;
};

LocalFields localAt(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_hour, tm.tm_isdst, tm.tm_gmtoff};
}

TEST(PinSystemTimeZone, KeepsTheZoneAndEveryLocalTime) {
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> before =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    struct Case {
        const char* tz;       // null: unset
        const char* expected; // null: still unset
    };
    const Case cases[] = {
#if defined(__GLIBC__)
        {nullptr, ":/etc/localtime"}, // the system's zone file, read once from now on
#else
        {nullptr, nullptr}, // other C libraries are left as they are
#endif
        {"Europe/Berlin", "Europe/Berlin"},
        {"XYZ-2", "XYZ-2"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tz ? c.tz : "(unset)");
        if (c.tz)
            ::setenv("TZ", c.tz, 1);
        else
            ::unsetenv("TZ");
        ::tzset();
        // A winter and a summer instant, so that a changed daylight-saving rule shows too.
        const LocalFields winter = localAt(1700000000), summer = localAt(1720000000);
        pinSystemTimeZone();
        EXPECT_STREQ(std::getenv("TZ"), c.expected);
        EXPECT_EQ(localAt(1700000000), winter);
        EXPECT_EQ(localAt(1720000000), summer);
    }
    if (before)
        ::setenv("TZ", before->c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace
} // namespace parvelle::platform
