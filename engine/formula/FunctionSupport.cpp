#include "FunctionSupport.h"

#include "io/Utf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

namespace tabulon::formula {

std::optional<ErrorCode> collectNumbers(std::span<const Value> args, Context& ctx, std::vector<double>& out)
{
    std::optional<ErrorCode> error;
    for (const Value& arg : args) {
        ctx.forEachValue(arg, [&](const Value& v, bool fromRef) {
            switch (v.type()) {
            case Value::Type::Number: out.push_back(v.asNumber()); return true;
            case Value::Type::Error: error = v.asError(); return false;
            case Value::Type::Bool:
                if (!fromRef)
                    out.push_back(v.asNumber());
                return true;
            case Value::Type::Text:
                if (!fromRef) {
                    const auto n = toNumber(v, ctx.date1904());
                    if (n.error) {
                        error = n.error;
                        return false;
                    }
                    out.push_back(n.value);
                }
                return true;
            default: return true;
            }
        });
        if (error)
            return error;
    }
    return std::nullopt;
}

double roundDecimal(double x, double digitsIn, RoundMode mode)
{
    if (!std::isfinite(x) || x == 0)
        return x;
    const int digits = int(std::max(-400.0, std::min(400.0, std::trunc(digitsIn))));
    // The 15 significant digits of x, as text, then rounding on those digits.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
    char mant[16];
    int n = 0;
    for (const char* p = buf; *p && *p != 'e'; ++p)
        if (*p != '.')
            mant[n++] = *p;
    const int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
    // Digit i (0-based) has weight 10^(exp10 - i); keep digits with weight >= 10^-digits.
    const int keep = exp10 + digits + 1;
    if (keep >= n)
        return x;
    bool roundUp;
    if (keep < 0) {
        roundUp = mode == RoundMode::Up;
    } else {
        bool restNonZero = false;
        for (int i = keep; i < n; ++i)
            restNonZero = restNonZero || mant[i] != '0';
        roundUp = mode == RoundMode::Up ? restNonZero : mode == RoundMode::Down ? false : mant[keep] >= '5';
    }
    // Value of the kept digits.
    double kept = 0;
    for (int i = 0; i < keep && i < n; ++i)
        kept = kept * 10 + (mant[i] - '0');
    if (roundUp)
        kept += 1;
    const int scale = exp10 - keep + 1;  // kept * 10^scale
    char out[64];
    std::snprintf(out, sizeof out, "%.0fe%d", kept, scale);
    const double r = std::strtod(out, nullptr);
    return x < 0 ? -r : r;
}

std::u32string toCodePoints(std::string_view s)
{
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        out += engine::nextCodePoint(s, i);
    return out;
}

std::string fromCodePoints(std::u32string_view cps)
{
    std::string out;
    out.reserve(cps.size());
    for (char32_t cp : cps)
        engine::appendCodePoint(uint32_t(cp), out);
    return out;
}

bool hasWildcards(std::string_view p)
{
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] == '~') {
            ++i;
            continue;
        }
        if (p[i] == '*' || p[i] == '?')
            return true;
    }
    return false;
}

bool wildcardMatch(std::string_view pattern, std::string_view text)
{
    const std::string p = foldCase(pattern), t = foldCase(text);
    // Iterative matcher with one backtrack point for the last '*': linear in practice, and
    // never worse than |p| * |t|.
    size_t pi = 0, ti = 0, starP = std::string::npos, starT = 0;
    auto charLen = [](const std::string& s, size_t i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        return std::min(n, s.size() - i);
    };
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '*') {
            starP = ++pi;
            starT = ti;
            continue;
        }
        if (pi < p.size()) {
            if (p[pi] == '?') {
                ++pi;
                ti += charLen(t, ti);
                continue;
            }
            size_t lit = pi;
            if (p[pi] == '~' && pi + 1 < p.size())
                lit = pi + 1;
            const size_t n = charLen(p, lit);
            if (t.compare(ti, n, p, lit, n) == 0) {
                pi = lit + n;
                ti += n;
                continue;
            }
        }
        if (starP == std::string::npos)
            return false;
        starT += charLen(t, starT);
        ti = starT;
        pi = starP;
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

Criterion::Criterion(const Value& criterion, bool date1904)
{
    if (!criterion.isText()) {
        m_operand = criterion.isBlank() ? Value::number(0) : criterion;
        return;
    }
    std::string_view s = criterion.asText();
    if (s.starts_with("<=")) {
        m_op = Op::Le, s.remove_prefix(2);
    } else if (s.starts_with(">=")) {
        m_op = Op::Ge, s.remove_prefix(2);
    } else if (s.starts_with("<>")) {
        m_op = Op::Ne, s.remove_prefix(2);
    } else if (s.starts_with("<")) {
        m_op = Op::Lt, s.remove_prefix(1);
    } else if (s.starts_with(">")) {
        m_op = Op::Gt, s.remove_prefix(1);
    } else if (s.starts_with("=")) {
        m_op = Op::Eq, s.remove_prefix(1);
    }
    if (s.empty()) {
        m_emptyOperand = true;
        m_operand = Value::text("");
        return;
    }
    if (auto n = parseNumberText(s, date1904)) {
        m_operand = Value::number(*n);
    } else if (auto e = errorFromLiteral(s)) {
        m_operand = Value::error(*e);
    } else if (foldCase(s) == "TRUE" || foldCase(s) == "FALSE") {
        m_operand = Value::boolean(foldCase(s) == "TRUE");
    } else {
        m_operand = Value::text(std::string(s));
        m_wildcard = (m_op == Op::Eq || m_op == Op::Ne) && hasWildcards(s);
    }
}

bool Criterion::matches(const Value& cell) const
{
    if (m_emptyOperand) {
        const bool empty = cell.isBlank() || (cell.isText() && cell.asText().empty());
        // "=" matches empty cells; "<>" matches every cell that is not empty; "" alone
        // matches empty cells too.
        return m_op == Op::Ne ? !empty : m_op == Op::Eq ? empty : false;
    }
    bool sameKind;
    int cmp = 0;
    if (m_operand.isNumber()) {
        sameKind = cell.isNumber();
        if (sameKind)
            cmp = cell.asNumber() < m_operand.asNumber() ? -1 : cell.asNumber() > m_operand.asNumber() ? 1 : 0;
    } else if (m_operand.isText()) {
        sameKind = cell.isText();
        if (sameKind) {
            if (m_wildcard) {
                const bool hit = wildcardMatch(m_operand.asText(), cell.asText());
                return m_op == Op::Eq ? hit : !hit;
            }
            cmp = compareScalars(cell, m_operand);
        }
    } else if (m_operand.isBool()) {
        sameKind = cell.isBool();
        if (sameKind)
            cmp = int(cell.asBool()) - int(m_operand.asBool());
    } else {  // error
        sameKind = cell.isError();
        if (sameKind)
            cmp = cell.asError() == m_operand.asError() ? 0 : 1;
    }
    if (!sameKind)
        return m_op == Op::Ne;  // "<>x" matches everything that is not x, blanks included
    switch (m_op) {
    case Op::Eq: return cmp == 0;
    case Op::Ne: return cmp != 0;
    case Op::Lt: return cmp < 0;
    case Op::Le: return cmp <= 0;
    case Op::Gt: return cmp > 0;
    case Op::Ge: return cmp >= 0;
    }
    return false;
}

}  // namespace tabulon::formula
