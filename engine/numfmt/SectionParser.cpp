#include <algorithm>
#include <charconv>
#include <cmath>

#include "Section.h"

namespace tabulon::numfmt::detail {

namespace {

// '@' repeats the whole text; a code full of them would multiply a long text without end.
constexpr int kMaxTextRepeats = 16;

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
        if (!s.toks.empty() && s.toks.back().kind == TokenKind::Lit && s.toks.back().off + s.toks.back().len == s.pool.size()) {
            s.pool += text;
            s.toks.back().len += static_cast<uint32_t>(text.size());
            return;
        }
        Token t{TokenKind::Lit};
        t.off = static_cast<uint32_t>(s.pool.size());
        t.len = static_cast<uint32_t>(text.size());
        s.pool += text;
        s.toks.push_back(t);
    };
    auto add = [&](TokenKind kind, std::string_view source, char ch = 0, uint16_t width = 0) {
        Token t{kind};
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
                const TokenKind k = b0 == 'h' ? TokenKind::ElapsedH : b0 == 'm' ? TokenKind::ElapsedM : TokenKind::ElapsedS;
                add(k, code.substr(body.data() - code.data() - 1, body.size() + 2), 0,
                    static_cast<uint16_t>(std::min<size_t>(body.size(), 255)));
            } else if (b0 == '$') {
                // Currency and locale tag: [$sym-lcid] shows sym; [$-lcid] shows nothing.
                const size_t dash = body.find('-', 1);
                addLit(body.substr(1, (dash == std::string_view::npos ? body.size() : dash) - 1));
                if (dash != std::string_view::npos) {
                    // The low 16 bits of the hex locale id name the language; the bits above
                    // choose a calendar or numerals, which change nothing here.
                    uint32_t lcid = 0;
                    const std::string_view hex = body.substr(dash + 1);
                    const auto res = std::from_chars(hex.data(), hex.data() + hex.size(), lcid, 16);
                    if (res.ec == std::errc() && res.ptr == hex.data() + hex.size())
                        s.japanese = (lcid & 0xFFFF) == 0x0411;
                    else
                        s.japanese = startsWithNoCase(hex, 0, "ja-");  // [$-ja-JP], [$-ja-JP-x-gannen]
                }
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
            add(TokenKind::General, code.substr(i, 7));
            i += 7;
            continue;
        }
        if (startsWithNoCase(code, i, "am/pm")) {
            // Shown in capitals whatever the case of the code; A/P keeps the code's letters.
            add(TokenKind::AmPm, code.substr(i, 2), 0, 2);
            s.toks.back().off = static_cast<uint32_t>(s.pool.size());
            s.pool += "AMPM";
            i += 5;
            continue;
        }
        if (startsWithNoCase(code, i, "a/p")) {
            add(TokenKind::AmPm, code.substr(i, 1), 0, 1);
            s.pool += code.substr(i + 2, 1);
            i += 3;
            continue;
        }
        if ((lc == 'e') && i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
            add(TokenKind::Exp, code.substr(i, 2), code[i + 1]);
            i += 2;
            continue;
        }
        switch (lc) {
        case '0':
        case '#':
        case '?':
            add(TokenKind::Digit, code.substr(i, 1), c);
            ++i;
            continue;
        case '.':
            if (i + 1 < code.size() && code[i + 1] == '0' && !s.toks.empty()) {
                // After seconds, ".0", ".00", ".000" are fractions of a second.
                bool afterSeconds = false;
                for (auto it = s.toks.rbegin(); it != s.toks.rend(); ++it) {
                    if (it->kind == TokenKind::Lit)
                        continue;
                    afterSeconds = it->kind == TokenKind::Second || it->kind == TokenKind::Second2 || it->kind == TokenKind::ElapsedS;
                    break;
                }
                if (afterSeconds) {
                    size_t j = i + 1;
                    while (j < code.size() && code[j] == '0')
                        ++j;
                    add(TokenKind::SubSecond, code.substr(i, j - i), 0, static_cast<uint16_t>(std::min<size_t>(j - i - 1, 3)));
                    i = j;
                    continue;
                }
            }
            add(TokenKind::Point, code.substr(i, 1));
            ++i;
            continue;
        case ',':
            add(TokenKind::Comma, code.substr(i, 1));
            ++i;
            continue;
        case '%':
            add(TokenKind::Percent, code.substr(i, 1));
            ++i;
            continue;
        case '@':
            add(TokenKind::Text, code.substr(i, 1));
            s.hasText = true;
            ++i;
            continue;
        case '/':
            if (i + 1 < code.size() && code[i + 1] >= '1' && code[i + 1] <= '9') {
                size_t j = i + 1;
                while (j < code.size() && code[j] >= '0' && code[j] <= '9')
                    ++j;
                add(TokenKind::FixedDen, code.substr(i, j - i));
                i = j;
                continue;
            }
            add(TokenKind::Slash, code.substr(i, 1));
            ++i;
            continue;
        case 'e': {
            // The year: of the Japanese era under a Japanese locale tag, else four digits.
            const size_t n = runOf(i);
            if (s.japanese)
                add(TokenKind::EraYear, code.substr(i, n), 0, static_cast<uint16_t>(std::min<size_t>(n, 2)));
            else
                add(TokenKind::Year4, code.substr(i, n));
            i += n;
            continue;
        }
        case 'g':
            if (s.japanese) {
                const size_t n = runOf(i);
                add(TokenKind::Era, code.substr(i, n), 0, static_cast<uint16_t>(std::min<size_t>(n, 3)));
                i += n;
                continue;
            }
            addLit(code.substr(i, 1));
            ++i;
            continue;
        case 'y': {
            const size_t n = runOf(i);
            add(n <= 2 ? TokenKind::Year2 : TokenKind::Year4, code.substr(i, n));
            i += n;
            continue;
        }
        case 'm': {
            const size_t n = runOf(i);
            add(n <= 2 ? TokenKind::MonthOrMinute : n == 3 ? TokenKind::MonthAbbr : n == 5 ? TokenKind::MonthLetter : TokenKind::MonthFull,
                code.substr(i, n), 0, static_cast<uint16_t>(std::min<size_t>(n, 2)));
            i += n;
            continue;
        }
        case 'd': {
            const size_t n = runOf(i);
            add(n == 1 ? TokenKind::Day : n == 2 ? TokenKind::Day2 : n == 3 ? TokenKind::DayAbbr : TokenKind::DayFull, code.substr(i, n));
            i += n;
            continue;
        }
        case 'h': {
            const size_t n = runOf(i);
            add(n == 1 ? TokenKind::Hour : TokenKind::Hour2, code.substr(i, n));
            i += n;
            continue;
        }
        case 's': {
            const size_t n = runOf(i);
            add(n == 1 ? TokenKind::Second : TokenKind::Second2, code.substr(i, n));
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
void makeLiteral(Token& t) { t.kind = TokenKind::Lit; }

void finishDate(Section& s)
{
    s.kind = Kind::Date;
    int subSecond = 0;
    for (size_t i = 0; i < s.toks.size(); ++i) {
        Token& t = s.toks[i];
        switch (t.kind) {
        case TokenKind::MonthOrMinute: {
            // m and mm mean minutes right after an hour or right before seconds.
            bool minute = false;
            for (size_t j = i; j-- > 0;) {
                const TokenKind k = s.toks[j].kind;
                if (k == TokenKind::Lit || !isDateKind(k))
                    continue;
                minute = k == TokenKind::Hour || k == TokenKind::Hour2 || k == TokenKind::ElapsedH;
                break;
            }
            if (!minute) {
                for (size_t j = i + 1; j < s.toks.size(); ++j) {
                    const TokenKind k = s.toks[j].kind;
                    if (k == TokenKind::Lit || !isDateKind(k))
                        continue;
                    minute = k == TokenKind::Second || k == TokenKind::Second2 || k == TokenKind::ElapsedS;
                    break;
                }
            }
            const bool two = t.width >= 2;
            t.kind = minute ? (two ? TokenKind::Minute2 : TokenKind::Minute) : (two ? TokenKind::Month2 : TokenKind::Month);
            break;
        }
        case TokenKind::AmPm:
            s.twelveHour = true;
            break;
        case TokenKind::SubSecond:
            subSecond = std::max<int>(subSecond, t.width);
            break;
        case TokenKind::Text:
        case TokenKind::Digit:
        case TokenKind::Point:
        case TokenKind::Comma:
        case TokenKind::Percent:
        case TokenKind::Exp:
        case TokenKind::Slash:
        case TokenKind::FixedDen:
        case TokenKind::General:
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
    for (Token& t : s.toks) {
        if (t.kind == TokenKind::Text) {
            if (++texts > kMaxTextRepeats)
                t.len = 0, t.kind = TokenKind::Lit;
        } else {
            makeLiteral(t);
        }
    }
}

bool isPlaceholder(const Token& t) { return t.kind == TokenKind::Digit; }

void finishNumber(Section& s)
{
    auto& toks = s.toks;
    // Fraction: placeholders right before a '/', and placeholders or digits right after it.
    size_t slash = toks.size();
    for (size_t i = 1; i < toks.size(); ++i) {
        if ((toks[i].kind == TokenKind::Slash || toks[i].kind == TokenKind::FixedDen) && isPlaceholder(toks[i - 1])
            && (toks[i].kind == TokenKind::FixedDen || (i + 1 < toks.size() && isPlaceholder(toks[i + 1])))) {
            slash = i;
            break;
        }
    }
    bool sawExp = false, sawPoint = false;
    for (const Token& t : toks) {
        if (t.kind == TokenKind::Exp && !sawExp)
            sawExp = true;
    }

    if (slash < toks.size()) {
        s.kind = Kind::Fraction;
        size_t numStart = slash;
        while (numStart > 0 && isPlaceholder(toks[numStart - 1]))
            --numStart;
        for (size_t i = 0; i < toks.size(); ++i) {
            Token& t = toks[i];
            if (t.kind == TokenKind::Digit) {
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
            } else if (i == slash && t.kind == TokenKind::FixedDen) {
                int64_t den = 0;
                for (char ch : s.text(t).substr(1))
                    den = std::min<int64_t>(den * 10 + (ch - '0'), 999999999);
                s.fixedDen = den;
            } else if ((t.kind == TokenKind::Slash || t.kind == TokenKind::FixedDen) && i != slash) {
                t.kind = TokenKind::Lit;
            } else if (t.kind == TokenKind::Point || t.kind == TokenKind::Exp) {
                t.kind = TokenKind::Lit;
            }
        }
    } else {
        s.kind = sawExp ? Kind::Scientific : Kind::Number;
        Part part = Part::Int;
        sawExp = false;
        for (Token& t : toks) {
            if (t.kind == TokenKind::Digit) {
                t.part = part;
                if (part == Part::Int)
                    ++s.intDigits;
                else if (part == Part::Frac) {
                    ++s.fracDigits;
                    s.fracChars += t.ch;
                } else
                    ++s.expDigits;
            } else if (t.kind == TokenKind::Point) {
                if (sawPoint || sawExp)
                    t.kind = TokenKind::Lit;
                else {
                    sawPoint = true;
                    part = Part::Frac;
                }
            } else if (t.kind == TokenKind::Exp) {
                if (sawExp)
                    t.kind = TokenKind::Lit;
                else {
                    sawExp = true;
                    part = Part::Exp;
                }
            } else if (t.kind == TokenKind::Slash || t.kind == TokenKind::FixedDen) {
                t.kind = TokenKind::Lit;
            }
        }
    }

    // Commas: between integer placeholders they group thousands; right after the last
    // placeholder of the number they divide by 1000 each; anywhere else they are text.
    for (size_t i = 0; i < toks.size(); ++i) {
        if (toks[i].kind != TokenKind::Comma)
            continue;
        size_t j = i;
        while (j < toks.size() && toks[j].kind == TokenKind::Comma)
            ++j;
        const bool afterDigit = i > 0 && toks[i - 1].kind == TokenKind::Digit;
        const bool beforeDigit = j < toks.size() && toks[j].kind == TokenKind::Digit;
        if (afterDigit && beforeDigit && toks[i - 1].part == Part::Int && toks[j].part == Part::Int) {
            s.grouping = true;
            for (size_t k = i; k < j; ++k)
                toks[k].len = 0, toks[k].kind = TokenKind::Lit;
        } else if (afterDigit && !beforeDigit && toks[i - 1].part != Part::Exp) {
            s.shift -= 3 * static_cast<int>(std::min<size_t>(j - i, 100));
            for (size_t k = i; k < j; ++k)
                toks[k].len = 0, toks[k].kind = TokenKind::Lit;
        } else {
            for (size_t k = i; k < j; ++k)
                toks[k].kind = TokenKind::Lit;
        }
        i = j - 1;
    }
    for (Token& t : toks) {
        if (t.kind == TokenKind::Percent) {
            s.shift += 2;
            t.kind = TokenKind::Lit;
        } else if (t.kind == TokenKind::Comma) {
            t.kind = TokenKind::Lit;
        }
    }
    // Bounds the digit shift of a code made only of '%' or ','.
    s.shift = std::clamp(s.shift, -400, 400);
}

void finishSection(Section& s)
{
    bool date = false, general = false;
    for (const Token& t : s.toks) {
        if (isDateKind(t.kind))
            date = true;
        if (t.kind == TokenKind::General)
            general = true;
    }
    if (s.hasText)
        finishText(s);
    else if (date)
        finishDate(s);
    else if (general) {
        s.kind = Kind::General;
        for (Token& t : s.toks)
            if (t.kind != TokenKind::General)
                t.kind = TokenKind::Lit;
    } else if (s.toks.empty())
        s.kind = Kind::Empty;
    else
        finishNumber(s);
}

// ---- rendering helpers ----

}  // namespace

std::vector<Section> parseSections(std::string_view code)
{
    std::vector<Section> sections;
    size_t i = 0;
    while (true) {
        Section s;
        i = lexSection(code, i, s);
        if (sections.size() < 4) {
            finishSection(s);
            sections.push_back(std::move(s));
        }
        if (i >= code.size())
            break;
        ++i;  // the ';'
    }
    return sections;
}

}  // namespace tabulon::numfmt::detail
