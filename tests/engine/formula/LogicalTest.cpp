// Logical functions and the wildcard / criteria helpers they share with other families.
#include <gtest/gtest.h>

#include "GridContext.h"
#include "formula/FunctionSupport.h"

using namespace tabulon::formula;
using namespace tabulon::formula::test;

namespace {
Value call(GridContext& ctx, std::string_view name, std::vector<Value> args)
{
    const FunctionInfo* f = findFunction(name);
    EXPECT_NE(f, nullptr) << name;
    return f ? callFunction(*f, args, ctx) : Value();
}
}  // namespace

TEST(Logical, FunctionsWithValuesTheApplicationShows)
{
    GridContext ctx;
    ctx.setColumn("A1", {num(1), str("x"), boolean(true), Value(), num(0)});
    struct Case {
        const char* name;
        std::vector<Value> args;
        Value expected;
    };
    const Case cases[] = {
        {"IF", {boolean(true), num(1), num(2)}, num(1)},
        {"IF", {num(0), num(1), num(2)}, num(2)},
        {"IF", {boolean(false), num(1)}, boolean(false)},
        {"IF", {str("true"), str("y"), str("n")}, str("y")},
        {"IF", {str("maybe"), num(1), num(2)}, err(ErrorCode::Value)},
        {"IF", {err(ErrorCode::Div0), num(1), num(2)}, err(ErrorCode::Div0)},
        {"IFS", {boolean(false), num(1), boolean(true), num(2)}, num(2)},
        {"IFS", {boolean(false), num(1)}, err(ErrorCode::NA)},
        {"IFERROR", {err(ErrorCode::Div0), str("none")}, str("none")},
        {"IFERROR", {num(5), str("none")}, num(5)},
        {"IFNA", {err(ErrorCode::NA), num(0)}, num(0)},
        {"IFNA", {err(ErrorCode::Ref), num(0)}, err(ErrorCode::Ref)},
        {"AND", {boolean(true), num(1)}, boolean(true)},
        {"AND", {range("A1:A5")}, boolean(false)},
        {"AND", {range("A1:A4")}, boolean(true)},  // text and blanks in ranges are skipped
        {"AND", {range("A2")}, err(ErrorCode::Value)},
        {"AND", {str("x")}, err(ErrorCode::Value)},
        {"OR", {range("A4:A5")}, boolean(false)},
        {"OR", {range("A4")}, err(ErrorCode::Value)},
        {"OR", {boolean(false), num(3)}, boolean(true)},
        {"XOR", {boolean(true), boolean(true), boolean(true)}, boolean(true)},
        {"XOR", {boolean(true), boolean(true)}, boolean(false)},
        {"NOT", {num(0)}, boolean(true)},
        {"NOT", {range("A1")}, boolean(false)},
        {"SWITCH", {num(2), num(1), str("a"), num(2), str("b")}, str("b")},
        {"SWITCH", {str("B"), str("a"), num(1), str("b"), num(2)}, num(2)},
        {"SWITCH", {num(9), num(1), str("a"), str("other")}, str("other")},
        {"SWITCH", {num(9), num(1), str("a")}, err(ErrorCode::NA)},
        {"CHOOSE", {num(2), str("a"), str("b"), str("c")}, str("b")},
        {"CHOOSE", {num(2.9), str("a"), str("b")}, str("b")},
        {"CHOOSE", {num(4), str("a"), str("b")}, err(ErrorCode::Value)},
        {"TRUE", {}, boolean(true)},
        {"NOT", {}, err(ErrorCode::Value)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(call(ctx, c.name, c.args), c.expected) << c.name << " case " << (&c - cases);
}

TEST(Logical, IfOverAnArrayPicksElementWise)
{
    GridContext ctx;
    auto conds = std::make_shared<Array>(Array{1, 3, {boolean(true), boolean(false), num(2)}});
    const Value out = call(ctx, "IF", {Value::array(conds), str("y"), str("n")});
    ASSERT_TRUE(out.isArray());
    EXPECT_EQ(out.asArray().cells, (std::vector<Value>{str("y"), str("n"), str("y")}));
}

TEST(Logical, ScalarFunctionsApplyElementWiseToArrays)
{
    GridContext ctx;
    auto values = std::make_shared<Array>(Array{2, 1, {num(0), num(1)}});
    const Value out = call(ctx, "NOT", {Value::array(values)});
    ASSERT_TRUE(out.isArray());
    EXPECT_EQ(out.asArray().cells, (std::vector<Value>{boolean(true), boolean(false)}));
}

TEST(Criteria, WildcardsMatchAsInTheApplication)
{
    EXPECT_TRUE(wildcardMatch("a*", "Apple"));
    EXPECT_TRUE(wildcardMatch("*ple", "apple"));
    EXPECT_TRUE(wildcardMatch("a?ple", "ample"));
    EXPECT_FALSE(wildcardMatch("a?ple", "aple"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("~*", "*"));
    EXPECT_FALSE(wildcardMatch("~*", "x"));
    EXPECT_TRUE(wildcardMatch("*a*b*c*", "xxaxxbxxcxx"));
    EXPECT_FALSE(wildcardMatch("*a*b*c*d", "xxaxxbxxcxx"));
    EXPECT_TRUE(wildcardMatch("?", "é"));
}

TEST(Criteria, OperatorsNumbersTextAndEmpty)
{
    struct Case {
        Value criterion;
        Value cell;
        bool matches;
    };
    const Case cases[] = {
        {num(5), num(5), true},
        {str("5"), num(5), true},
        {str(">4"), num(5), true},
        {str(">4"), str("9"), false},  // text is never greater than a number criterion
        {str("<=5"), num(5), true},
        {str("<>5"), num(4), true},
        {str("<>5"), Value(), true},
        {str("<>5"), str("x"), true},
        {str("apple"), str("APPLE"), true},
        {str("a*"), str("avocado"), true},
        {str("<>a*"), str("avocado"), false},
        {str(">b"), str("c"), true},
        {str(""), Value(), true},
        {str(""), num(0), false},
        {str("="), Value(), true},
        {str("<>"), num(0), true},
        {str("<>"), Value(), false},
        {str(">=2024-01-01"), num(45300), true},
        {boolean(true), boolean(true), true},
        {str("TRUE"), num(1), false},
        {str("#N/A"), err(ErrorCode::NA), true},
        {Value(), num(0), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Criterion(c.criterion, false).matches(c.cell), c.matches) << "case " << (&c - cases);
}
