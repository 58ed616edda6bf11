#include "FunctionSupport.h"

#include <vector>

namespace tabulon::formula {

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
