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

// The date reader shared by stored texts and request headers. TTokens is a tokenizer with
// Advance(), Token(), TokenNumber() and TokenIsWord(word); the first token of the date (a
// header's name, or the month number of a stored text) is current. month is that number, or
// kNoMonth when the month is to be read by name. Reads RFC 1123, RFC 850 and asctime forms and
// the stored month/day/year form; the token after the time (a zone) is left current.
inline constexpr int kNoMonth = 13;

template <class TTokens>
int NamedMonth(const TTokens& tokens, int month) {
    if (month < kNoMonth) return month;
    for (int m = 1; m <= 12; ++m) {
        if (tokens.TokenIsWord(kShortMonthNames[m - 1])) return m;
    }
    return kNoMonth;
}

template <class TTokens>
TDateTime ReadTimeOfDay(TTokens& tokens) {
    const int hour = tokens.TokenNumber();
    tokens.Advance();
    if (tokens.Token() == ':') tokens.Advance();
    const int minute = tokens.TokenNumber();
    tokens.Advance();
    if (tokens.Token() == ':') tokens.Advance();
    const int second = tokens.TokenNumber();
    tokens.Advance();
    return EncodeTime(hour, minute, second);
}

template <class TTokens>
TDateTime ReadDate(TTokens& tokens, int month) {
    tokens.Advance();
    if (tokens.Token() == ':') tokens.Advance();
    tokens.Advance();  // the weekday, or the separator after a month number
    if (tokens.Token() == ',') tokens.Advance();
    int day = 0;
    int year = 0;
    TDateTime time = 0;
    if (month >= kNoMonth && (month = NamedMonth(tokens, kNoMonth)) < kNoMonth) {
        tokens.Advance();  // asctime: month day time year
        day = tokens.TokenNumber();
        tokens.Advance();
        time = ReadTimeOfDay(tokens);
        year = tokens.TokenNumber();
    } else {
        day = tokens.TokenNumber();
        tokens.Advance();
        if (tokens.Token() == '-') tokens.Advance();
        month = NamedMonth(tokens, month);
        tokens.Advance();
        if (tokens.Token() == '-') tokens.Advance();
        year = tokens.TokenNumber();
        if (year < 100) year += kTwoDigitYearBase;
        tokens.Advance();
        time = ReadTimeOfDay(tokens);
    }
    return ComposeDateTime(EncodeDate(year, month, day), time);
}

// The current local date-time.
TDateTime Now();

}  // namespace zephyrine::server
