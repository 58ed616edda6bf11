// The binary token forms of .xls and .xlsb, built by hand, agree with the A1 text form.
#include <cstring>

#include "BookFixture.h"

using namespace tabulon::formula;
using namespace tabulon::formula::test;

namespace {

// Builds an rgce byte string in either form; references are given as in a cell formula
// (absolute values with relative flags) unless offsets() is used.
class Rgce {
public:
    explicit Rgce(TokenForm form) : m_xlsb(form == TokenForm::Xlsb) {}

    Rgce& u8(uint8_t v) { m_b += char(v); return *this; }
    Rgce& u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
    Rgce& u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
    Rgce& row(uint32_t r) { return m_xlsb ? u32(r) : u16(uint16_t(r)); }
    static uint16_t col(uint16_t c, bool rowRel, bool colRel) { return uint16_t(c | (colRel ? 0x4000 : 0) | (rowRel ? 0x8000 : 0)); }

    Rgce& num(double v) { u8(0x1F); char b[8]; std::memcpy(b, &v, 8); m_b.append(b, 8); return *this; }
    Rgce& integer(uint16_t v) { return u8(0x1E).u16(v); }
    Rgce& str(std::string_view s)
    {
        u8(0x17);
        if (m_xlsb)
            u16(uint16_t(s.size()));
        else
            u8(uint8_t(s.size())).u8(0);
        for (char c : s) {
            u8(uint8_t(c));
            if (m_xlsb)
                u8(0);
        }
        return *this;
    }
    Rgce& ref(uint32_t r, uint16_t c, bool rel = true) { u8(0x44); row(r); return u16(col(c, rel, rel)); }
    Rgce& refN(int32_t dr, int16_t dc)
    {
        u8(0x4C);
        row(uint32_t(dr));
        const uint16_t field = m_xlsb ? uint16_t(dc & 0x3FFF) : uint16_t(uint8_t(int8_t(dc)));
        return u16(uint16_t(field | 0xC000));
    }
    Rgce& area(uint32_t r1, uint16_t c1, uint32_t r2, uint16_t c2)
    {
        u8(0x25);
        row(r1);
        row(r2);
        return u16(col(c1, true, true)).u16(col(c2, true, true));
    }
    Rgce& area3d(uint16_t xti, uint32_t r1, uint16_t c1, uint32_t r2, uint16_t c2)
    {
        u8(0x3B).u16(xti);
        row(r1);
        row(r2);
        return u16(c1).u16(c2);
    }
    Rgce& func(uint16_t index) { return u8(0x41).u16(index); }
    Rgce& funcVar(uint8_t argc, uint16_t index) { return u8(0x42).u8(argc).u16(index); }
    Rgce& op(uint8_t ptg) { return u8(ptg); }
    Rgce& name(uint32_t index)
    {
        u8(0x43);
        return m_xlsb ? u32(index) : u16(uint16_t(index)).u16(0);
    }
    Rgce& attrSum() { return u8(0x19).u8(0x10).u16(0); }
    Rgce& attrSpace() { return u8(0x19).u8(0x40).u16(0x0100); }
    Rgce& array() { u8(0x60); m_b.append(m_xlsb ? 14 : 7, '\0'); return *this; }

    std::string bytes() const { return m_b; }

private:
    bool m_xlsb;
    std::string m_b;
};

// rgcb data of a 1x2 array constant {1,"ab"}.
std::string arrayData(TokenForm form)
{
    std::string d;
    auto put16 = [&](uint16_t v) { d += char(v & 0xFF); d += char(v >> 8); };
    auto putDouble = [&](double v) { char b[8]; std::memcpy(b, &v, 8); d.append(b, 8); };
    if (form == TokenForm::Xlsb) {
        d.append("\x01\0\0\0\x02\0\0\0", 8);  // rows, cols
        d += '\x00';
        putDouble(1);
        d += '\x01';
        put16(2);
        d.append("a\0b\0", 4);
    } else {
        d += '\x01';  // cols - 1
        put16(0);     // rows - 1
        d += '\x01';
        putDouble(1);
        d += '\x02';
        put16(2);
        d += '\x00';
        d += "ab";
    }
    return d;
}

class Tokens : public ::testing::TestWithParam<TokenForm> {
protected:
    void SetUp() override
    {
        f.number("A1", 1);
        f.number("B1", 2);
        f.number("C1", 3);
        f.text("A2", "pos");
        f.number("A1", 10, 1);
        f.number("A1", 20, 2);
        f.name("Total", "SUM(Sheet1!$A$1:$C$1)");
        f.book.calculate();
        book.sheetsOfXti = [](uint32_t xti) -> std::optional<std::pair<uint32_t, uint32_t>> {
            if (xti == 0)
                return std::pair{1u, 2u};
            return std::nullopt;
        };
        book.nameText = [](uint32_t index) { return index == 1 ? std::string("Total") : std::string(); };
        book.externalName = [](uint32_t, uint32_t index) { return index == 1 ? std::string("_xlfn.IFERROR") : std::string(); };
    }

    // Evaluates tokens written for cell (row, col) and the text at the same place.
    void agree(const Rgce& rgce, std::string_view text, Value expected, std::string rgcb = {}, uint32_t row = 4, uint32_t col = 4)
    {
        const auto decoded = decodeTokens(GetParam(), rgce.bytes(), rgcb, 0, row, col, book);
        ASSERT_TRUE(decoded.formula) << text << ": " << decoded.error;
        const Value fromTokens = f.book.evaluate(*decoded.formula, 0, row, col);
        const auto parsed = parseA1(text, 0, row, col, [this](std::string_view n) { return f.book.sheetByName(n); });
        ASSERT_TRUE(parsed.formula) << text;
        EXPECT_EQ(fromTokens, f.book.evaluate(*parsed.formula, 0, row, col)) << text;
        EXPECT_EQ(fromTokens, expected) << text;
    }

    BookFixture f;
    TokenBook book;
};

}  // namespace

TEST_P(Tokens, AgreeWithTheTextForm)
{
    const TokenForm form = GetParam();
    agree(Rgce(form).area(0, 0, 0, 2).funcVar(1, 4), "SUM(A1:C1)", num(6));
    agree(Rgce(form).area(0, 0, 0, 2).attrSum(), "SUM(A1:C1)", num(6));
    agree(Rgce(form).ref(1, 0).str("x").op(0x08), "A2&\"x\"", str("posx"));
    agree(Rgce(form).area(0, 0, 0, 2).funcVar(1, 5).integer(2).op(0x05), "AVERAGE(A1:C1)*2", num(4));
    agree(Rgce(form).num(2).attrSpace().integer(3).op(0x07).op(0x13), "-(2^3)", num(-8));
    agree(Rgce(form).ref(0, 0).integer(1).op(0x0B).str("y").str("n").funcVar(3, 1), "IF(A1=1,\"y\",\"n\")", str("y"));
    agree(Rgce(form).area3d(0, 0, 0, 0, 0).funcVar(1, 4), "SUM('Data:My Sheet'!$A$1)", num(30));
    agree(Rgce(form).name(1).integer(1).op(0x03), "Total+1", num(7));
    agree(Rgce(form).array().funcVar(1, 169), "COUNTA({1,\"ab\"})", num(2), arrayData(form));
    agree(Rgce(form).integer(1).integer(0).op(0x06).str("none").func(480), "IFERROR(1/0,\"none\")", str("none"));
    agree(Rgce(form).str("abc").integer(2).funcVar(2, 115), "LEFT(\"abc\",2)", str("ab"));
    agree(Rgce(form).u8(0x39).u16(0).u16(1).u16(0).integer(1).integer(0).op(0x06).integer(7).funcVar(3, 255),
          "IFERROR(1/0,7)", num(7));
}

TEST_P(Tokens, SharedFormulaOffsetsAreSigned)
{
    // Written once for a group: one row up, one column left of each cell.
    const Rgce rgce = Rgce(GetParam()).refN(-1, -1).integer(100).op(0x03);
    const auto decoded = decodeTokens(GetParam(), rgce.bytes(), {}, 0, 0, 0, book);
    ASSERT_TRUE(decoded.formula) << decoded.error;
    EXPECT_EQ(f.book.evaluate(*decoded.formula, 0, 1, 1), num(101));  // B2 -> A1
    EXPECT_EQ(f.book.evaluate(*decoded.formula, 0, 1, 3), num(103));  // D2 -> C1
}

TEST_P(Tokens, UnknownThingsAreUnsupportedNotFatal)
{
    const TokenForm form = GetParam();
    // An unknown function number and a 3-D reference into another workbook.
    auto unknownFn = decodeTokens(form, Rgce(form).integer(1).func(0x7FF).bytes(), {}, 0, 0, 0, book);
    auto external = decodeTokens(form, Rgce(form).area3d(5, 0, 0, 0, 0).bytes(), {}, 0, 0, 0, book);
    ASSERT_TRUE(external.formula);
    EXPECT_TRUE(external.formula->unsupported);
    EXPECT_FALSE(unknownFn.formula);  // the argument count of an unknown fixed function is unknown
}

TEST_P(Tokens, MalformedTokensAreRejected)
{
    const TokenForm form = GetParam();
    for (const std::string& bytes : {std::string("\x1F\x00\x00", 3), std::string("\x03", 1), std::string("\x1E\x01\x00\x1E\x01\x00", 6),
                                     std::string("\xFF", 1), std::string("\x17\x05", 2), Rgce(form).array().bytes()}) {
        const auto r = decodeTokens(form, bytes, {}, 0, 0, 0, book);
        EXPECT_FALSE(r.formula);
        EXPECT_FALSE(r.error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(BothForms, Tokens, ::testing::Values(TokenForm::Biff8, TokenForm::Xlsb),
                         [](const auto& info) { return info.param == TokenForm::Biff8 ? std::string("Xls") : std::string("Xlsb"); });
