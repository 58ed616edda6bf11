#pragma once
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
