#include "NumFmt.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Decimal.h"

namespace tabulon::numfmt {

namespace {

// Codes longer than this are not something the application would accept; they render as General.
constexpr size_t kMaxCodeLength = 4096;
// '@' repeats the whole text; a code full of them would multiply a long text without end.
constexpr int kMaxTextRepeats = 16;
// Fraction denominators beyond nine digits add nothing a double can tell apart.
constexpr int kMaxDenominatorDigits = 9;
// Last day a date can show: 9999-12-31.
constexpr int64_t kMaxDay1900 = 2958465;
constexpr int64_t kMaxDay1904 = kMaxDay1900 - 1462;

enum class Kind : uint8_t { Empty, General, Number, Scientific, Fraction, Date, Text };

enum class T : uint8_t {
    Lit,
    Digit,  // ch is '0', '#' or '?'
    Point,
    Comma,
    Percent,
    Exp,  // E+ or E-; ch is '+' or '-'
    Slash,
    FixedDen,  // literal denominator digits after '/'
    Text,      // @
    General,
    Year2,
    Year4,
    MonthOrMinute,  // m or mm, resolved after the section is read
    Month,
    Month2,
    MonthAbbr,
    MonthFull,
    MonthLetter,
    Day,
    Day2,
    DayAbbr,
    DayFull,
    Hour,
    Hour2,
    Minute,
    Minute2,
    Second,
    Second2,
    SubSecond,  // width digits of a second
    AmPm,       // am text at [off, off+len), pm text right after, width bytes long
    ElapsedH,
    ElapsedM,
    ElapsedS,
};

enum class Part : uint8_t { None, Int, Frac, Exp, Num, Den };

struct Tok {
    T kind;
    char ch = 0;
    Part part = Part::None;
    uint16_t width = 0;
    uint32_t off = 0, len = 0;  // literal text, or the token's own source text
};

enum class Op : uint8_t { Lt, Le, Gt, Ge, Eq, Ne };

struct Condition {
    bool present = false;
    Op op = Op::Eq;
    double value = 0;

    bool matches(double v) const
    {
        switch (op) {
        case Op::Lt: return v < value;
        case Op::Le: return v <= value;
        case Op::Gt: return v > value;
        case Op::Ge: return v >= value;
        case Op::Eq: return v == value;
        case Op::Ne: return v != value;
        }
        return false;
    }
    // A condition that selects negative numbers, so its section shows them without a minus.
    bool meansNegative() const { return present && value == 0 && (op == Op::Lt || op == Op::Le); }
    bool meansNonNegative() const { return present && value == 0 && (op == Op::Gt || op == Op::Ge); }
};

struct Section {
    Kind kind = Kind::Empty;
    std::vector<Tok> toks;
    std::string pool;
    Condition cond;
    bool hasText = false;
    // Numbers
    int intDigits = 0, fracDigits = 0, expDigits = 0, numDigits = 0, denDigits = 0;
    std::string fracChars;  // placeholders after the point, for trailing-zero trimming
    bool grouping = false;
    bool fracHasInt = false;
    int shift = 0;  // decimal exponent added: +2 per %, -3 per scaling comma
    int64_t fixedDen = 0;
    // Dates
    int subSecond = 0;
    bool twelveHour = false;

    std::string_view text(const Tok& t) const { return std::string_view(pool).substr(t.off, t.len); }
};

bool isDateKind(T k) { return k >= T::Year2 && k <= T::ElapsedS; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

size_t codePointLength(std::string_view s, size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return std::min(len, s.size() - i);
}

bool startsWithNoCase(std::string_view s, size_t i, std::string_view word)
{
    if (s.size() - i < word.size())
        return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (lower(s[i + k]) != lower(word[k]))
            return false;
    return true;
}

// Reads one section of a code into tokens. Stops at an unquoted ';' and returns its index
// (or code.size()).
size_t lexSection(std::string_view code, size_t i, Section& s)
{
    auto addLit = [&](std::string_view text) {
        if (text.empty())
            return;
        if (!s.toks.empty() && s.toks.back().kind == T::Lit && s.toks.back().off + s.toks.back().len == s.pool.size()) {
            s.pool += text;
            s.toks.back().len += static_cast<uint32_t>(text.size());
            return;
        }
        Tok t{T::Lit};
        t.off = static_cast<uint32_t>(s.pool.size());
        t.len = static_cast<uint32_t>(text.size());
        s.pool += text;
        s.toks.push_back(t);
    };
    auto add = [&](T kind, std::string_view source, char ch = 0, uint16_t width = 0) {
        Tok t{kind};
        t.ch = ch;
        t.width = width;
        t.off = static_cast<uint32_t>(s.pool.size());
        t.len = static_cast<uint32_t>(source.size());
        s.pool += source;
        s.toks.push_back(t);
    };
    auto runOf = [&](size_t at) {
        size_t j = at;
        while (j < code.size() && lower(code[j]) == lower(code[at]))
            ++j;
        return j - at;
    };

    while (i < code.size()) {
        const char c = code[i];
        const char lc = lower(c);
        switch (c) {
        case ';':
            return i;
        case '"': {
            size_t end = code.find('"', i + 1);
            if (end == std::string_view::npos)
                end = code.size();
            addLit(code.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        case '\\':
            if (i + 1 < code.size()) {
                const size_t len = codePointLength(code, i + 1);
                addLit(code.substr(i + 1, len));
                i += 1 + len;
            } else {
                ++i;
            }
            continue;
        case '_':
            // Leaves room as wide as the next character: one space here.
            addLit(" ");
            i += 1 + (i + 1 < code.size() ? codePointLength(code, i + 1) : 0);
            continue;
        case '*':
            // Repeats the next character to fill the column; widths play no part, so nothing.
            i += 1 + (i + 1 < code.size() ? codePointLength(code, i + 1) : 0);
            continue;
        case '[': {
            const size_t end = code.find(']', i + 1);
            if (end == std::string_view::npos) {
                addLit("[");
                ++i;
                continue;
            }
            std::string_view body = code.substr(i + 1, end - i - 1);
            i = end + 1;
            if (body.empty())
                continue;
            const char b0 = lower(body[0]);
            if ((b0 == 'h' || b0 == 'm' || b0 == 's') && runOf(static_cast<size_t>(body.data() - code.data())) == body.size()) {
                const T k = b0 == 'h' ? T::ElapsedH : b0 == 'm' ? T::ElapsedM : T::ElapsedS;
                add(k, code.substr(body.data() - code.data() - 1, body.size() + 2), 0,
                    static_cast<uint16_t>(std::min<size_t>(body.size(), 255)));
            } else if (b0 == '$') {
                // Currency and locale tag: [$sym-lcid] shows sym; [$-lcid] shows nothing.
                const size_t dash = body.find('-', 1);
                addLit(body.substr(1, (dash == std::string_view::npos ? body.size() : dash) - 1));
            } else if (b0 == '<' || b0 == '>' || b0 == '=') {
                Condition cond;
                cond.present = true;
                size_t k = 1;
                if (b0 == '<' && body.size() > 1 && body[1] == '=') {
                    cond.op = Op::Le;
                    k = 2;
                } else if (b0 == '<' && body.size() > 1 && body[1] == '>') {
                    cond.op = Op::Ne;
                    k = 2;
                } else if (b0 == '>' && body.size() > 1 && body[1] == '=') {
                    cond.op = Op::Ge;
                    k = 2;
                } else {
                    cond.op = b0 == '<' ? Op::Lt : b0 == '>' ? Op::Gt : Op::Eq;
                }
                while (k < body.size() && body[k] == ' ')
                    ++k;
                double value = 0;
                const char* first = body.data() + k;
                if (first < body.data() + body.size() && *first == '+')
                    ++first;
                auto res = std::from_chars(first, body.data() + body.size(), value);
                if (res.ec == std::errc() && std::isfinite(value)) {
                    cond.value = value;
                    s.cond = cond;
                }
            }
            // Colours, calendars, numeral systems and anything unknown: nothing to show.
            continue;
        }
        default:
            break;
        }

        if (startsWithNoCase(code, i, "general")) {
            add(T::General, code.substr(i, 7));
            i += 7;
            continue;
        }
        if (startsWithNoCase(code, i, "am/pm")) {
            // Shown in capitals whatever the case of the code; A/P keeps the code's letters.
            add(T::AmPm, code.substr(i, 2), 0, 2);
            s.toks.back().off = static_cast<uint32_t>(s.pool.size());
            s.pool += "AMPM";
            i += 5;
            continue;
        }
        if (startsWithNoCase(code, i, "a/p")) {
            add(T::AmPm, code.substr(i, 1), 0, 1);
            s.pool += code.substr(i + 2, 1);
            i += 3;
            continue;
        }
        if ((lc == 'e') && i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
            add(T::Exp, code.substr(i, 2), code[i + 1]);
            i += 2;
            continue;
        }
        switch (lc) {
        case '0':
        case '#':
        case '?':
            add(T::Digit, code.substr(i, 1), c);
            ++i;
            continue;
        case '.':
            if (i + 1 < code.size() && code[i + 1] == '0' && !s.toks.empty()) {
                // After seconds, ".0", ".00", ".000" are fractions of a second.
                bool afterSeconds = false;
                for (auto it = s.toks.rbegin(); it != s.toks.rend(); ++it) {
                    if (it->kind == T::Lit)
                        continue;
                    afterSeconds = it->kind == T::Second || it->kind == T::Second2 || it->kind == T::ElapsedS;
                    break;
                }
                if (afterSeconds) {
                    size_t j = i + 1;
                    while (j < code.size() && code[j] == '0')
                        ++j;
                    add(T::SubSecond, code.substr(i, j - i), 0, static_cast<uint16_t>(std::min<size_t>(j - i - 1, 3)));
                    i = j;
                    continue;
                }
            }
            add(T::Point, code.substr(i, 1));
            ++i;
            continue;
        case ',':
            add(T::Comma, code.substr(i, 1));
            ++i;
            continue;
        case '%':
            add(T::Percent, code.substr(i, 1));
            ++i;
            continue;
        case '@':
            add(T::Text, code.substr(i, 1));
            s.hasText = true;
            ++i;
            continue;
        case '/':
            if (i + 1 < code.size() && code[i + 1] >= '1' && code[i + 1] <= '9') {
                size_t j = i + 1;
                while (j < code.size() && code[j] >= '0' && code[j] <= '9')
                    ++j;
                add(T::FixedDen, code.substr(i, j - i));
                i = j;
                continue;
            }
            add(T::Slash, code.substr(i, 1));
            ++i;
            continue;
        case 'y': {
            const size_t n = runOf(i);
            add(n <= 2 ? T::Year2 : T::Year4, code.substr(i, n));
            i += n;
            continue;
        }
        case 'm': {
            const size_t n = runOf(i);
            add(n <= 2 ? T::MonthOrMinute : n == 3 ? T::MonthAbbr : n == 5 ? T::MonthLetter : T::MonthFull,
                code.substr(i, n), 0, static_cast<uint16_t>(std::min<size_t>(n, 2)));
            i += n;
            continue;
        }
        case 'd': {
            const size_t n = runOf(i);
            add(n == 1 ? T::Day : n == 2 ? T::Day2 : n == 3 ? T::DayAbbr : T::DayFull, code.substr(i, n));
            i += n;
            continue;
        }
        case 'h': {
            const size_t n = runOf(i);
            add(n == 1 ? T::Hour : T::Hour2, code.substr(i, n));
            i += n;
            continue;
        }
        case 's': {
            const size_t n = runOf(i);
            add(n == 1 ? T::Second : T::Second2, code.substr(i, n));
            i += n;
            continue;
        }
        default: {
            const size_t len = codePointLength(code, i);
            addLit(code.substr(i, len));
            i += len;
            continue;
        }
        }
    }
    return i;
}

// Turns a token back into the characters it was written with.
void makeLiteral(Tok& t) { t.kind = T::Lit; }

void finishDate(Section& s)
{
    s.kind = Kind::Date;
    int subSecond = 0;
    for (size_t i = 0; i < s.toks.size(); ++i) {
        Tok& t = s.toks[i];
        switch (t.kind) {
        case T::MonthOrMinute: {
            // m and mm mean minutes right after an hour or right before seconds.
            bool minute = false;
            for (size_t j = i; j-- > 0;) {
                const T k = s.toks[j].kind;
                if (k == T::Lit || !isDateKind(k))
                    continue;
                minute = k == T::Hour || k == T::Hour2 || k == T::ElapsedH;
                break;
            }
            if (!minute) {
                for (size_t j = i + 1; j < s.toks.size(); ++j) {
                    const T k = s.toks[j].kind;
                    if (k == T::Lit || !isDateKind(k))
                        continue;
                    minute = k == T::Second || k == T::Second2 || k == T::ElapsedS;
                    break;
                }
            }
            const bool two = t.width >= 2;
            t.kind = minute ? (two ? T::Minute2 : T::Minute) : (two ? T::Month2 : T::Month);
            break;
        }
        case T::AmPm:
            s.twelveHour = true;
            break;
        case T::SubSecond:
            subSecond = std::max<int>(subSecond, t.width);
            break;
        case T::Text:
        case T::Digit:
        case T::Point:
        case T::Comma:
        case T::Percent:
        case T::Exp:
        case T::Slash:
        case T::FixedDen:
        case T::General:
            makeLiteral(t);
            break;
        default:
            break;
        }
    }
    s.subSecond = subSecond;
}

void finishText(Section& s)
{
    s.kind = Kind::Text;
    int texts = 0;
    for (Tok& t : s.toks) {
        if (t.kind == T::Text) {
            if (++texts > kMaxTextRepeats)
                t.len = 0, t.kind = T::Lit;
        } else {
            makeLiteral(t);
        }
    }
}

bool isPlaceholder(const Tok& t) { return t.kind == T::Digit; }

void finishNumber(Section& s)
{
    auto& toks = s.toks;
    // Fraction: placeholders right before a '/', and placeholders or digits right after it.
    size_t slash = toks.size();
    for (size_t i = 1; i < toks.size(); ++i) {
        if ((toks[i].kind == T::Slash || toks[i].kind == T::FixedDen) && isPlaceholder(toks[i - 1])
            && (toks[i].kind == T::FixedDen || (i + 1 < toks.size() && isPlaceholder(toks[i + 1])))) {
            slash = i;
            break;
        }
    }
    bool sawExp = false, sawPoint = false;
    for (const Tok& t : toks) {
        if (t.kind == T::Exp && !sawExp)
            sawExp = true;
    }

    if (slash < toks.size()) {
        s.kind = Kind::Fraction;
        size_t numStart = slash;
        while (numStart > 0 && isPlaceholder(toks[numStart - 1]))
            --numStart;
        for (size_t i = 0; i < toks.size(); ++i) {
            Tok& t = toks[i];
            if (t.kind == T::Digit) {
                if (i < numStart) {
                    t.part = Part::Int;
                    ++s.intDigits;
                    s.fracHasInt = true;
                } else if (i < slash) {
                    t.part = Part::Num;
                    ++s.numDigits;
                } else {
                    t.part = Part::Den;
                    ++s.denDigits;
                }
            } else if (i == slash && t.kind == T::FixedDen) {
                int64_t den = 0;
                for (char ch : s.text(t).substr(1))
                    den = std::min<int64_t>(den * 10 + (ch - '0'), 999999999);
                s.fixedDen = den;
            } else if ((t.kind == T::Slash || t.kind == T::FixedDen) && i != slash) {
                t.kind = T::Lit;
            } else if (t.kind == T::Point || t.kind == T::Exp) {
                t.kind = T::Lit;
            }
        }
    } else {
        s.kind = sawExp ? Kind::Scientific : Kind::Number;
        Part part = Part::Int;
        sawExp = false;
        for (Tok& t : toks) {
            if (t.kind == T::Digit) {
                t.part = part;
                if (part == Part::Int)
                    ++s.intDigits;
                else if (part == Part::Frac) {
                    ++s.fracDigits;
                    s.fracChars += t.ch;
                } else
                    ++s.expDigits;
            } else if (t.kind == T::Point) {
                if (sawPoint || sawExp)
                    t.kind = T::Lit;
                else {
                    sawPoint = true;
                    part = Part::Frac;
                }
            } else if (t.kind == T::Exp) {
                if (sawExp)
                    t.kind = T::Lit;
                else {
                    sawExp = true;
                    part = Part::Exp;
                }
            } else if (t.kind == T::Slash || t.kind == T::FixedDen) {
                t.kind = T::Lit;
            }
        }
    }

    // Commas: between integer placeholders they group thousands; right after the last
    // placeholder of the number they divide by 1000 each; anywhere else they are text.
    for (size_t i = 0; i < toks.size(); ++i) {
        if (toks[i].kind != T::Comma)
            continue;
        size_t j = i;
        while (j < toks.size() && toks[j].kind == T::Comma)
            ++j;
        const bool afterDigit = i > 0 && toks[i - 1].kind == T::Digit;
        const bool beforeDigit = j < toks.size() && toks[j].kind == T::Digit;
        if (afterDigit && beforeDigit && toks[i - 1].part == Part::Int && toks[j].part == Part::Int) {
            s.grouping = true;
            for (size_t k = i; k < j; ++k)
                toks[k].len = 0, toks[k].kind = T::Lit;
        } else if (afterDigit && !beforeDigit && toks[i - 1].part != Part::Exp) {
            s.shift -= 3 * static_cast<int>(std::min<size_t>(j - i, 100));
            for (size_t k = i; k < j; ++k)
                toks[k].len = 0, toks[k].kind = T::Lit;
        } else {
            for (size_t k = i; k < j; ++k)
                toks[k].kind = T::Lit;
        }
        i = j - 1;
    }
    for (Tok& t : toks) {
        if (t.kind == T::Percent) {
            s.shift += 2;
            t.kind = T::Lit;
        } else if (t.kind == T::Comma) {
            t.kind = T::Lit;
        }
    }
    // Bounds the digit shift of a code made only of '%' or ','.
    s.shift = std::clamp(s.shift, -400, 400);
}

void finishSection(Section& s)
{
    bool date = false, general = false;
    for (const Tok& t : s.toks) {
        if (isDateKind(t.kind))
            date = true;
        if (t.kind == T::General)
            general = true;
    }
    if (s.hasText)
        finishText(s);
    else if (date)
        finishDate(s);
    else if (general) {
        s.kind = Kind::General;
        for (Tok& t : s.toks)
            if (t.kind != T::General)
                t.kind = T::Lit;
    } else if (s.toks.empty())
        s.kind = Kind::Empty;
    else
        finishNumber(s);
}

// ---- rendering helpers ----

void appendUInt(std::string& out, uint64_t v, int minWidth = 0)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    for (int pad = minWidth - int(res.ptr - buf); pad > 0; --pad)
        out += '0';
    out.append(buf, res.ptr);
}

constexpr std::array<std::string_view, 12> kMonths = {"January", "February", "March",     "April",   "May",      "June",
                                                      "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kDays = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

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
    char numBuf[24], denBuf[24];
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

// Best approximation p/q of x in [0, 1] with q <= maxDen (closest; smaller q on ties).
void bestFraction(double x, int64_t maxDen, int64_t& num, int64_t& den)
{
    int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double r = x;
    int64_t bestP = 0, bestQ = 1;
    double bestErr = x;
    if (std::fabs(1 - x) < bestErr) {
        bestP = 1;
        bestQ = 1;
        bestErr = std::fabs(1 - x);
    }
    for (int iter = 0; iter < 64; ++iter) {
        const double a = std::floor(r);
        if (a > 4e18)
            break;
        const auto ai = static_cast<int64_t>(a);
        const int64_t q2 = ai * q1 + q0;
        if (q2 > maxDen) {
            // Semiconvergent: largest k with k*q1 + q0 <= maxDen.
            if (q1 > 0) {
                const int64_t k = (maxDen - q0) / q1;
                const int64_t p = k * p1 + p0, q = k * q1 + q0;
                const double err = std::fabs(x - double(p) / double(q));
                if (q > 0 && err < bestErr) {
                    bestErr = err;
                    bestP = p;
                    bestQ = q;
                }
            }
            break;
        }
        const int64_t p2 = ai * p1 + p0;
        const double err = std::fabs(x - double(p2) / double(q2));
        if (err < bestErr) {
            bestErr = err;
            bestP = p2;
            bestQ = q2;
        }
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const double f = r - a;
        if (f < 1e-12 || err == 0)
            break;
        r = 1 / f;
    }
    num = bestP;
    den = bestQ;
}

class Renderer {
public:
    Renderer(const Section& s, std::string& out) : m_s(s), m_out(out) {}

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
        for (const Tok& t : m_s.toks) {
            if (t.kind == T::Text)
                m_out += text;
            else if (t.kind == T::Lit)
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
        for (const Tok& t : s.toks) {
            switch (t.kind) {
            case T::Lit: m_out += s.text(t); break;
            case T::Year2: appendUInt(m_out, static_cast<uint64_t>(year % 100), 2); break;
            case T::Year4: appendUInt(m_out, static_cast<uint64_t>(year), 4); break;
            case T::Month: appendUInt(m_out, static_cast<uint64_t>(month)); break;
            case T::Month2: appendUInt(m_out, static_cast<uint64_t>(month), 2); break;
            case T::MonthAbbr: m_out += kMonths[month - 1].substr(0, 3); break;
            case T::MonthFull: m_out += kMonths[month - 1]; break;
            case T::MonthLetter: m_out += kMonths[month - 1][0]; break;
            case T::Day: appendUInt(m_out, static_cast<uint64_t>(day)); break;
            case T::Day2: appendUInt(m_out, static_cast<uint64_t>(day), 2); break;
            case T::DayAbbr: m_out += kDays[weekday].substr(0, 3); break;
            case T::DayFull: m_out += kDays[weekday]; break;
            case T::Hour:
            case T::Hour2: {
                int h = hour;
                if (s.twelveHour) {
                    h %= 12;
                    if (h == 0)
                        h = 12;
                }
                appendUInt(m_out, static_cast<uint64_t>(h), t.kind == T::Hour2 ? 2 : 0);
                break;
            }
            case T::Minute:
            case T::Minute2:
                appendUInt(m_out, static_cast<uint64_t>(minute), t.kind == T::Minute2 ? 2 : 0);
                break;
            case T::Second:
            case T::Second2: appendUInt(m_out, static_cast<uint64_t>(second), t.kind == T::Second2 ? 2 : 0); break;
            case T::SubSecond: {
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
            case T::AmPm: {
                const std::string_view both = std::string_view(s.pool).substr(t.off);
                m_out += hour < 12 ? both.substr(0, t.width) : both.substr(t.width, t.width);
                break;
            }
            case T::ElapsedH:
                appendUInt(m_out, static_cast<uint64_t>(units / (3600 * scale)), t.width);
                elapsedBefore = true;
                break;
            case T::ElapsedM:
                appendUInt(m_out, static_cast<uint64_t>(elapsedBefore ? secs / 60 % 60 : units / (60 * scale)), t.width);
                elapsedBefore = true;
                break;
            case T::ElapsedS:
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
            std::from_chars(buf, res.ptr, v);
        }
        if (!std::isfinite(v) || v >= 1e17) {
            // Too large for a fraction to matter: the integer alone.
            Decimal d = scaled;
            d.roundDecimals(0);
            p.intLen = integerString(d, p.intBuf);
            p.nonZero = !d.isZero();
            p.blankFraction = s.fracHasInt;
            if (!s.fracHasInt) {
                std::copy(p.intBuf, p.intBuf + std::min(p.intLen, 23), p.numBuf);
                p.numLen = std::min(p.intLen, 23);
                p.denBuf[0] = '1';
                p.denLen = 1;
            }
            return;
        }
        double whole = s.fracHasInt ? std::floor(v) : 0;
        double rest = v - whole;
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
                bestFraction(rest, maxDen - 1, num, den);
            } else {
                // An improper fraction: approximate the fractional part, then add the whole.
                const double w = std::floor(v);
                bestFraction(v - w, maxDen - 1, num, den);
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
        p.nonZero = whole != 0 || num != 0;
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
        for (const Tok& t : s.toks) {
            switch (t.kind) {
            case T::Lit:
                m_out += s.text(t);
                break;
            case T::Digit:
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
            case T::Point:
                if (s.intDigits == 0 && !fracDone) {
                    // No integer placeholders: the integer digits still show, before the point.
                    const RightAligned bare{p.intBuf, p.intLen, 1, s.grouping};
                    if (p.intLen > 0)
                        bare.emit(0, '#', m_out);
                }
                fracDone = true;
                m_out += '.';
                break;
            case T::Exp:
                m_out += 'E';
                if (p.expNegative)
                    m_out += '-';
                else if (t.ch == '+')
                    m_out += '+';
                break;
            case T::Slash:
                m_out += p.blankFraction ? ' ' : '/';
                break;
            case T::FixedDen:
                if (p.blankFraction)
                    m_out.append(t.len, ' ');
                else
                    m_out += s.text(t);
                break;
            case T::General:
                appendGeneral(x, m_out);
                break;
            case T::Text:
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

class Format {
public:
    std::vector<Section> sections;
    std::vector<const Section*> numeric;
    const Section* textSection = nullptr;
    bool general = false;
    bool conditional = false;
};

namespace {

void build(Format& f, std::string_view code)
{
    if (code.size() > kMaxCodeLength) {
        f.general = true;
        return;
    }
    size_t i = 0;
    while (true) {
        Section s;
        i = lexSection(code, i, s);
        if (f.sections.size() < 4) {
            finishSection(s);
            f.sections.push_back(std::move(s));
        }
        if (i >= code.size())
            break;
        ++i;  // the ';'
    }
    auto& secs = f.sections;
    if (secs.size() == 4)
        f.textSection = &secs[3];
    else if (secs.back().kind == Kind::Text && secs.size() > 1)
        f.textSection = &secs.back();
    else if (secs.size() == 1 && secs[0].kind == Kind::Text)
        f.textSection = &secs[0];
    for (const Section& s : secs)
        if (&s != f.textSection)
            f.numeric.push_back(&s);
    if (f.numeric.empty() || (f.numeric.size() == 1 && f.numeric[0]->kind == Kind::Empty && secs.size() == 1)) {
        f.numeric.clear();
        f.general = true;
    } else if (f.numeric.size() == 1 && f.numeric[0]->kind == Kind::General && f.numeric[0]->toks.size() == 1
               && !f.numeric[0]->cond.present) {
        f.general = true;
    }
    f.conditional = !f.numeric.empty()
                    && (f.numeric[0]->cond.present || (f.numeric.size() > 1 && f.numeric[1]->cond.present));
}

// Picks the section for a number and whether that section shows a minus sign itself.
const Section* choose(const Format& f, double v, bool& showMinus)
{
    const auto& n = f.numeric;
    const size_t k = n.size();
    showMinus = false;
    if (!f.conditional) {
        if (k == 1) {
            showMinus = v < 0;
            return n[0];
        }
        if (v < 0)
            return n[1];
        if (v == 0 && k >= 3)
            return n[2];
        return n[0];
    }
    const Condition& c0 = n[0]->cond;
    const bool m0 = c0.present ? c0.matches(v) : (k >= 3 ? v > 0 : v >= 0);
    if (m0) {
        showMinus = v < 0 && !c0.meansNegative();
        return n[0];
    }
    if (k == 1)
        return nullptr;
    const Condition& c1 = n[1]->cond;
    const bool m1 = c1.present ? c1.matches(v) : (k >= 3 ? v < 0 : true);
    if (m1) {
        bool negativeSection;
        if (c1.present)
            negativeSection = c1.meansNegative();
        else
            negativeSection = k >= 3 || c0.meansNonNegative();
        showMinus = v < 0 && !negativeSection;
        return n[1];
    }
    if (k >= 3) {
        showMinus = v < 0;
        return n[2];
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<const Format> compile(std::string_view code)
{
    auto f = std::make_shared<Format>();
    build(*f, code);
    return f;
}

std::string_view builtinCode(unsigned id)
{
    static constexpr std::string_view kCodes[50] = {
        "General",
        "0",
        "0.00",
        "#,##0",
        "#,##0.00",
        "\"$\"#,##0_);\\(\"$\"#,##0\\)",
        "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
        "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",
        "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
        "0%",
        "0.00%",
        "0.00E+00",
        "# ?/?",
        "# ?\?/?\?",
        "m/d/yyyy",
        "d-mmm-yy",
        "d-mmm",
        "mmm-yy",
        "h:mm AM/PM",
        "h:mm:ss AM/PM",
        "h:mm",
        "h:mm:ss",
        "m/d/yyyy h:mm",
        {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},
        "#,##0 ;(#,##0)",
        "#,##0 ;[Red](#,##0)",
        "#,##0.00;(#,##0.00)",
        "#,##0.00;[Red](#,##0.00)",
        "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",
        "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)",
        "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)",
        "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)",
        "mm:ss",
        "[h]:mm:ss",
        "mm:ss.0",
        "##0.0E+0",
        "@",
    };
    if (id < 50 && !kCodes[id].empty())
        return kCodes[id];
    return "General";
}

void formatNumber(const Format& format, double value, bool date1904, std::string& out)
{
    if (format.general || !std::isfinite(value))
        return appendGeneral(value, out);
    bool showMinus = false;
    const Section* s = choose(format, value, showMinus);
    if (!s)
        return appendGeneral(value, out);
    const double x = std::fabs(value);
    const size_t start = out.size();
    Renderer r(*s, out);
    switch (s->kind) {
    case Kind::Empty:
        return;
    case Kind::Date:
        // A value no date can show is written through General so it is not lost.
        if ((value < 0 && showMinus) || !r.date(x, date1904)) {
            out.resize(start);
            appendGeneral(value, out);
        }
        return;
    case Kind::Text:
    case Kind::General:
    case Kind::Number:
    case Kind::Scientific:
    case Kind::Fraction:
        if (r.number(x) && showMinus)
            out.insert(start, 1, '-');
        return;
    }
}

void formatText(const Format& format, std::string_view text, std::string& out)
{
    if (!format.textSection) {
        out += text;
        return;
    }
    if (format.textSection->kind == Kind::Empty)
        return;
    Renderer(*format.textSection, out).text(text);
}

std::string render(double value, std::string_view code, bool date1904)
{
    std::string out;
    formatNumber(*compile(code), value, date1904, out);
    return out;
}

std::string renderText(std::string_view text, std::string_view code)
{
    std::string out;
    formatText(*compile(code), text, out);
    return out;
}

bool isDateFormat(const Format& format)
{
    return !format.numeric.empty() && format.numeric[0]->kind == Kind::Date;
}

}  // namespace tabulon::numfmt
