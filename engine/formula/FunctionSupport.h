#pragma once
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <string_view>

#include "Function.h"

// Small helpers the function families share.
namespace tabulon::formula {

// The first error among scalar arguments, if any.
inline std::optional<ErrorCode> firstError(std::span<const Value> args)
{
    for (const Value& v : args)
        if (v.isError())
            return v.asError();
    return std::nullopt;
}

// Number from a scalar argument in the workbook's date system.
inline NumberOrError number(const Value& v, Context& ctx)
{
    return toNumber(v, ctx.date1904());
}

// The numbers of aggregate arguments as SUM, AVERAGE, MIN and their kin take them: numbers,
// booleans and numeric text given directly count; in references and arrays only numbers
// count. The first error met is returned instead.
std::optional<ErrorCode> collectNumbers(std::span<const Value> args, Context& ctx, std::vector<double>& out);

// Rounds to `digits` decimals (negative: to tens, hundreds, ...) on the number's 15
// significant decimal digits, as the application does (ROUND(2.675, 2) is 2.68).
enum class RoundMode : uint8_t { HalfAwayFromZero, Up, Down };
double roundDecimal(double x, double digits, RoundMode mode);

// UTF-8 text as code points, and back; the text functions count characters this way.
std::u32string toCodePoints(std::string_view utf8);
std::string fromCodePoints(std::u32string_view cps);

// Text comparison with the wildcards of criteria and lookups: `*` any run, `?` one
// character, `~` makes the next character literal. Case is ignored.
bool wildcardMatch(std::string_view pattern, std::string_view text);
// True when the text holds an unescaped `*` or `?`.
bool hasWildcards(std::string_view pattern);

// A criterion of COUNTIF, SUMIF and their kin: "=x", "<>x", "<5", ">=2024-01-01", "a*",
// a number, a boolean, an empty text (matches empty cells), ...
class Criterion {
public:
    Criterion(const Value& criterion, bool date1904);
    bool matches(const Value& cell) const;
    // The value a plain "equals" criterion (no wildcards, not empty) compares with.
    const Value* plainEquality() const
    {
        return m_op == Op::Eq && !m_wildcard && !m_emptyOperand && !m_operand.isError() ? &m_operand : nullptr;
    }

private:
    enum class Op : uint8_t { Eq, Ne, Lt, Le, Gt, Ge } m_op = Op::Eq;
    Value m_operand;        // number, text (upper-cased), bool or error
    bool m_wildcard = false;
    bool m_emptyOperand = false;  // "=" or "" : matches blanks (and empty text)
};

}  // namespace tabulon::formula
