// Coercions between the value types, as the application applies them in formulas.
#include <gtest/gtest.h>

#include "formula/Dates.h"
#include "formula/Value.h"

using namespace tabulon::formula;

TEST(Value, TextToNumberReadsWhatACellEntryWould)
{
    struct Case {
        const char* text;
        double expected;
    };
    const Case cases[] = {
        {"12", 12},
        {" 12.5 ", 12.5},
        {"-3", -3},
        {"1e3", 1000},
        {"50%", 0.5},
        {"$1,234.50", 1234.5},
        {"(42)", -42},
        {"2024-01-31", 45322},
        {"1/31/2024", 45322},
        {"31-Jan-2024", 45322},
        {"Jan 31, 2024", 45322},
        {"12:00", 0.5},
        {"6:00 PM", 0.75},
        {"2024-01-31 06:00", 45322.25},
        {"2/29/1900", 60},
    };
    for (const auto& c : cases) {
        const auto n = toNumber(Value::text(c.text));
        ASSERT_FALSE(n.error) << c.text;
        EXPECT_DOUBLE_EQ(n.value, c.expected) << c.text;
    }
}

TEST(Value, TextThatIsNoNumberIsAValueError)
{
    for (const char* text : {"", "abc", "1,23", "12abc", "1e", "13/45/2020", "2/30/2023", "25:99"})
        EXPECT_EQ(toNumber(Value::text(text)).error, ErrorCode::Value) << text;
}

TEST(Value, NumbersBecomeTextWithFifteenSignificantDigits)
{
    EXPECT_EQ(toText(Value::number(6)), "6");
    EXPECT_EQ(toText(Value::number(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(toText(Value::number(-0.1 - 0.2)), "-0.3");
    EXPECT_EQ(toText(Value::number(123456789012.0)), "123456789012");
    EXPECT_EQ(toText(Value::number(1e21)), "1E+21");
    EXPECT_EQ(toText(Value::number(0.0001)), "0.0001");
    EXPECT_EQ(toText(Value::boolean(true)), "TRUE");
    EXPECT_EQ(toText(Value()), "");
}

TEST(Value, ComparisonRanksNumbersBelowTextBelowBooleans)
{
    EXPECT_LT(compareScalars(Value::number(1e9), Value::text("a")), 0);
    EXPECT_LT(compareScalars(Value::text("zzz"), Value::boolean(false)), 0);
    EXPECT_EQ(compareScalars(Value::text("Apple"), Value::text("aPPLE")), 0);
    EXPECT_EQ(compareScalars(Value::text("straße"), Value::text("STRAßE")), 0);
    EXPECT_EQ(compareScalars(Value(), Value::number(0)), 0);
    EXPECT_EQ(compareScalars(Value(), Value::text("")), 0);
    EXPECT_EQ(compareScalars(Value(), Value::boolean(false)), 0);
    EXPECT_LT(compareScalars(Value(), Value::text("a")), 0);
    EXPECT_GT(compareScalars(Value(), Value::number(-1)), 0);
}

TEST(Value, BooleansFromText)
{
    EXPECT_TRUE(toBool(Value::text("true")).value);
    EXPECT_FALSE(toBool(Value::text("FALSE")).value);
    EXPECT_EQ(toBool(Value::text("yes")).error, ErrorCode::Value);
    EXPECT_EQ(toBool(Value::error(ErrorCode::NA)).error, ErrorCode::NA);
}

TEST(Dates, SerialsKeepTheApplicationsLeapDayOf1900)
{
    EXPECT_EQ(serialFromDate(1900, 1, 1, false), 1.0);
    EXPECT_EQ(serialFromDate(1900, 2, 28, false), 59.0);
    EXPECT_EQ(serialFromDate(1900, 3, 1, false), 61.0);
    EXPECT_EQ(serialFromDate(2024, 1, 31, false), 45322.0);
    EXPECT_EQ(serialFromDate(2023, 14, 1, false), 45323.0);  // month 14 = February of the next year
    EXPECT_EQ(serialFromDate(2024, 3, 0, false), 45351.0);   // day 0 = last of February
    EXPECT_EQ(serialFromDate(108, 1, 1, false), 39448.0);    // years below 1900 count from 1900
    EXPECT_EQ(serialFromDate(1904, 1, 1, true), 0.0);
    EXPECT_EQ(serialFromDate(1900, 1, -1, false), std::nullopt);
    EXPECT_EQ(serialFromDate(1899, 12, 31, false), 693962.0);  // 3799-12-31
    EXPECT_EQ(serialFromDate(10000, 1, 1, false), std::nullopt);

    const Ymd leap = dateFromSerial(60, false);
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    const Ymd d = dateFromSerial(45322, false);
    EXPECT_EQ(d.year, 2024);
    EXPECT_EQ(d.month, 1);
    EXPECT_EQ(d.day, 31);
    EXPECT_EQ(dateFromSerial(59, false).day, 28);
    EXPECT_EQ(dateFromSerial(1, true).day, 2);
}
