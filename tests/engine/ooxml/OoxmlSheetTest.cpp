#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "engine/ooxml/OoxmlSheet.h"

namespace tabulon::engine::ooxml {
namespace {

TEST(OoxmlValues, CellReferences)
{
    const struct {
        const char* ref;
        bool ok;
        uint32_t row, col;
        bool hasRow;
    } cases[] = {
        {"A1", true, 0, 0, true},
        {"b2", true, 1, 1, true},
        {"XFD1048576", true, 1048575, 16383, true},
        {"AA10", true, 9, 26, true},
        {"C", true, 99, 2, false},  // a column alone keeps the row it had
        {"XFE1", false, 0, 0, false},
        {"A1048577", false, 0, 0, false},
        {"A0", false, 0, 0, false},
        {"1A", false, 0, 0, false},
        {"A1B", false, 0, 0, false},
        {"AAAA1", false, 0, 0, false},
        {"A12345678", false, 0, 0, false},
        {"", false, 0, 0, false},
    };
    for (const auto& c : cases) {
        uint32_t row = 99, col = 99;
        bool hasRow = false;
        ASSERT_EQ(parseCellRef(c.ref, row, col, hasRow), c.ok) << c.ref;
        if (c.ok) {
            EXPECT_EQ((std::tuple{row, col, hasRow}), (std::tuple{c.row, c.col, c.hasRow})) << c.ref;
        }
    }
    EXPECT_EQ(parseRangeRef("B2:D9"), (CellRange{1, 1, 8, 3}));
    EXPECT_EQ(parseRangeRef("C3"), (CellRange{2, 2, 2, 2}));
    EXPECT_EQ(parseRangeRef("A:C"), std::nullopt);
    EXPECT_EQ(parseRangeRef("A1:ZZZZ2"), std::nullopt);
}

TEST(OoxmlValues, Numbers)
{
    const struct {
        const char* text;
        bool ok;
        double value;
    } cases[] = {
        {"42", true, 42},
        {"-7", true, -7},
        {"123456789012345", true, 123456789012345.0},
        {"1234567890123456789", true, 1234567890123456789.0},
        {"0.1", true, 0.1},
        {"1E+300", true, 1e300},
        {" +2.5 ", true, 2.5},
        {"1e-400", true, 0},  // underflow is zero
        {"1e400", false, 0},  // beyond the double range
        {"-1e400", false, 0},
        {"inf", false, 0},
        {"nan", false, 0},
        {"12abc", false, 0},
        {"", false, 0},
        {"+", false, 0},
    };
    for (const auto& c : cases) {
        double value = -1;
        ASSERT_EQ(parseNumber(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }

    // Short decimals take a shortcut that must round exactly as the general parser does.
    std::mt19937_64 random(5);
    for (int i = 0; i < 200000; ++i) {
        const int decimals = static_cast<int>(random() % 16);
        std::string text = std::to_string(random() % 1000000000000000);
        text.insert(0, static_cast<size_t>(std::max(0, decimals + 1 - static_cast<int>(text.size()))), '0');
        if (decimals > 0)
            text.insert(text.size() - static_cast<size_t>(decimals), ".");
        if (i % 3 == 0)
            text.insert(0, "-");
        double fast = 0, general = 0;
        ASSERT_TRUE(parseNumber(text, fast)) << text;
        std::from_chars(text.data(), text.data() + text.size(), general);
        ASSERT_EQ(fast, general) << text;
    }
    for (const char* text : {"1.", ".5", "-.5", "007.50"}) {
        double value = 0;
        EXPECT_TRUE(parseNumber(text, value)) << text;
        EXPECT_EQ(value, std::strtod(text, nullptr)) << text;
    }
    for (const char* text : {".", "-", "1.2.3", "--1", "1-"}) {
        double value = 0;
        EXPECT_FALSE(parseNumber(text, value)) << text;
    }

    uint32_t u = 0;
    EXPECT_TRUE(parseUnsigned("4294967295", u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_TRUE(parseUnsigned(" +17\n", u));
    EXPECT_EQ(u, 17u);
    EXPECT_FALSE(parseUnsigned("4294967296", u));
    EXPECT_FALSE(parseUnsigned("-1", u));
    EXPECT_FALSE(parseUnsigned("1.0", u));
}

TEST(OoxmlValues, IsoDatesAsSerials)
{
    const struct {
        const char* text;
        bool date1904;
        bool ok;
        double serial;
    } cases[] = {
        {"1900-01-01", false, true, 1},
        {"1900-02-28", false, true, 59},
        {"1900-03-01", false, true, 61},  // after the 29 February 1900 the 1900 system counts
        {"2024-01-01T12:00:00", false, true, 45292.5},
        {"2024-01-01 06:00", false, true, 45292.25},
        {"2024-01-01T00:00:00Z", false, true, 45292},
        {"2024-01-01T18:00:00+02:00", false, true, 45292.75},
        {"T06:00:00.5", false, true, (6 * 3600 + 0.5) / 86400.0},
        {"1904-01-02", true, true, 1},
        {"1899-12-31", false, true, 0},
        {"2024-13-01", false, false, 0},
        {"2024-01-01T25:00", false, false, 0},
        {"2024-01-01T10:60", false, false, 0},
        {"2024-01-01X", false, false, 0},
        {"yesterday", false, false, 0},
    };
    for (const auto& c : cases) {
        double serial = -1;
        ASSERT_EQ(isoToSerial(c.text, c.date1904, serial), c.ok) << c.text;
        if (c.ok) {
            EXPECT_NEAR(serial, c.serial, 1e-9) << c.text;
        }
    }
}

TEST(OoxmlValues, EscapedCharacters)
{
    const struct {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"a_x000D__x000A_b", "a\r\nb"},
        {"_x005F_x0041_", "_x0041_"},    // an escaped underscore keeps the literal text
        {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},  // a surrogate pair joins
        {"_xD83D_", "\xEF\xBF\xBD"},       // alone it cannot stand
        {"_x0000_", "\xEF\xBF\xBD"},
        {"_x00e9_", "\xC3\xA9"},
        {"_x12_ and _xZZZZ_ and _x0041", "_x12_ and _xZZZZ_ and _x0041"},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        decodeEscapes(text);
        EXPECT_EQ(text, c.decoded) << c.text;
    }
    std::string tail = "_x0041__x0042_";
    decodeEscapes(tail, 7);
    EXPECT_EQ(tail, "_x0041_B");
}

}  // namespace
}  // namespace tabulon::engine::ooxml
