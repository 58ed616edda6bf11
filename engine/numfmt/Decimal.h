#pragma once
#include <bit>
#include <charconv>
#include <cstdint>

// A non-negative number as at most 15 significant decimal digits, the precision the
// spreadsheet application keeps: all display rounding works on these digits, so 2.675
// shows as 2.68 with two decimals although the double is slightly below it.
namespace tabulon::numfmt {

struct Decimal {
    // value = d[0].d[1]d[2]... x 10^exp; n == 0 means zero. No trailing zeros.
    char d[24];
    int n = 0;
    int exp = 0;

    static constexpr int kMaxDigits = 15;

    // x must be finite and >= 0.
    static Decimal fromDouble(double x)
    {
        Decimal r;
        if (!(x > 0))
            return r;
        if (fromFewDecimals(x, r))
            return r;
        return fromShortest(x);
    }

    // The same digits through the shortest round-trip form of std::to_chars (the reference
    // the fast path above is tested against).
    static Decimal fromShortest(double x)
    {
        Decimal r;
        if (!(x > 0))
            return r;
        char buf[40];
        auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
        const char* p = buf;
        int digits = 0;
        char tmp[24];
        while (p < res.ptr && *p != 'e') {
            if (*p != '.' && digits < 20)
                tmp[digits++] = *p;
            ++p;
        }
        int e = 0;
        if (p < res.ptr) {
            ++p;
            bool neg = *p == '-';
            ++p;
            while (p < res.ptr)
                e = e * 10 + (*p++ - '0');
            if (neg)
                e = -e;
        }
        for (int i = 0; i < digits; ++i)
            r.d[i] = tmp[i];
        r.n = digits;
        r.exp = e;
        r.keepSignificant(kMaxDigits);
        return r;
    }

    bool isZero() const { return n == 0; }

    // Digit at decimal position pos (0 = units, -1 = tenths, 2 = hundreds).
    char digitAt(int pos) const
    {
        const int i = exp - pos;
        return i >= 0 && i < n ? d[i] : '0';
    }

    // Number of digits left of the point (0 when the value is below 1).
    int integerDigits() const { return n == 0 || exp < 0 ? 0 : exp + 1; }

    // Rounds half away from zero to `decimals` places after the point.
    void roundDecimals(int decimals) { roundAt(exp + decimals + 1); }

    // Rounds half away from zero to `count` significant digits.
    void keepSignificant(int count) { roundAt(count); }

private:
    // Most cell values are short decimals (12.5, 1234.56): the shortest digits that read back
    // as x are then y / 10^k for the least k at which some whole y does, found with a few
    // exact multiplications instead of the general shortest-digits search, which costs
    // several times more. Only where 10^k ulp(x) < 1/4: there at most one y can read back,
    // and x * 10^k rounds to it, so the digits are exactly those of the general search.
    static bool fromFewDecimals(double x, Decimal& r)
    {
        static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        if (!(x < 0x1p51) || !(x >= 1e-7))
            return false;
        // The spacing of doubles at x: 2^(e - 52) for the binary exponent e of x.
        const uint64_t biased = std::bit_cast<uint64_t>(x) >> 52;
        const double ulp = std::bit_cast<double>((biased - 52) << 52);
        for (int k = 0; k <= 22 && ulp * kPow10[k] < 0.25; ++k) {
            const double m = x * kPow10[k];
            if (!(m < 0x1p53))
                return false;
            // m is within 3/8 of the whole number sought; m - trunc(m) is exact.
            double y = static_cast<double>(static_cast<uint64_t>(m));
            if (m - y >= 0.5)
                y += 1;
            if (y / kPow10[k] != x)
                continue;
            const auto end = std::to_chars(r.d, r.d + sizeof r.d, static_cast<uint64_t>(y)).ptr;
            const int digits = static_cast<int>(end - r.d);
            r.n = digits;
            r.exp = digits - 1 - k;
            r.keepSignificant(kMaxDigits);
            return true;
        }
        return false;
    }

    // Keeps the first `keep` digits, rounding on the next one.
    void roundAt(int keep)
    {
        if (keep >= n)
            return trim();
        if (keep < 0) {
            n = 0;
            exp = 0;
            return;
        }
        const bool up = d[keep] >= '5';
        n = keep;
        if (up) {
            int i = n - 1;
            while (i >= 0 && d[i] == '9')
                --i;
            if (i < 0) {
                // All nines (or nothing kept): becomes a single 1 one place higher.
                d[0] = '1';
                n = 1;
                exp += 1;
                return;
            }
            ++d[i];
            n = i + 1;
        }
        trim();
        if (n == 0)
            exp = 0;
    }

    void trim()
    {
        while (n > 0 && d[n - 1] == '0')
            --n;
    }
};

}  // namespace tabulon::numfmt
