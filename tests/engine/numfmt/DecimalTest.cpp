#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "Decimal.h"

using tabulon::numfmt::Decimal;

namespace {

std::string digitsOf(const Decimal& d)
{
    return std::string(d.d, static_cast<size_t>(d.n)) + "e" + std::to_string(d.exp);
}

void expectSameDigits(double x)
{
    ASSERT_EQ(digitsOf(Decimal::fromDouble(x)), digitsOf(Decimal::fromShortest(x))) << std::hexfloat << x;
}

}  // namespace

// The shortcut for short decimals must give exactly the digits of the general search, for
// the values cells hold (prices, computed totals, dates with times) and for arbitrary bits.
TEST(Decimal, ShortDecimalsGiveTheDigitsOfTheGeneralSearch)
{
    std::mt19937_64 random(11);
    for (double x : {1.0, 0.1, 0.3, 2.675, 1234.56, 1e-7, 9.999999999999999e14, 0x1p51 - 0.25, 0x1p51, 1e15, 123456789.123,
                     0.000123, 5e-324, 1.7976931348623157e308})
        expectSameDigits(x);
    for (int i = 0; i < 300000; ++i) {
        const int64_t whole = static_cast<int64_t>(random() % 2000000000000);
        const int decimals = static_cast<int>(random() % 8);
        expectSameDigits(static_cast<double>(whole) / std::pow(10.0, decimals));
        expectSameDigits(static_cast<double>(whole % 100000) * 0.01 * 1.07);  // a computed amount
        expectSameDigits(45000 + static_cast<double>(whole % 86400) / 86400);  // a date with a time
    }
    for (int i = 0; i < 300000; ++i) {
        uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        x = std::fabs(x);
        if (std::isfinite(x))
            expectSameDigits(x);
        expectSameDigits(std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(random() % 80)));
    }
}
