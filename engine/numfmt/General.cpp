#include "General.h"

#include <cmath>

namespace tabulon::numfmt::detail {

void appendGeneralDecimal(const Decimal& x, std::string& out)
{
    auto scientific = [&](Decimal m) {
        m.keepSignificant(6);
        out += m.d[0];
        if (m.n > 1) {
            out += '.';
            out.append(m.d + 1, m.n - 1);
        }
        out += 'E';
        out += m.exp < 0 ? '-' : '+';
        appendUInt(out, static_cast<uint64_t>(m.exp < 0 ? -m.exp : m.exp), 2);
    };
    if (x.isZero()) {
        out += '0';
        return;
    }
    // Eleven characters at most: integers up to 11 digits, otherwise as many decimals as
    // fit; scientific when the integer part is too wide or fixed notation would keep fewer
    // than the six significant digits scientific shows.
    if (x.exp >= 11 || x.exp < -4)
        return scientific(x);
    Decimal r = x;
    r.roundDecimals(x.exp < 0 ? 9 : std::max(0, 9 - x.exp));
    if (r.exp >= 11)
        return scientific(x);
    const int intLen = r.integerDigits();
    if (intLen == 0)
        out += '0';
    for (int p = intLen - 1; p >= 0; --p)
        out += r.digitAt(p);
    const int lastPos = r.exp - (r.n - 1);
    if (lastPos < 0) {
        out += '.';
        for (int p = -1; p >= lastPos; --p)
            out += r.digitAt(p);
    }
}

void appendGeneral(double v, std::string& out)
{
    if (!std::isfinite(v)) {
        out += "#NUM!";
        return;
    }
    if (v < 0) {
        out += '-';
        v = -v;
    }
    if (v < 1e11 && v == std::floor(v)) {
        appendUInt(out, static_cast<uint64_t>(v));
        return;
    }
    appendGeneralDecimal(Decimal::fromDouble(v), out);
}

}  // namespace tabulon::numfmt::detail
