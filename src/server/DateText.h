// Date-times as days since 1899-12-30 (the fraction is the time of day), their text form
// month/day/year HH:MM:SS, and the parser that reads such texts and header dates back.
#pragma once

#include <string>
#include <string_view>

namespace zephyrine::server {

using TDateTime = double;

// A two-digit year in a date text counts from this year.
constexpr int kTwoDigitYearBase = 1900;
inline constexpr std::string_view kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct TDateParts {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Throw EConvertError "Invalid argument to date encode" / "... time encode" on values out of
// range (years 1 to 9999; a time below 24:00:00).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
// The date plus the time of day, also for dates before 1899-12-30.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
TDateParts DecodeDateTime(TDateTime value);

// "MM/DD/YYYY HH:MM:SS", the time part always present.
std::string DateTimeToText(TDateTime value);
// Reads a stored date-time text (month/day/year hour:minute:second) back; also accepts the
// day-month-year and month-name orders. Conversion failures throw EConvertError.
TDateTime ParseDateText(std::string_view text);

// The current local date-time.
TDateTime Now();

}  // namespace zephyrine::server
