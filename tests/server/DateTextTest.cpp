#include "server/DateText.h"

#include <gtest/gtest.h>

#include "server/HTTPParse.h"

using namespace zephyrine::server;

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return ComposeDateTime(EncodeDate(y, mo, d), EncodeTime(h, mi, s));
}

std::string ConvertErrorOf(std::string_view text) {
    try {
        ParseDateText(text);
    } catch (const EConvertError& e) {
        return e.what();
    }
    return "";
}

TEST(DateText, DaysCountFrom1899December30) {
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    EXPECT_EQ(EncodeDate(2000, 2, 29) - EncodeDate(2000, 2, 28), 1.0);
    EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
    EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0), 0.5);
    EXPECT_DOUBLE_EQ(EncodeTime(6, 0, 0, 0), 0.25);
}

TEST(DateText, OutOfRangeValuesRaise) {
    const struct {
        int y, mo, d;
    } badDates[] = {{0, 1, 1},     {10000, 1, 1}, {2001, 2, 29}, {1900, 2, 29},
                    {2000, 13, 1}, {2000, 0, 1},  {2000, 4, 31}, {2000, 1, 0}};
    for (const auto& b : badDates) {
        EXPECT_THROW(
            {
                try {
                    EncodeDate(b.y, b.mo, b.d);
                } catch (const EConvertError& e) {
                    EXPECT_STREQ(e.what(), "Invalid argument to date encode");
                    throw;
                }
            },
            EConvertError)
            << b.y << "-" << b.mo << "-" << b.d;
    }
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
    const struct { int h, mi, s; } badTimes[] = {{24, 0, 0}, {0, 60, 0}, {0, 0, 60}, {-1, 0, 0}};
    for (const auto& b : badTimes) {
        try {
            EncodeTime(b.h, b.mi, b.s);
            ADD_FAILURE() << b.h << ":" << b.mi << ":" << b.s << " encoded";
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "Invalid argument to time encode");
        }
    }
}

TEST(DateText, StoredTextReadsBackUnchanged) {
    const TDateTime values[] = {
        At(1994, 11, 6, 8, 49, 37), At(2026, 12, 8, 0, 0, 0), At(2000, 2, 29, 23, 59, 59),
        At(1899, 12, 30, 12, 0, 0), At(1850, 3, 4, 5, 6, 7),  At(9999, 12, 31, 1, 2, 3),
        At(100, 1, 1, 0, 0, 1),
    };
    for (const TDateTime v : values) {
        const std::string text = DateTimeToText(v);
        EXPECT_NEAR(ParseDateText(text), v, 1e-9) << text;
        EXPECT_EQ(DateTimeToText(ParseDateText(text)), text);
    }
    EXPECT_EQ(DateTimeToText(At(1994, 11, 6, 8, 49, 37)), "11/06/1994 08:49:37");
    EXPECT_EQ(DateTimeToText(At(2026, 1, 2)), "01/02/2026 00:00:00");  // midnight keeps its time
    EXPECT_EQ(DateTimeToText(At(1850, 3, 4, 18, 0, 0)), "03/04/1850 18:00:00");
}

TEST(DateText, DecodeSplitsDateAndTime) {
    const TDateParts p = DecodeDateTime(At(2024, 2, 29, 13, 14, 15) + 0.5 / 86400000);
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 13);
    EXPECT_EQ(p.minute, 14);
    EXPECT_EQ(p.second, 15);
    // Just below midnight rounds up into the next day rather than to 24:00:00.
    const TDateParts q = DecodeDateTime(EncodeDate(2024, 12, 31) + 0.9999999999);
    EXPECT_EQ(q.year, 2025);
    EXPECT_EQ(q.hour, 0);
}

TEST(DateText, ParserReadsOtherOrders) {
    // A first number of 13 or more makes the next word the month name.
    EXPECT_EQ(ParseDateText("2000 x Jan 5 10:20:30 2001"), At(2001, 1, 5, 10, 20, 30));
    EXPECT_EQ(ParseDateText("99 x 5 Feb 03 01:02:03"), At(1903, 2, 5, 1, 2, 3));
    EXPECT_EQ(ParseDateText("11/06/94 08:49:37"), At(1994, 11, 6, 8, 49, 37));
    EXPECT_EQ(ParseDateText("11/06/1994 08:49:37 PM"), At(1994, 11, 6, 8, 49, 37));
    EXPECT_EQ(ParseDateText("  11/06/1994\r\n08 49 37"), At(1994, 11, 6, 8, 49, 37));
}

TEST(DateText, MalformedTextsRaise) {
    const struct {
        const char* description;
        const char* text;
        const char* expected;
    } cases[] = {
        {"date without time", "11/06/1994", "'' is not a valid integer value"},
        {"first token not a number", "Sun, 06 Nov 1994 08:49:37",
         "'Sun' is not a valid integer value"},
        {"empty text", "", "'' is not a valid integer value"},
        {"a dash starts a number", "11/06-1994 08:49:37", "'06-1994' is not a valid integer value"},
        {"month out of range", "13/06/1994 08:49:37", "Invalid argument to date encode"},
        {"day out of range", "02/30/1994 08:49:37", "Invalid argument to date encode"},
        {"hour out of range", "02/03/1994 24:00:00", "Invalid argument to time encode"},
        {"no month name after a large number", "2000 x Foo 5 10:20:30 2001",
         "'Foo' is not a valid integer value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConvertErrorOf(c.text), c.expected) << c.description;
}

}  // namespace
