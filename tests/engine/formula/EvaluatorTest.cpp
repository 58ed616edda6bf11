// The evaluator: operators, references, names, shared formulas, arrays, cycles and bounds.
#include "BookFixture.h"

using namespace tabulon::formula;
using namespace tabulon::formula::test;

namespace {

struct Case {
    const char* formula;
    Value expected;
};

class Evaluator : public ::testing::Test {
protected:
    void SetUp() override
    {
        f.number("A1", 1);
        f.number("B1", 2);
        f.number("C1", 3);
        f.text("A2", "pos");
        f.text("B2", "12");
        f.boolean("C2", true);
        f.number("A3", 10);
        f.number("B3", 20);
        f.error("C3", ErrorCode::Div0);
        f.number("A4", 100);
        f.number("A1", 7, 1);  // Data!A1
        f.number("A2", 8, 1);
        f.number("A1", 9, 2);  // 'My Sheet'!A1
        f.book.calculate();
    }

    void check(std::initializer_list<Case> cases, std::string_view at = "Z1000")
    {
        for (const Case& c : cases)
            EXPECT_EQ(f.eval(c.formula, at), c.expected) << c.formula;
    }

    BookFixture f;
};

}  // namespace

TEST_F(Evaluator, ArithmeticFollowsTheApplicationsPrecedence)
{
    check({
        {"1+2*3", num(7)},
        {"(1+2)*3", num(9)},
        {"-2^2", num(4)},  // negation binds tighter than ^
        {"2^3^2", num(64)},  // ^ is left-associative
        {"50%", num(0.5)},
        {"10*5%", num(0.5)},
        {"1/0", err(ErrorCode::Div0)},
        {"0^0", err(ErrorCode::Num)},
        {"(-8)^(1/3)", err(ErrorCode::Num)},
        {"1e308*10", err(ErrorCode::Num)},
        {"--\"3\"", num(3)},
        {"\"a\"&1&TRUE", str("a1TRUE")},
        {"1&\"\"", str("1")},
        {"0.1+0.2&\"\"", str("0.3")},
        {"1=1", boolean(true)},
        {"\"abc\"=\"ABC\"", boolean(true)},
        {"\"a\"<\"B\"", boolean(true)},
        {"1<\"a\"", boolean(true)},  // numbers sort before text
        {"\"z\"<TRUE", boolean(true)},
        {"2<>2", boolean(false)},
        {"1+1=2", boolean(true)},
        {"\"x\"+1", err(ErrorCode::Value)},
        {"#N/A+1", err(ErrorCode::NA)},
        {" 1 + 2 ", num(3)},
    });
}

TEST_F(Evaluator, ReferencesAndCoercions)
{
    check({
        {"A1+B1+C1", num(6)},
        {"A2&\"x\"", str("posx")},
        {"B2*2", num(24)},  // numeric text in a cell takes part in arithmetic
        {"C2+1", num(2)},
        {"C3", err(ErrorCode::Div0)},
        {"Z99", num(0)},      // an empty cell shows 0
        {"Z99&\"\"", str("")},
        {"IF(TRUE,Z99)", num(0)},
        {"$A$1+A$3", num(11)},
        {"Data!A1+'My Sheet'!A1", num(16)},
        {"data!a1", num(7)},  // sheet names ignore case
        {"SUM(Sheet1:Data!A1)", num(8)},  // 3-D
        {"SUM('Data:My Sheet'!A1)", num(16)},
        {"Nowhere!A1", err(ErrorCode::Ref)},
        {"SUM(A1:C1)", num(6)},
        {"SUM(A:A)", num(111)},
        {"SUM(1:1)", num(6)},
        {"SUM(A1:A4 A3:C3)", num(10)},  // intersection
        {"SUM(A1:A2 C1:C2)", err(ErrorCode::Null)},
        {"SUM((A1,C1))", num(4)},      // union
        {"SUM(A1:B1:C1)", num(6)},
        {"SUM(#REF!)", err(ErrorCode::Ref)},
    });
}

TEST_F(Evaluator, ImplicitIntersectionPicksTheFormulasRowOrColumn)
{
    EXPECT_EQ(f.eval("A1:A4*2", "D3"), num(20));
    EXPECT_EQ(f.eval("A1:C1+0", "B9"), num(2));
    EXPECT_EQ(f.eval("A1:A4", "D9"), err(ErrorCode::Value));
    EXPECT_EQ(f.eval("A1:B3", "D1"), err(ErrorCode::Value));
}

TEST_F(Evaluator, ArrayFormulasWorkElementWise)
{
    EXPECT_EQ(f.eval("SUM(A1:C1*A3:C3)", "Z1", true), err(ErrorCode::Div0));
    EXPECT_EQ(f.eval("SUM(A1:B1*A3:B3)", "Z1", true), num(50));
    EXPECT_EQ(f.eval("SUM({1,2;3,4}*2)", "Z1"), num(20));
    EXPECT_EQ(f.eval("SUMPRODUCT(A1:B1,A3:B3)"), num(50));
    const Value a = f.eval("A1:C1*10", "Z1", true);
    ASSERT_TRUE(a.isArray());
    EXPECT_EQ(a.asArray().cells, (std::vector<Value>{num(10), num(20), num(30)}));
    EXPECT_EQ(f.eval("{1,2,3}+{10;20}", "Z1", true).asArray().cells.size(), 6u);
    EXPECT_EQ(f.eval("ABS({-1,-2})", "Z1", true).asArray().cells, (std::vector<Value>{num(1), num(2)}));
}

TEST(EvaluatorBook, FormulasSeeEachOthersResultsInAnyOrder)
{
    BookFixture f;
    f.formula("A1", "B1*2");
    f.formula("B1", "C1+1");
    f.number("C1", 4);
    f.formula("A2", "SUM(A1:B1)");
    f.formula("B2", "Data!A1&\"!\"");
    f.formula("A1", "A1+1", 1);  // Data!A1 refers to itself
    f.book.calculate();
    EXPECT_EQ(f.shown("A1"), num(10));
    EXPECT_EQ(f.shown("B1"), num(5));
    EXPECT_EQ(f.shown("A2"), num(15));
    EXPECT_EQ(f.shown("B2"), str("0!"));
    EXPECT_EQ(f.shown("A1", 1), num(0));
}

TEST(EvaluatorBook, EveryCellOfACycleShowsZero)
{
    BookFixture f;
    f.formula("A1", "B1+1");
    f.formula("B1", "C1+1");
    f.formula("C1", "A1+1");
    f.formula("D1", "A1+100");  // depends on the cycle from outside
    f.formula("E1", "SUM(A1:C1)+1");
    f.book.calculate();
    EXPECT_EQ(f.shown("A1"), num(0));
    EXPECT_EQ(f.shown("B1"), num(0));
    EXPECT_EQ(f.shown("C1"), num(0));
    EXPECT_EQ(f.shown("D1"), num(100));
    EXPECT_EQ(f.shown("E1"), num(1));
}

TEST(EvaluatorBook, ARangeHoldingTheFormulaIsCircularOnlyWhenItsValueIsRead)
{
    BookFixture f;
    f.number("A1", 5);
    f.formula("A2", "INDEX(A1:A3,1)*2");  // A1:A3 holds A2, but only A1 is read
    f.formula("A3", "ROWS(A1:A3)+COLUMN(A3)");
    f.book.calculate();
    EXPECT_EQ(f.shown("A2"), num(10));
    EXPECT_EQ(f.shown("A3"), num(4));
}

TEST(EvaluatorBook, LongChainsNeedNoDeepRecursion)
{
    // Each cell adds one to the cell above; evaluating the last first walks 200,000 cells.
    BookFixture f;
    f.number("A1", 1);
    for (int r = 2; r <= 200000; ++r)
        f.formula("A" + std::to_string(r), "A" + std::to_string(r - 1) + "+1");
    f.formula("B1", "A200000");
    f.book.calculate();
    EXPECT_EQ(f.shown("B1"), num(200000));
}

TEST(EvaluatorBook, SharedFormulaOffsetsMoveWithTheCell)
{
    // One parsed formula written for C1, used by C1:C3 (as OOXML shared formulas are).
    BookFixture f;
    for (int r = 1; r <= 3; ++r) {
        f.number("A" + std::to_string(r), r);
        f.number("B" + std::to_string(r), 10 * r);
    }
    const uint32_t source = f.book.addSource(SourceForm::A1, "A1*B1+$A$1", {}, 0, 0, 2);
    for (uint32_t r = 0; r < 3; ++r) {
        f.book.addCell(0, 3 + r, 2, CellType::Blank, 0, {}, 0);
        f.book.setFormula(source, false, true);
    }
    f.book.calculate();
    // Written for C1 and placed at C4..C6: A1 -> A4 (empty), so 0*0 + 1.
    EXPECT_EQ(f.shown("C4"), num(1));
    EXPECT_EQ(f.shown("C6"), num(1));
}

TEST(EvaluatorBook, NamesOfWorkbookAndSheetScope)
{
    BookFixture f;
    f.number("A1", 5);
    f.number("A2", 6);
    f.number("A1", 50, 1);
    f.name("Rate", "Sheet1!$A$1");
    f.name("Rate", "Data!$A$1", 1);  // Data's own Rate
    f.name("Both", "Sheet1!$A$1:$A$2");
    f.name("Twice", "Rate*2");
    f.formula("B1", "Rate+SUM(Both)");
    f.formula("B1", "Rate", 1);
    f.formula("B2", "Twice+rate");
    f.formula("B3", "Unknown+1");
    f.book.calculate();
    EXPECT_EQ(f.shown("B1"), num(16));
    EXPECT_EQ(f.shown("B1", 1), num(50));
    EXPECT_EQ(f.shown("B2"), num(15));
    EXPECT_EQ(f.shown("B3"), err(ErrorCode::Name));
}

TEST(EvaluatorBook, UnknownFunctionsAndExternalReferencesKeepTheStoredResult)
{
    BookFixture f;
    const auto add = [&](uint32_t row, const char* text, bool hasResult) {
        f.book.addCell(0, row, 0, hasResult ? CellType::Number : CellType::Blank, hasResult ? 42 : 0, {}, 0);
        f.book.setFormula(f.book.addSource(SourceForm::A1, text, {}, 0, row, 0), hasResult, true);
    };
    add(0, "NOSUCHFUNCTION(1)", true);
    add(1, "NOSUCHFUNCTION(1)", false);
    add(2, "[1]Sheet1!A1", true);
    add(3, "[1]Sheet1!A1+1", false);
    add(4, "Table1[Amount]", false);
    f.book.calculate();
    EXPECT_EQ(f.shown("A1"), num(42));
    EXPECT_EQ(f.shown("A2"), err(ErrorCode::Name));
    EXPECT_EQ(f.shown("A3"), num(42));
    EXPECT_EQ(f.shown("A4"), err(ErrorCode::Ref));
    EXPECT_EQ(f.shown("A5"), err(ErrorCode::Ref));
    EXPECT_EQ(f.book.uncalculated(0), 3u);
}

TEST(EvaluatorBook, HugeRangesCostWhatIsStored)
{
    BookFixture f;
    f.number("A1", 1);
    f.number("A1048576", 2);
    f.formula("B1", "SUM(A:A)+COUNT(A:A)+COUNTIF(A:A,\">0\")");
    f.formula("B2", "SUM(OFFSET(A1,0,0,1048576,1))");
    f.formula("B3", "SUM(INDIRECT(\"A1:A\"&ROWS(A:A)))");
    f.formula("B4", "COUNT(A:XFD)");  // takes in itself: circular
    f.book.calculate();
    EXPECT_EQ(f.shown("B1"), num(3 + 2 + 2));
    EXPECT_EQ(f.shown("B2"), num(3));
    EXPECT_EQ(f.shown("B3"), num(3));
    EXPECT_EQ(f.shown("B4"), num(0));
}

TEST(Parser, RejectsMalformedTextWithAReason)
{
    for (const char* text : {"", "1+", "SUM(1", "(1", "\"open", "{1,2;3}", "A1:", "1 2", "#BOGUS!", "'Sheet", "SUM(1,,"}) {
        const auto r = parseA1(text, 0, 0, 0, nullptr);
        EXPECT_FALSE(r.formula) << text;
        EXPECT_FALSE(r.error.empty()) << text;
    }
}

TEST(Parser, BoundsNestingInsteadOfRecursingWithoutLimit)
{
    std::string deep(100000, '(');
    deep += "1";
    deep += std::string(100000, ')');
    EXPECT_FALSE(parseA1(deep, 0, 0, 0, nullptr).formula);
    std::string minus(100000, '-');
    minus += "1";
    EXPECT_FALSE(parseA1(minus, 0, 0, 0, nullptr).formula);
    EXPECT_TRUE(parseA1(std::string(60, '(') + "1" + std::string(60, ')'), 0, 0, 0, nullptr).formula);
}

TEST(Parser, ReadsReferenceForms)
{
    auto sheets = [](std::string_view n) -> int64_t { return n == "Sheet 2" ? 1 : n == "S3" ? 2 : -1; };
    struct Form {
        const char* text;
        int32_t row1, col1, row2, col2;
        uint8_t flags;
    };
    // Written for cell B2 (row 1, col 1): relative parts are offsets from it.
    const Form forms[] = {
        {"$C$5", 4, 2, 4, 2, 0},
        {"C5", 3, 1, 3, 1, RowFirstRel | ColFirstRel | RowLastRel | ColLastRel},
        {"$A1:B$3", -1, 0, 2, 0, RowFirstRel | ColLastRel},
        {"$A:$C", 0, 0, 1048575, 2, 0},
        {"$2:$4", 1, 0, 3, 16383, 0},
        {"'Sheet 2'!$A$1", 0, 0, 0, 0, SheetGiven},
        {"S3!$XFD$1048576", 1048575, 16383, 1048575, 16383, SheetGiven},
    };
    for (const Form& x : forms) {
        const auto r = parseA1(x.text, 0, 1, 1, sheets);
        ASSERT_TRUE(r.formula) << x.text << r.error;
        ASSERT_EQ(r.formula->tokens.size(), 1u) << x.text;
        const Token& t = r.formula->tokens[0];
        EXPECT_EQ(t.op, Op::Ref) << x.text;
        EXPECT_EQ(t.row1, x.row1) << x.text;
        EXPECT_EQ(t.col1, x.col1) << x.text;
        EXPECT_EQ(t.row2, x.row2) << x.text;
        EXPECT_EQ(t.col2, x.col2) << x.text;
        EXPECT_EQ(t.flags, x.flags) << x.text;
    }
    // Names, functions and things that look like cells but are not.
    for (const char* text : {"LOG10(100)", "A1B", "XFE1", "A0", "TAX_2024", "R2D2"}) {
        const auto r = parseA1(text, 0, 0, 0, sheets);
        ASSERT_TRUE(r.formula) << text << r.error;
        EXPECT_NE(r.formula->tokens.back().op, Op::Ref) << text;
    }
}
