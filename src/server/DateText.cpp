#include "server/DateText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "server/HTTPParse.h"

namespace zephyrine::server {

namespace {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr double kMaxDays = 3'000'000;

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

constexpr std::int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The general tokenizer the stored texts are read with: words, numbers (which may start with
// "-") and single bytes, separated by blanks and line ends.
class TDateTextTokens {
  public:
    static constexpr int kEOF = 0;
    static constexpr int kWord = 1;
    static constexpr int kNumber = 3;

    explicit TDateTextTokens(std::string_view text) : text_(text) { Advance(); }

    int Advance() {
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= ' ' &&
               text_[pos_] != 0) {
            ++pos_;
        }
        start_ = pos_;
        if (pos_ >= text_.size() || text_[pos_] == 0) return token_ = kEOF;
        const auto c = static_cast<unsigned char>(text_[pos_++]);
        if (IsLetter(c)) {
            while (pos_ < text_.size() && (IsLetter(At(pos_)) || IsDigit(At(pos_))))
                ++pos_;
            return token_ = kWord;
        }
        if (IsDigit(c) || c == '-') {
            while (pos_ < text_.size() && IsNumberByte(At(pos_)))
                ++pos_;
            return token_ = kNumber;
        }
        return token_ = c;
    }
    int Token() const { return token_; }
    int TokenNumber() const { return StrToInt(text_.substr(start_, pos_ - start_)); }
    bool TokenIsWord(std::string_view word) const {
        return token_ == kWord && SameText(text_.substr(start_, pos_ - start_), word);
    }

  private:
    static bool IsLetter(unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    }
    static bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
    static bool IsNumberByte(unsigned char c) {
        return IsDigit(c) || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e';
    }
    unsigned char At(std::size_t i) const { return static_cast<unsigned char>(text_[i]); }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
    int token_ = kEOF;
};

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
    if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        throw EConvertError("Invalid argument to date encode");
    }
    return static_cast<TDateTime>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochDays);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
        millisecond < 0 || millisecond >= 1000) {
        throw EConvertError("Invalid argument to time encode");
    }
    const std::int64_t ms =
        ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
    return static_cast<TDateTime>(ms) / static_cast<TDateTime>(kMsPerDay);
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    return date < 0 ? date - time : date + time;
}

TDateParts DecodeDateTime(TDateTime value) {
    TDateParts parts;
    // Beyond the years 1 to 9999 there is no date to show.
    if (!std::isfinite(value) || std::fabs(value) > kMaxDays) value = 0;
    auto days = static_cast<std::int64_t>(std::trunc(value));
    std::int64_t ms = std::llround(std::fabs(value - static_cast<TDateTime>(days)) *
                                   static_cast<TDateTime>(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        days += value < 0 ? -1 : 1;
    }
    CivilFromDays(days + kEpochDays, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(ms / 3'600'000);
    parts.minute = static_cast<int>(ms / 60'000 % 60);
    parts.second = static_cast<int>(ms / 1000 % 60);
    parts.millisecond = static_cast<int>(ms % 1000);
    return parts;
}

std::string DateTimeToText(TDateTime value) {
    const TDateParts p = DecodeDateTime(value);
    std::string text = "00/00/0000 00:00:00";
    const auto put = [&text](std::size_t at, int number, int digits) {
        for (int i = digits - 1; i >= 0; --i) {
            text[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + number % 10);
            number /= 10;
        }
    };
    put(0, p.month, 2);
    put(3, p.day, 2);
    put(6, p.year, 4);
    put(11, p.hour, 2);
    put(14, p.minute, 2);
    put(17, p.second, 2);
    return text;
}

TDateTime ParseDateText(std::string_view text) {
    TDateTextTokens tokens(text);
    return ReadDate(tokens, tokens.TokenNumber());
}

TDateTime Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const auto ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                           EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), ms));
}

}  // namespace zephyrine::server
