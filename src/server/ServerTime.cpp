#include "server/ServerTime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zephyrine::server {

TDateTime LocalDateTime(std::time_t seconds, long nanoseconds) {
    std::tm tm{};
    localtime_r(&seconds, &tm);
    return ComposeDateTime(EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                           EncodeTime(tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59),
                                      static_cast<int>(nanoseconds / 1'000'000)));
}

TDateTime NowLocal() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return LocalDateTime(ts.tv_sec, ts.tv_nsec);
}

int DayOfWeek(TDateTime value) {
    // Day 0, 1899-12-30, was a Saturday.
    const auto days = static_cast<long long>(std::floor(value));
    return static_cast<int>(((days % 7) + 7 + 6) % 7);
}

std::string FormatTimeMs(TDateTime value) {
    const TDateParts p = DecodeDateTime(value);
    char out[32];
    std::snprintf(out, sizeof out, "%02d:%02d:%02d:%03d", p.hour, p.minute, p.second,
                  p.millisecond);
    return out;
}

std::string FormatDateTime(TDateTime value, const char* format) {
    const TDateParts p = DecodeDateTime(value);
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_wday = DayOfWeek(value);
    char out[128];
    const std::size_t n = std::strftime(out, sizeof out, format, &tm);
    return std::string(out, n);
}

}  // namespace zephyrine::server
