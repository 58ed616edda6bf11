// The parsed-token (RPN) form of formulas in .xls (BIFF8) and .xlsb, decoded into the same
// postfix model the A1 parser produces.
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "Formula.h"
#include "io/Utf.h"

namespace tabulon::formula {

namespace {

// Built-in function numbers shared by both forms (the .xlsb table extends the .xls one).
constexpr std::pair<uint16_t, std::string_view> kFunctionNumbers[] = {
    {0, "COUNT"}, {1, "IF"}, {2, "ISNA"}, {3, "ISERROR"}, {4, "SUM"}, {5, "AVERAGE"}, {6, "MIN"}, {7, "MAX"},
    {8, "ROW"}, {9, "COLUMN"}, {10, "NA"}, {11, "NPV"}, {12, "STDEV"}, {13, "DOLLAR"}, {14, "FIXED"}, {15, "SIN"},
    {16, "COS"}, {17, "TAN"}, {18, "ATAN"}, {19, "PI"}, {20, "SQRT"}, {21, "EXP"}, {22, "LN"}, {23, "LOG10"},
    {24, "ABS"}, {25, "INT"}, {26, "SIGN"}, {27, "ROUND"}, {28, "LOOKUP"}, {29, "INDEX"}, {30, "REPT"},
    {31, "MID"}, {32, "LEN"}, {33, "VALUE"}, {34, "TRUE"}, {35, "FALSE"}, {36, "AND"}, {37, "OR"}, {38, "NOT"},
    {39, "MOD"}, {46, "VAR"}, {48, "TEXT"}, {56, "PV"}, {57, "FV"}, {58, "NPER"}, {59, "PMT"}, {60, "RATE"},
    {62, "IRR"}, {63, "RAND"}, {64, "MATCH"}, {65, "DATE"}, {66, "TIME"}, {67, "DAY"}, {68, "MONTH"},
    {69, "YEAR"}, {70, "WEEKDAY"}, {71, "HOUR"}, {72, "MINUTE"}, {73, "SECOND"}, {74, "NOW"}, {76, "ROWS"},
    {77, "COLUMNS"}, {78, "OFFSET"}, {82, "SEARCH"}, {83, "TRANSPOSE"}, {86, "TYPE"}, {97, "ATAN2"}, {98, "ASIN"}, {99, "ACOS"},
    {100, "CHOOSE"}, {101, "HLOOKUP"}, {102, "VLOOKUP"}, {105, "ISREF"}, {109, "LOG"}, {111, "CHAR"},
    {112, "LOWER"}, {113, "UPPER"}, {114, "PROPER"}, {115, "LEFT"}, {116, "RIGHT"}, {117, "EXACT"},
    {118, "TRIM"}, {119, "REPLACE"}, {120, "SUBSTITUTE"}, {121, "CODE"}, {124, "FIND"}, {126, "ISERR"},
    {127, "ISTEXT"}, {128, "ISNUMBER"}, {129, "ISBLANK"}, {130, "T"}, {131, "N"}, {140, "DATEVALUE"},
    {141, "TIMEVALUE"}, {148, "INDIRECT"}, {162, "CLEAN"}, {169, "COUNTA"}, {183, "PRODUCT"}, {184, "FACT"},
    {190, "ISNONTEXT"}, {193, "STDEVP"}, {194, "VARP"}, {197, "TRUNC"}, {198, "ISLOGICAL"}, {212, "ROUNDUP"},
    {213, "ROUNDDOWN"}, {216, "RANK"}, {219, "ADDRESS"}, {220, "DAYS360"}, {221, "TODAY"}, {227, "MEDIAN"},
    {228, "SUMPRODUCT"}, {285, "FLOOR"}, {288, "CEILING"}, {298, "ODD"}, {279, "EVEN"}, {321, "SUMSQ"},
    {325, "LARGE"}, {326, "SMALL"}, {336, "CONCATENATE"}, {337, "POWER"}, {342, "RADIANS"}, {343, "DEGREES"},
    {344, "SUBTOTAL"}, {345, "SUMIF"}, {346, "COUNTIF"}, {347, "COUNTBLANK"}, {351, "DATEDIF"},
    {480, "IFERROR"}, {481, "COUNTIFS"}, {482, "SUMIFS"}, {483, "AVERAGEIF"}, {484, "AVERAGEIFS"},
};

constexpr uint32_t kRows = 1048576;

class Decoder {
public:
    Decoder(TokenForm form, std::string_view rgce, std::string_view rgcb, uint32_t sheet, uint32_t row, uint32_t col,
            const TokenBook& book)
        : m_xlsb(form == TokenForm::Xlsb), m_p(rgce), m_extra(rgcb), m_sheet(sheet), m_row(row), m_col(col), m_book(book)
    {
    }

    ParseResult run()
    {
        ParseResult r;
        try {
            while (m_i < m_p.size())
                step();
            if (m_starts.size() != 1)
                fail("the tokens do not form one expression");
            r.formula = std::move(m_f);
        } catch (const std::string& why) {
            r.error = why;
        }
        return r;
    }

private:
    [[noreturn]] void fail(const std::string& why) const
    {
        throw "formula tokens: " + why + " at byte " + std::to_string(m_i);
    }

    void need(size_t n) const
    {
        if (m_p.size() - m_i < n)
            fail("a token is cut short");
    }
    uint8_t u8() { need(1); return uint8_t(m_p[m_i++]); }
    uint16_t u16() { need(2); uint16_t v = uint16_t(uint8_t(m_p[m_i]) | uint8_t(m_p[m_i + 1]) << 8); m_i += 2; return v; }
    uint32_t u32() { uint32_t lo = u16(); return lo | uint32_t(u16()) << 16; }
    double f64() { need(8); double v; std::memcpy(&v, m_p.data() + m_i, 8); m_i += 8; return v; }
    void skip(size_t n) { need(n); m_i += n; }

    // Data of array constants and memory areas follows the tokens, in token order.
    void needExtra(size_t n) const
    {
        if (m_extra.size() - m_e < n)
            fail("array data is cut short");
    }
    uint8_t x8() { needExtra(1); return uint8_t(m_extra[m_e++]); }
    uint16_t x16() { uint16_t lo = x8(); return uint16_t(lo | x8() << 8); }
    uint32_t x32() { uint32_t lo = x16(); return lo | uint32_t(x16()) << 16; }
    double xf64() { needExtra(8); double v; std::memcpy(&v, m_extra.data() + m_e, 8); m_e += 8; return v; }

    Token& emitOperand(Op op)
    {
        if (m_f.tokens.size() >= 65536)
            fail("too many tokens");
        m_starts.push_back(m_f.tokens.size());
        m_f.tokens.push_back(Token{});
        m_f.tokens.back().op = op;
        return m_f.tokens.back();
    }

    // An operator over n operands: they merge into one.
    Token& emitOperator(Op op, size_t n)
    {
        if (m_starts.size() < n)
            fail("an operator lacks operands");
        const size_t start = n ? m_starts[m_starts.size() - n] : m_f.tokens.size();
        m_starts.resize(m_starts.size() - n);
        m_starts.push_back(start);
        m_f.tokens.push_back(Token{});
        m_f.tokens.back().op = op;
        return m_f.tokens.back();
    }

    void unsupported(size_t operands, ErrorCode shown = ErrorCode::Ref)
    {
        emitOperator(Op::Unsupported, operands).number = double(uint8_t(shown));
        m_f.unsupported = true;
    }

    std::string readString()
    {
        std::string out;
        if (m_xlsb) {
            const uint16_t cch = u16();
            need(size_t(cch) * 2);
            appendUtf16(m_p.substr(m_i, size_t(cch) * 2), out);
            m_i += size_t(cch) * 2;
        } else {
            const uint8_t cch = u8();
            const uint8_t flags = u8();
            if (flags & 1) {
                need(size_t(cch) * 2);
                appendUtf16(m_p.substr(m_i, size_t(cch) * 2), out);
                m_i += size_t(cch) * 2;
            } else {
                need(cch);
                for (size_t k = 0; k < cch; ++k)
                    appendLatin1(uint8_t(m_p[m_i + k]), out);
                m_i += cch;
            }
        }
        return out;
    }

    static void appendLatin1(uint8_t c, std::string& out)
    {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }

    static void appendUtf16(std::string_view bytes, std::string& out) { engine::appendUtf16(bytes, out); }

    // Row and column of a reference. In formulas of one cell the fields hold the cell's
    // address and the relative flags say how it moves; in shared formulas (tRefN/tAreaN)
    // relative fields hold offsets. Both become offsets here.
    void place(Token& t, uint32_t rawRow, uint16_t rawCol, bool offsets, bool last)
    {
        const bool rowRel = rawCol & 0x8000, colRel = rawCol & 0x4000;
        int32_t row, col;
        if (m_xlsb) {
            col = int32_t(rawCol & 0x3FFF);
            if (offsets && colRel && (col & 0x2000))
                col -= 0x4000;
            row = int32_t(rawRow);  // 32-bit, signed when an offset
        } else {
            col = int32_t(rawCol & 0x00FF);
            if (offsets && colRel && (col & 0x80))
                col -= 0x100;
            row = int32_t(rawRow & 0xFFFF);
            if (offsets && rowRel && (row & 0x8000))
                row -= 0x10000;
        }
        if (rowRel && !offsets)
            row -= int32_t(m_row);
        if (colRel && !offsets)
            col -= int32_t(m_col);
        if (!rowRel && (row < 0 || uint32_t(row) >= kRows))
            fail("a row is out of range");
        (last ? t.row2 : t.row1) = row;
        (last ? t.col2 : t.col1) = col;
        if (rowRel)
            t.flags |= last ? RowLastRel : RowFirstRel;
        if (colRel)
            t.flags |= last ? ColLastRel : ColFirstRel;
    }

    uint32_t rowField() { return m_xlsb ? u32() : u16(); }

    void cellRef(Token& t, bool offsets)
    {
        const uint32_t row = rowField();
        const uint16_t col = u16();
        place(t, row, col, offsets, false);
        place(t, row, col, offsets, true);
    }

    void areaRef(Token& t, bool offsets)
    {
        const uint32_t row1 = rowField(), row2 = rowField();
        const uint16_t col1 = u16(), col2 = u16();
        place(t, row1, col1, offsets, false);
        place(t, row2, col2, offsets, true);
    }

    // Whole columns and rows as the binary forms write them (rows 0..65535 in .xls).
    void widenBiff8(Token& t)
    {
        if (!m_xlsb && !(t.flags & (RowFirstRel | RowLastRel)) && t.row1 == 0 && t.row2 == 0xFFFF)
            t.row2 = int32_t(kRows - 1);
        if (!m_xlsb && !(t.flags & (ColFirstRel | ColLastRel)) && t.col1 == 0 && t.col2 == 0xFF)
            t.col2 = 16383;
    }

    bool sheets3d(uint32_t xti, Token& t)
    {
        auto range = m_book.sheetsOfXti ? m_book.sheetsOfXti(xti) : std::nullopt;
        if (!range)
            return false;
        t.flags |= SheetGiven;
        t.sheet1 = range->first;
        t.sheet2 = range->second;
        return true;
    }

    void arrayConstant()
    {
        auto a = std::make_shared<Array>();
        if (m_xlsb) {
            a->rows = x32();
            a->cols = x32();
        } else {
            a->cols = uint32_t(x8()) + 1;
            a->rows = uint32_t(x16()) + 1;
        }
        if (uint64_t(a->rows) * a->cols > (m_extra.size() - m_e))
            fail("an array constant is larger than its data");
        for (uint64_t k = 0; k < uint64_t(a->rows) * a->cols; ++k) {
            const uint8_t type = x8();
            Value v;
            if (m_xlsb) {
                switch (type) {
                case 0x00: v = Value::number(xf64()); break;
                case 0x01: {
                    const uint16_t cch = x16();
                    needExtra(size_t(cch) * 2);
                    std::string s;
                    appendUtf16(m_extra.substr(m_e, size_t(cch) * 2), s);
                    m_e += size_t(cch) * 2;
                    v = Value::text(std::move(s));
                    break;
                }
                case 0x02: v = Value::boolean(x8() != 0); break;
                case 0x04: v = Value::error(ErrorCode(x8())); needExtra(3); m_e += 3; break;
                default: fail("an array constant holds an unknown value type");
                }
            } else {
                switch (type) {
                case 0x00: needExtra(8); m_e += 8; break;
                case 0x01: v = Value::number(xf64()); break;
                case 0x02: {
                    const uint16_t cch = x16();
                    const uint8_t flags = x8();
                    std::string s;
                    if (flags & 1) {
                        needExtra(size_t(cch) * 2);
                        appendUtf16(m_extra.substr(m_e, size_t(cch) * 2), s);
                        m_e += size_t(cch) * 2;
                    } else {
                        needExtra(cch);
                        for (size_t i = 0; i < cch; ++i)
                            appendLatin1(uint8_t(m_extra[m_e + i]), s);
                        m_e += cch;
                    }
                    v = Value::text(std::move(s));
                    break;
                }
                case 0x04: v = Value::boolean(x8() != 0); needExtra(7); m_e += 7; break;
                case 0x10: v = Value::error(ErrorCode(x8())); needExtra(7); m_e += 7; break;
                default: fail("an array constant holds an unknown value type");
                }
            }
            a->cells.push_back(std::move(v));
        }
        Token& t = emitOperand(Op::Array);
        t.index = uint32_t(m_f.arrays.size());
        m_f.arrays.push_back(std::move(a));
    }

    void call(uint16_t index, size_t argc)
    {
        if (index == 255) {
            // A function known by name (add-in or newer function): the name is the first
            // operand.
            if (argc == 0 || m_starts.size() < argc)
                fail("a function call lacks its name");
            const size_t nameStart = m_starts[m_starts.size() - argc];
            const Token nameToken = m_f.tokens[nameStart];
            std::string name;
            if (nameToken.op == Op::Name && nameStart + 1 == (argc > 1 ? m_starts[m_starts.size() - argc + 1] : m_f.tokens.size()))
                name = m_f.texts[nameToken.index];
            const FunctionInfo* fn = name.empty() ? nullptr : findFunction(name);
            if (!fn) {
                unsupported(argc, ErrorCode::Name);
                return;
            }
            m_f.tokens.erase(m_f.tokens.begin() + ptrdiff_t(nameStart));
            m_starts.erase(m_starts.end() - ptrdiff_t(argc));
            for (size_t k = m_starts.size() - (argc - 1); k < m_starts.size(); ++k)
                --m_starts[k];
            emitCall(fn, argc - 1);
            return;
        }
        std::string_view name;
        const FunctionInfo* fn = functionByIndex(index, &name);
        if (!fn) {
            unsupported(argc, ErrorCode::Name);
            return;
        }
        emitCall(fn, argc);
    }

    void emitCall(const FunctionInfo* fn, size_t argc)
    {
        if (fn->arrayArgs && argc <= m_starts.size())
            markArrayContext(m_f.tokens, argc ? m_starts[m_starts.size() - argc] : m_f.tokens.size());
        Token& t = emitOperator(Op::Call, argc);
        t.fn = fn;
        t.argc = uint16_t(argc);
        if (fn->isVolatile)
            m_f.isVolatile = true;
    }

    // Fixed argument counts of the functions tFunc calls (tFuncVar states its own).
    static int fixedArgc(uint16_t index)
    {
        static const std::unordered_map<uint16_t, int> counts = {
            {2, 1}, {3, 1}, {10, 0}, {15, 1}, {16, 1}, {17, 1}, {18, 1}, {19, 0}, {20, 1}, {21, 1}, {22, 1},
            {23, 1}, {24, 1}, {25, 1}, {26, 1}, {27, 2}, {30, 2}, {31, 3}, {32, 1}, {33, 1}, {34, 0}, {35, 0},
            {38, 1}, {39, 2}, {48, 2}, {63, 0}, {65, 3}, {66, 3}, {67, 1}, {68, 1}, {69, 1}, {71, 1}, {72, 1},
            {73, 1}, {74, 0}, {76, 1}, {77, 1}, {83, 1}, {86, 1}, {97, 2}, {98, 1}, {99, 1}, {105, 1}, {111, 1}, {112, 1},
            {113, 1}, {114, 1}, {117, 2}, {118, 1}, {119, 4}, {121, 1}, {126, 1}, {127, 1}, {128, 1}, {129, 1},
            {130, 1}, {131, 1}, {140, 1}, {141, 1}, {162, 1}, {184, 1}, {190, 1}, {198, 1}, {212, 2}, {213, 2},
            {221, 0}, {279, 1}, {285, 2}, {288, 2}, {298, 1}, {325, 2}, {326, 2}, {337, 2}, {342, 1}, {343, 1},
            {346, 2}, {347, 1}, {351, 3}, {480, 2}, {483, 2},
        };
        auto it = counts.find(index);
        return it == counts.end() ? -1 : it->second;
    }

    void step()
    {
        const uint8_t ptg = u8();
        // Operand tokens come in reference, value and array classes (0x20, 0x40, 0x60).
        const uint8_t base = ptg >= 0x20 ? uint8_t((ptg & 0x1F) | 0x20) : ptg;
        switch (base) {
        case 0x01:  // tExp: the cell belongs to a shared or array formula
        case 0x02:  // tTbl: a data table
            fail("the formula refers to a shared formula or a data table");
        case 0x03: emitOperator(Op::Plus, 2); return;
        case 0x04: emitOperator(Op::Minus, 2); return;
        case 0x05: emitOperator(Op::Times, 2); return;
        case 0x06: emitOperator(Op::Divide, 2); return;
        case 0x07: emitOperator(Op::Power, 2); return;
        case 0x08: emitOperator(Op::Concat, 2); return;
        case 0x09: emitOperator(Op::Lt, 2); return;
        case 0x0A: emitOperator(Op::Le, 2); return;
        case 0x0B: emitOperator(Op::Eq, 2); return;
        case 0x0C: emitOperator(Op::Ge, 2); return;
        case 0x0D: emitOperator(Op::Gt, 2); return;
        case 0x0E: emitOperator(Op::Ne, 2); return;
        case 0x0F: emitOperator(Op::Intersect, 2); return;
        case 0x10: emitOperator(Op::Union, 2); return;
        case 0x11: emitOperator(Op::Range, 2); return;
        case 0x12: emitOperator(Op::UnaryPlus, 1); return;
        case 0x13: emitOperator(Op::Negate, 1); return;
        case 0x14: emitOperator(Op::Percent, 1); return;
        case 0x15: return;  // parentheses: display only
        case 0x16: emitOperand(Op::Missing); return;
        case 0x17: {
            std::string s = readString();
            Token& t = emitOperand(Op::Text);
            t.index = uint32_t(m_f.texts.size());
            m_f.texts.push_back(std::move(s));
            return;
        }
        case 0x18:  // extended tokens (structured references in .xlsb, ...)
            fail("the formula uses an extended token");
        case 0x19: {  // tAttr
            const uint8_t kind = u8();
            const uint16_t data = u16();
            if (kind & 0x04) {  // tAttrChoose: jump table, evaluation here is not lazy
                skip((size_t(data) + 1) * 2);
            } else if (kind & 0x10) {  // tAttrSum: SUM of one argument
                if (const FunctionInfo* sum = findFunction("SUM"))
                    emitCall(sum, 1);
            } else if (kind & 0x01) {
                m_f.isVolatile = true;
            }
            return;
        }
        case 0x1C: emitOperand(Op::Error).number = double(u8()); return;
        case 0x1D: emitOperand(Op::Bool).number = u8() ? 1 : 0; return;
        case 0x1E: emitOperand(Op::Number).number = u16(); return;
        case 0x1F: {
            const double v = f64();
            if (!std::isfinite(v))
                fail("a number is not finite");
            emitOperand(Op::Number).number = v;
            return;
        }
        case 0x20:  // tArray: the values follow the tokens
            skip(m_xlsb ? 14 : 7);
            arrayConstant();
            return;
        case 0x21: {  // tFunc
            const uint16_t index = u16();
            const int argc = fixedArgc(index);
            if (argc < 0)
                fail("a function of fixed arguments is unknown");
            call(index, size_t(argc));
            return;
        }
        case 0x22: {  // tFuncVar
            const uint8_t argc = u8() & 0x7F;
            const uint16_t index = u16() & 0x7FFF;
            call(index, argc);
            return;
        }
        case 0x23: {  // tName
            const uint32_t index = m_xlsb ? u32() : u16();
            if (!m_xlsb)
                skip(2);
            const std::string name = m_book.nameText ? m_book.nameText(index) : std::string();
            if (name.empty()) {
                unsupported(0, ErrorCode::Name);
                return;
            }
            Token& t = emitOperand(Op::Name);
            t.index = uint32_t(m_f.texts.size());
            m_f.texts.push_back(foldCase(name));
            return;
        }
        case 0x24: cellRef(emitOperand(Op::Ref), false); return;
        case 0x25: {
            Token& t = emitOperand(Op::Ref);
            areaRef(t, false);
            widenBiff8(t);
            return;
        }
        case 0x26:  // tMemArea: a precomputed area list in the trailing data, then the
        case 0x27:  // tMemErr   subexpression itself; only the subexpression counts
        case 0x28:  // tMemNoMem
            skip(4);
            u16();
            if (base == 0x26)
                skipMemArea();
            return;
        case 0x29: u16(); return;  // tMemFunc
        case 0x2A: skip(m_xlsb ? 6 : 4); emitOperand(Op::RefError); return;
        case 0x2B: skip(m_xlsb ? 12 : 8); emitOperand(Op::RefError); return;
        case 0x2C: cellRef(emitOperand(Op::Ref), true); return;
        case 0x2D: {
            Token& t = emitOperand(Op::Ref);
            areaRef(t, true);
            widenBiff8(t);
            return;
        }
        case 0x39: {  // tNameX: a name in another workbook or an add-in function name
            const uint16_t xti = u16();
            const uint32_t index = m_xlsb ? u32() : u16();
            if (!m_xlsb)
                skip(2);
            const std::string name = m_book.externalName ? m_book.externalName(xti, index) : std::string();
            if (name.empty()) {
                unsupported(0);
                return;
            }
            Token& t = emitOperand(Op::Name);
            t.index = uint32_t(m_f.texts.size());
            m_f.texts.push_back(name);
            return;
        }
        case 0x3A:
        case 0x3B: {  // tRef3d, tArea3d
            const uint16_t xti = u16();
            Token& t = emitOperand(Op::Ref);
            if (base == 0x3A) {
                cellRef(t, false);
            } else {
                areaRef(t, false);
                widenBiff8(t);
            }
            if (!sheets3d(xti, t)) {
                m_f.tokens.back().op = Op::Unsupported;
                m_f.tokens.back().number = double(uint8_t(ErrorCode::Ref));
                m_f.unsupported = true;
            }
            return;
        }
        case 0x3C: skip(2 + (m_xlsb ? 6 : 4)); emitOperand(Op::RefError); return;
        case 0x3D: skip(2 + (m_xlsb ? 12 : 8)); emitOperand(Op::RefError); return;
        default: fail("unknown token " + std::to_string(ptg));
        }
    }

    void skipMemArea()
    {
        const uint32_t count = m_xlsb ? x32() : x16();
        const size_t each = m_xlsb ? 16 : 8;
        needExtra(size_t(count) * each);
        m_e += size_t(count) * each;
    }

    bool m_xlsb;
    std::string_view m_p, m_extra;
    size_t m_i = 0, m_e = 0;
    uint32_t m_sheet, m_row, m_col;
    const TokenBook& m_book;
    Formula m_f;
    std::vector<size_t> m_starts;  // where each operand on the (virtual) stack begins
};

}  // namespace

const FunctionInfo* functionByIndex(uint32_t index, std::string_view* name)
{
    for (const auto& [i, n] : kFunctionNumbers)
        if (i == index) {
            if (name)
                *name = n;
            return findFunction(n);
        }
    return nullptr;
}

ParseResult decodeTokens(TokenForm form, std::string_view rgce, std::string_view rgcb, uint32_t sheet, uint32_t row,
                         uint32_t col, const TokenBook& book)
{
    return Decoder(form, rgce, rgcb, sheet, row, col, book).run();
}

}  // namespace tabulon::formula
