#include "SectionRenderer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <tuple>

#include "Decimal.h"
#include "General.h"

namespace tabulon::numfmt::detail {

namespace {

// Fraction denominators beyond nine digits add nothing a double can tell apart.
constexpr int kMaxDenominatorDigits = 9;
// Last day a date can show: 9999-12-31.
constexpr int64_t kMaxDay1900 = 2958465;
constexpr int64_t kMaxDay1904 = kMaxDay1900 - 1462;

constexpr std::array<std::string_view, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                      "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kDays = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The Japanese eras from Meiji on: first day, Latin initial, name. The first year of an
// era shows as 1 (the written form 元年 is a display option the format code does not carry).
struct JapaneseEra {
    int year, month, day;
    std::string_view letter, name;
};
constexpr std::array<JapaneseEra, 5> kEras = {{
    {1868, 1, 1, "M", "明治"},
    {1912, 7, 30, "T", "大正"},
    {1926, 12, 25, "S", "昭和"},
    {1989, 1, 8, "H", "平成"},
    {2019, 5, 1, "R", "令和"},
}};

const JapaneseEra& eraOf(int year, int month, int day)
{
    size_t i = kEras.size() - 1;
    while (i > 0 && std::tie(year, month, day) < std::tie(kEras[i].year, kEras[i].month, kEras[i].day))
        --i;
    return kEras[i];
}

// Writes `digits` right-aligned into a run of `count` placeholders; the first placeholder
// takes any excess digits. `index` is this placeholder's position in the run.
struct RightAligned {
    const char* digits;
    int len;
    int count;
    bool grouping;

    void emit(int index, char placeholder, std::string& out) const
    {
        const int p = count - 1 - index;
        if (index == 0)
            for (int pos = len - 1; pos > p; --pos)
                put(digits[len - 1 - pos], pos, out);
        if (p < len)
            put(digits[len - 1 - p], p, out);
        else if (placeholder == '0')
            put('0', p, out);
        else if (placeholder == '?')
            put(' ', p, out);
    }

    void put(char c, int pos, std::string& out) const
    {
        out += c;
        if (grouping && pos > 0 && pos % 3 == 0)
            out += c == ' ' ? ' ' : ',';
    }
};

// Integer digits of a decimal, without leading zeros ("" for zero).
int integerString(const Decimal& x, char* buf)
{
    const int len = std::min(x.integerDigits(), 790);
    for (int i = 0; i < len; ++i)
        buf[i] = x.digitAt(len - 1 - i);
    return len;
}

int uintString(uint64_t v, char* buf)
{
    if (v == 0)
        return 0;
    auto res = std::to_chars(buf, buf + 24, v);
    return int(res.ptr - buf);
}

int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

struct NumberParts {
    char intBuf[800];
    int intLen = 0;
    Decimal frac;  // the rounded value, for the digits after the point
    int fracShown = 0;  // number of fraction placeholders that print something
    char expBuf[24];
    int expLen = 0;
    bool expNegative = false;
    // Fractions
    char numBuf[800], denBuf[24];
    int numLen = 0, denLen = 0;
    bool blankFraction = false;
    bool nonZero = false;
};

void prepareFractionDigits(const Section& s, const Decimal& x, NumberParts& parts)
{
    parts.frac = x;
    int last = 0;
    for (int j = 1; j <= s.fracDigits; ++j)
        if (x.digitAt(-j) != '0' || s.fracChars[j - 1] == '0')
            last = j;
    parts.fracShown = last;
}

// The last continued-fraction convergent of x (in [0, 1)) whose denominator is at most
// maxDen. This is the fraction the application shows: not always the closest one (0.94
// with one digit is 1, not 8/9), as it never tries semiconvergents. The expansion runs in
// doubles as the application's does, and their rounding decides some cases: 0.03 expands
// as [0; 33, 2, 1, ...] and shows 2/67, while the fractional part of 1.03, a little above
// 0.03, expands as [0; 33, 3, ...] and shows 1/33.
void lastConvergent(double x, int64_t maxDen, int64_t& p, int64_t& q)
{
    // Convergent k is a_k times convergent k-1 plus convergent k-2. The integer part a_0 is
    // 0, so the first convergent is 0/1 and the one before it 1/0.
    int64_t pPrev = 1, qPrev = 0;
    p = 0;
    q = 1;
    double f = x;
    for (int step = 0; step < 64 && f > 0; ++step) {
        const double r = 1 / f;
        const double a = std::floor(r);
        if (!(a <= double((maxDen - qPrev) / q)))
            break;
        const auto ai = static_cast<int64_t>(a);
        const int64_t p2 = ai * p + pPrev, q2 = ai * q + qPrev;
        if (q2 > maxDen)
            break;
        pPrev = p, qPrev = q;
        p = p2, q = q2;
        f = r - a;
    }
}

class SectionRenderer {
public:
    SectionRenderer(const Section& s, std::string& out) : m_s(s), m_out(out) {}

    // Renders a number through a numeric section; x is the absolute value.
    // Returns whether any non-zero digit is shown.
    bool number(double x)
    {
        const Section& s = m_s;
        NumberParts& p = m_parts;
        Decimal d = Decimal::fromDouble(x);
        if (!d.isZero())
            d.exp += s.shift;
        switch (s.kind) {
        case Kind::Number:
            d.roundDecimals(std::min(s.fracDigits, 400));
            p.intLen = integerString(d, p.intBuf);
            prepareFractionDigits(s, d, p);
            p.nonZero = !d.isZero();
            break;
        case Kind::Scientific: {
            const int m = std::max(1, s.intDigits);
            int64_t e = d.isZero() ? 0 : d.exp;
            int64_t x10 = floorDiv(e, m) * m;
            d.exp = static_cast<int>(e - x10);
            d.roundDecimals(std::min(s.fracDigits, 400));
            if (!d.isZero()) {
                const int64_t e2 = d.exp + x10;
                const int64_t y10 = floorDiv(e2, m) * m;
                if (y10 != x10) {
                    x10 = y10;
                    d.exp = static_cast<int>(e2 - y10);
                }
            }
            p.intLen = integerString(d, p.intBuf);
            prepareFractionDigits(s, d, p);
            p.expNegative = x10 < 0;
            p.expLen = uintString(static_cast<uint64_t>(x10 < 0 ? -x10 : x10), p.expBuf);
            p.nonZero = !d.isZero();
            break;
        }
        case Kind::Fraction:
            fraction(d);
            break;
        default:
            break;
        }
        emit(x);
        return m_s.kind == Kind::Number || m_s.kind == Kind::Scientific || m_s.kind == Kind::Fraction ? p.nonZero
                                                                                                     : x != 0;
    }

    void text(std::string_view text)
    {
        for (const Token& t : m_s.toks) {
            // In a text section General stands for the text, as @ does.
            if (t.kind == TokenKind::Text || t.kind == TokenKind::General)
                m_out += text;
            else if (t.kind == TokenKind::Lit)
                m_out += m_s.text(t);
        }
    }

    // Renders a date or time; false when the serial is outside what a date can show.
    bool date(double serial, bool date1904)
    {
        const Section& s = m_s;
        if (!(serial >= 0) || !std::isfinite(serial))
            return false;
        static constexpr int64_t kScale[] = {1, 10, 100, 1000};
        const int64_t scale = kScale[s.subSecond];
        const int64_t perDay = 86400 * scale;
        const int64_t maxDay = date1904 ? kMaxDay1904 : kMaxDay1900;
        if (serial >= double(maxDay + 1))
            return false;
        // Seconds round to the shown precision and carry into minutes, hours and days.
        const auto units = static_cast<int64_t>(std::floor(serial * double(perDay) + 0.5 + 1e-7));
        const int64_t days = units / perDay;
        if (days > maxDay)
            return false;
        const int64_t inDay = units % perDay;
        const int64_t secs = inDay / scale;
        const int64_t sub = inDay % scale;
        const int hour = static_cast<int>(secs / 3600);
        const int minute = static_cast<int>(secs / 60 % 60);
        const int second = static_cast<int>(secs % 60);

        int year = 1900, month = 1, day = 0, weekday = 0;
        civil(days, date1904, year, month, day, weekday);

        bool elapsedBefore = false;  // an elapsed field left of this one takes the larger units
        for (const Token& t : s.toks) {
            switch (t.kind) {
            case TokenKind::Lit: m_out += s.text(t); break;
            case TokenKind::Year2: appendUInt(m_out, static_cast<uint64_t>(year % 100), 2); break;
            case TokenKind::Year4: appendUInt(m_out, static_cast<uint64_t>(year), 4); break;
            case TokenKind::Era: {
                const JapaneseEra& era = eraOf(year, month, day);
                // Each kanji takes three bytes in UTF-8; gg shows the first.
                m_out += t.width == 1 ? era.letter : t.width == 2 ? era.name.substr(0, 3) : era.name;
                break;
            }
            case TokenKind::EraYear:
                appendUInt(m_out, static_cast<uint64_t>(year - eraOf(year, month, day).year + 1), t.width);
                break;
            case TokenKind::Month: appendUInt(m_out, static_cast<uint64_t>(month)); break;
            case TokenKind::Month2: appendUInt(m_out, static_cast<uint64_t>(month), 2); break;
            case TokenKind::MonthAbbr: m_out += kMonths[month - 1].substr(0, 3); break;
            case TokenKind::MonthFull: m_out += kMonths[month - 1]; break;
            case TokenKind::MonthLetter: m_out += kMonths[month - 1][0]; break;
            case TokenKind::Day: appendUInt(m_out, static_cast<uint64_t>(day)); break;
            case TokenKind::Day2: appendUInt(m_out, static_cast<uint64_t>(day), 2); break;
            case TokenKind::DayAbbr: m_out += kDays[weekday].substr(0, 3); break;
            case TokenKind::DayFull: m_out += kDays[weekday]; break;
            case TokenKind::Hour:
            case TokenKind::Hour2: {
                int h = hour;
                if (s.twelveHour) {
                    h %= 12;
                    if (h == 0)
                        h = 12;
                }
                appendUInt(m_out, static_cast<uint64_t>(h), t.kind == TokenKind::Hour2 ? 2 : 0);
                break;
            }
            case TokenKind::Minute:
            case TokenKind::Minute2:
                appendUInt(m_out, static_cast<uint64_t>(minute), t.kind == TokenKind::Minute2 ? 2 : 0);
                break;
            case TokenKind::Second:
            case TokenKind::Second2: appendUInt(m_out, static_cast<uint64_t>(second), t.kind == TokenKind::Second2 ? 2 : 0); break;
            case TokenKind::SubSecond: {
                if (t.width == 0)
                    break;
                m_out += '.';
                char buf[4];
                int64_t v = sub;
                for (int k = s.subSecond - 1; k >= 0; --k) {
                    buf[k] = char('0' + v % 10);
                    v /= 10;
                }
                m_out.append(buf, std::min<int>(t.width, s.subSecond));
                break;
            }
            case TokenKind::AmPm: {
                const std::string_view both = std::string_view(s.pool).substr(t.off);
                m_out += hour < 12 ? both.substr(0, t.width) : both.substr(t.width, t.width);
                break;
            }
            case TokenKind::ElapsedH:
                appendUInt(m_out, static_cast<uint64_t>(units / (3600 * scale)), t.width);
                elapsedBefore = true;
                break;
            case TokenKind::ElapsedM:
                appendUInt(m_out, static_cast<uint64_t>(elapsedBefore ? secs / 60 % 60 : units / (60 * scale)), t.width);
                elapsedBefore = true;
                break;
            case TokenKind::ElapsedS:
                appendUInt(m_out, static_cast<uint64_t>(elapsedBefore ? secs % 60 : units / scale), t.width);
                elapsedBefore = true;
                break;
            default: break;
            }
        }
        return true;
    }

private:
    static void civil(int64_t days, bool date1904, int& year, int& month, int& day, int& weekday)
    {
        int64_t z;  // days since 1970-01-01
        if (date1904) {
            weekday = static_cast<int>((days + 5) % 7);
            z = days - 24107;  // 1904-01-01
        } else {
            weekday = static_cast<int>((days + 6) % 7);
            // The 1900 date system counts 29 February 1900, which never existed (serial 60),
            // and shows serial 0 as 0 January 1900.
            if (days == 0) {
                year = 1900, month = 1, day = 0;
                return;
            }
            if (days == 60) {
                year = 1900, month = 2, day = 29;
                return;
            }
            z = (days < 60 ? days : days - 1) - 25568;  // 1899-12-31 + n
        }
        // Civil date from a day count (proleptic Gregorian).
        z += 719468;
        const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        const int64_t doe = z - era * 146097;
        const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int64_t mp = (5 * doy + 2) / 153;
        day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
        month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    }

    void fraction(const Decimal& scaled)
    {
        const Section& s = m_s;
        NumberParts& p = m_parts;
        // Work from the 15-digit value, scaled by % and trailing commas.
        double v = 0;
        if (!scaled.isZero()) {
            char buf[48];
            int len = 0;
            buf[len++] = scaled.d[0];
            buf[len++] = '.';
            for (int i = 1; i < scaled.n; ++i)
                buf[len++] = scaled.d[i];
            buf[len++] = 'e';
            auto res = std::to_chars(buf + len, buf + sizeof buf, scaled.exp);
            if (std::from_chars(buf, res.ptr, v).ec != std::errc())
                v = scaled.exp > 0 ? HUGE_VAL : 0;
        }
        double whole = s.fracHasInt ? std::floor(v) : 0;
        double rest = v - whole;
        // Numerators stay below 1e18 so the integer arithmetic below cannot overflow.
        const double denLimit = s.fixedDen > 0 ? double(s.fixedDen) : 10;
        if (!std::isfinite(v) || v >= 1e17 || rest * denLimit >= 1e17) {
            // Too large for a fraction to matter: the whole number, or for an improper
            // fraction the numerator over its fixed denominator or 1, to 15 digits.
            Decimal d = scaled;
            if (!s.fracHasInt && s.fixedDen > 0 && std::isfinite(v * double(s.fixedDen)))
                d = Decimal::fromDouble(v * double(s.fixedDen));
            d.roundDecimals(0);
            p.nonZero = !d.isZero();
            if (s.fracHasInt) {
                p.intLen = integerString(d, p.intBuf);
                p.blankFraction = true;
            } else {
                p.numLen = integerString(d, p.numBuf);
                p.denBuf[0] = '1';
                p.denLen = 1;
            }
            return;
        }
        int64_t num = 0, den = 1;
        if (s.fixedDen > 0) {
            den = s.fixedDen;
            num = static_cast<int64_t>(std::floor(rest * double(den) + 0.5));
        } else {
            int digits = std::clamp(s.denDigits, 1, kMaxDenominatorDigits);
            int64_t maxDen = 1;
            for (int i = 0; i < digits; ++i)
                maxDen *= 10;
            if (s.fracHasInt) {
                lastConvergent(rest, maxDen - 1, num, den);
            } else {
                // An improper fraction: approximate the fractional part, then add the whole.
                const double w = std::floor(v);
                maxDen = std::min<int64_t>(maxDen, static_cast<int64_t>(1e17 / std::max(1.0, w)) + 1);
                lastConvergent(v - w, maxDen - 1, num, den);
                num += static_cast<int64_t>(w) * den;
            }
        }
        if (s.fracHasInt && num >= den && num > 0) {
            whole += 1;
            num -= den;
        }
        char buf[24];
        const int wl = uintString(static_cast<uint64_t>(whole), buf);
        std::copy(buf, buf + wl, p.intBuf);
        p.intLen = wl;
        // A fraction keeps the sign of any non-zero value, even one shown as 0: -0.24 with
        // "# ?/2" is "-0".
        p.nonZero = !scaled.isZero();
        if (s.fracHasInt && num == 0) {
            // A whole number: the fraction part becomes spaces; zero still shows a digit.
            p.blankFraction = true;
            if (whole == 0) {
                p.intBuf[0] = '0';
                p.intLen = 1;
            }
        }
        p.numLen = uintString(static_cast<uint64_t>(num), p.numBuf);
        if (p.numLen == 0)
            p.numBuf[0] = '0', p.numLen = 1;
        p.denLen = uintString(static_cast<uint64_t>(den), p.denBuf);
    }

    void emit(double x)
    {
        const Section& s = m_s;
        const NumberParts& p = m_parts;
        const RightAligned intPart{p.intBuf, p.intLen, s.intDigits, s.grouping};
        const RightAligned expPart{p.expBuf, p.expLen, std::max(s.expDigits, 1), false};
        const RightAligned numPart{p.numBuf, p.numLen, s.numDigits, false};
        int intIndex = 0, fracIndex = 0, expIndex = 0, numIndex = 0, denIndex = 0;
        bool fracDone = false;
        for (const Token& t : s.toks) {
            switch (t.kind) {
            case TokenKind::Lit:
                m_out += s.text(t);
                break;
            case TokenKind::Digit:
                switch (t.part) {
                case Part::Int:
                    intPart.emit(intIndex++, t.ch, m_out);
                    break;
                case Part::Frac: {
                    const int j = ++fracIndex;
                    if (j <= p.fracShown)
                        m_out += p.frac.digitAt(-j);
                    else if (t.ch == '?')
                        m_out += ' ';
                    break;
                }
                case Part::Exp:
                    expPart.emit(expIndex++, t.ch, m_out);
                    break;
                case Part::Num:
                    if (p.blankFraction)
                        m_out += ' ';
                    else
                        numPart.emit(numIndex++, t.ch, m_out);
                    break;
                case Part::Den: {
                    const int j = denIndex++;
                    if (p.blankFraction)
                        m_out += ' ';
                    else if (j == s.denDigits - 1 && p.denLen > s.denDigits)
                        m_out.append(p.denBuf + j, p.denLen - j);
                    else if (j < p.denLen)
                        m_out += p.denBuf[j];
                    else if (t.ch == '?')
                        m_out += ' ';
                    else if (t.ch == '0')
                        m_out += '0';
                    break;
                }
                case Part::None:
                    break;
                }
                break;
            case TokenKind::Point:
                if (s.intDigits == 0 && !fracDone) {
                    // No integer placeholders: the integer digits still show, before the point.
                    const RightAligned bare{p.intBuf, p.intLen, 1, s.grouping};
                    if (p.intLen > 0)
                        bare.emit(0, '#', m_out);
                }
                fracDone = true;
                m_out += '.';
                break;
            case TokenKind::Exp:
                m_out += 'E';
                if (p.expNegative)
                    m_out += '-';
                else if (t.ch == '+')
                    m_out += '+';
                break;
            case TokenKind::Slash:
                m_out += p.blankFraction ? ' ' : '/';
                break;
            case TokenKind::FixedDen:
                if (p.blankFraction)
                    m_out.append(t.len, ' ');
                else
                    m_out += s.text(t);
                break;
            case TokenKind::General:
                appendGeneral(x, m_out);
                break;
            case TokenKind::Text:
                appendGeneral(x, m_out);
                break;
            default:
                break;
            }
        }
    }

    const Section& m_s;
    std::string& m_out;
    NumberParts m_parts;
};

}  // namespace

bool renderNumber(const Section& section, double x, std::string& out) { return SectionRenderer(section, out).number(x); }

bool renderDate(const Section& section, double serial, bool date1904, std::string& out)
{
    return SectionRenderer(section, out).date(serial, date1904);
}

void renderText(const Section& section, std::string_view text, std::string& out) { SectionRenderer(section, out).text(text); }

}  // namespace tabulon::numfmt::detail
