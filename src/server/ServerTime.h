// Local date-times of moments and the text forms the log and the response write.
#pragma once

#include <ctime>
#include <string>

#include "server/DateText.h"

namespace zephyrine::server {

// The local wall-clock date-time of a moment (seconds and nanoseconds since the epoch).
TDateTime LocalDateTime(std::time_t seconds, long nanoseconds = 0);
// The current local date-time with milliseconds.
TDateTime NowLocal();
// 0 = Sunday.
int DayOfWeek(TDateTime value);

// "hh:mm:ss:zzz" of the time-of-day part.
std::string FormatTimeMs(TDateTime value);
// strftime of the value's parts (no time zone involved), in the current C locale.
std::string FormatDateTime(TDateTime value, const char* format);

}  // namespace zephyrine::server
