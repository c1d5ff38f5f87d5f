#include "platform/datetime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace parvelle::platform {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1899-12-30 to 1970-01-01.
constexpr double kOleEpochOffsetDays = 25569.0;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Reads exactly `width` digits at s[i].
bool digits(std::string_view s, std::size_t& i, int width, int& out) {
    if (i + width > s.size())
        return false;
    out = 0;
    for (int k = 0; k < width; ++k) {
        const char c = s[i + k];
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + (c - '0');
    }
    i += width;
    return true;
}

std::string formatTm(const std::tm& tm, const char* format) {
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

} // namespace

double oleDateFromUnix(UnixSeconds t) {
    return kOleEpochOffsetDays + static_cast<double>(t) / kSecondsPerDay;
}

UnixSeconds unixFromOleDate(double oleDate) {
    return static_cast<UnixSeconds>(std::llround((oleDate - kOleEpochOffsetDays) * kSecondsPerDay));
}

std::string spacedDateText(std::string_view text) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) about " " + std::string(...).
    std::string joined;
    joined.reserve(text.size() + 1);
    const auto t = text.find('T');
    if (t == std::string_view::npos)
        return joined.append(1, ' ').append(text);
    return joined.append(text.substr(0, t)).append(1, ' ').append(text.substr(t + 1));
}

std::optional<UnixSeconds> parseDateTime(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    std::size_t i = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    if (!digits(s, i, 4, y) || i >= s.size() || s[i++] != '-' || !digits(s, i, 2, mo) ||
        i >= s.size() || s[i++] != '-' || !digits(s, i, 2, d))
        return std::nullopt;
    if (i < s.size()) {
        if (s[i] != 'T' && s[i] != ' ')
            return std::nullopt;
        ++i;
        if (!digits(s, i, 2, h) || i >= s.size() || s[i++] != ':' || !digits(s, i, 2, mi))
            return std::nullopt;
        if (i < s.size() && s[i] == ':') {
            ++i;
            if (!digits(s, i, 2, sec))
                return std::nullopt;
            if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
                ++i;
                const std::size_t start = i;
                while (i < s.size() && s[i] >= '0' && s[i] <= '9')
                    ++i;
                if (i == start)
                    return std::nullopt;
            }
        }
        if (i < s.size() && s[i] == 'Z')
            ++i;
        if (i != s.size())
            return std::nullopt;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;
    return daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * kSecondsPerDay +
           h * 3600 + mi * 60 + sec;
}

std::string clockText(UnixSeconds t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    // asctime's fixed layout: "Www Mmm dd hh:mm:ss yyyy".
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %d", kDays[tm.tm_wday % 7],
                  kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
    return buf;
}

std::string clockTextNow() {
    return clockText(static_cast<UnixSeconds>(std::time(nullptr)));
}

std::string localDateTimeText(UnixSeconds utc) {
    const std::time_t tt = static_cast<std::time_t>(utc);
    std::tm tm{};
    localtime_r(&tt, &tm);
    if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0)
        return formatTm(tm, "%x");
    return formatTm(tm, "%x %X");
}

std::string zeroDateText() {
    std::tm tm{};
    tm.tm_year = -1, tm.tm_mon = 11, tm.tm_mday = 30;
    return formatTm(tm, "%X");
}

std::string isoUtcText(UnixSeconds t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    return formatTm(tm, "%Y-%m-%dT%H:%M:%SZ");
}

void pinSystemTimeZone() {
#if defined(__GLIBC__)
    // Without TZ, glibc stats /etc/localtime in every tzset(), which strftime and mktime call;
    // TZ naming that same file is read once. Qt takes this value as "the system's zone" too.
    if (std::getenv("TZ") == nullptr) {
        ::setenv("TZ", ":/etc/localtime", 0);
        ::tzset();
    }
#endif
}

} // namespace parvelle::platform
