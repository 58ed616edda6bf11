// The A1 text grammar of formulas as OOXML stores them (no leading '=', en-US separators).
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "Formula.h"

namespace tabulon::formula {

namespace {

constexpr uint32_t kRows = 1048576, kCols = 16384;
constexpr int kMaxDepth = 128;      // nesting of parentheses and calls
constexpr size_t kMaxTokens = 65536;

bool isIdentStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c == '\\' || c >= 0x80;
}

bool isIdentChar(unsigned char c)
{
    return std::isalnum(c) || c == '_' || c == '\\' || c == '.' || c == '?' || c >= 0x80;
}

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct CellAddress {
    uint32_t row = 0, col = 0;
    bool rowAbs = false, colAbs = false;
    size_t length = 0;
};

class Parser {
public:
    Parser(std::string_view text, uint32_t sheet, uint32_t row, uint32_t col, const SheetLookup& sheets)
        : m_s(text), m_sheet(sheet), m_row(row), m_col(col), m_sheets(sheets)
    {
    }

    ParseResult run()
    {
        ParseResult result;
        try {
            skipSpaces();
            parseExpression(false);
            skipSpaces();
            if (m_i != m_s.size())
                fail("unexpected text after the end");
            result.formula = std::move(m_f);
        } catch (const std::string& reason) {
            result.error = reason;
        }
        return result;
    }

private:
    [[noreturn]] void fail(const std::string& why)
    {
        throw "formula \"" + std::string(m_s.substr(0, 200)) + "\": " + why + " at character " + std::to_string(m_i + 1);
    }

    Token& emit(Op op)
    {
        if (m_f.tokens.size() >= kMaxTokens)
            fail("the formula is too long");
        m_f.tokens.push_back(Token{});
        m_f.tokens.back().op = op;
        return m_f.tokens.back();
    }

    // `shown` is what the application shows when there is no stored result: #NAME? for an
    // unknown function, #REF! for what points outside the workbook.
    void emitUnsupported(ErrorCode shown = ErrorCode::Ref)
    {
        emit(Op::Unsupported).number = double(uint8_t(shown));
        m_f.unsupported = true;
    }

    char peek(size_t ahead = 0) const { return m_i + ahead < m_s.size() ? m_s[m_i + ahead] : '\0'; }

    bool skipSpaces()
    {
        const size_t start = m_i;
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\n' || m_s[m_i] == '\r' || m_s[m_i] == '\t'))
            ++m_i;
        return m_i != start;
    }

    bool accept(char c)
    {
        skipSpaces();
        if (peek() == c) {
            ++m_i;
            return true;
        }
        return false;
    }

    void expect(char c)
    {
        if (!accept(c))
            fail(std::string("expected '") + c + "'");
    }

    // ---- precedence levels, lowest first ----

    void parseExpression(bool unionAllowed)
    {
        if (++m_depth > kMaxDepth)
            fail("the formula is nested too deeply");
        parseComparison();
        while (unionAllowed && accept(',')) {
            parseComparison();
            emit(Op::Union);
        }
        --m_depth;
    }

    void parseComparison()
    {
        parseConcat();
        for (;;) {
            skipSpaces();
            Op op;
            if (peek() == '=') {
                op = Op::Eq, m_i += 1;
            } else if (peek() == '<' && peek(1) == '>') {
                op = Op::Ne, m_i += 2;
            } else if (peek() == '<' && peek(1) == '=') {
                op = Op::Le, m_i += 2;
            } else if (peek() == '>' && peek(1) == '=') {
                op = Op::Ge, m_i += 2;
            } else if (peek() == '<') {
                op = Op::Lt, m_i += 1;
            } else if (peek() == '>') {
                op = Op::Gt, m_i += 1;
            } else {
                return;
            }
            parseConcat();
            emit(op);
        }
    }

    void parseConcat()
    {
        parseAdditive();
        while (accept('&')) {
            parseAdditive();
            emit(Op::Concat);
        }
    }

    void parseAdditive()
    {
        parseMultiplicative();
        for (;;) {
            skipSpaces();
            if (peek() != '+' && peek() != '-')
                return;
            const Op op = peek() == '+' ? Op::Plus : Op::Minus;
            ++m_i;
            parseMultiplicative();
            emit(op);
        }
    }

    void parseMultiplicative()
    {
        parsePower();
        for (;;) {
            skipSpaces();
            if (peek() != '*' && peek() != '/')
                return;
            const Op op = peek() == '*' ? Op::Times : Op::Divide;
            ++m_i;
            parsePower();
            emit(op);
        }
    }

    void parsePower()
    {
        parsePercent();
        while (accept('^')) {
            parsePercent();
            emit(Op::Power);
        }
    }

    void parsePercent()
    {
        parseUnary();
        while (accept('%'))
            emit(Op::Percent);
    }

    void parseUnary()
    {
        skipSpaces();
        if (peek() == '-' || peek() == '+') {
            const bool negate = peek() == '-';
            ++m_i;
            if (++m_depth > kMaxDepth)
                fail("the formula is nested too deeply");
            parseUnary();
            --m_depth;
            if (negate)
                emit(Op::Negate);
            return;
        }
        parseIntersection();
    }

    // Reference operators: ':' binds tighter than the intersection (a space).
    void parseIntersection()
    {
        parseRange();
        for (;;) {
            const size_t save = m_i;
            if (!skipSpaces())
                return;
            const unsigned char c = static_cast<unsigned char>(peek());
            if (!(isIdentStart(c) || c == '$' || c == '\'' || c == '(')) {
                m_i = save;
                return;
            }
            parseRange();
            emit(Op::Intersect);
        }
    }

    void parseRange()
    {
        parsePrimary();
        while (peek() == ':') {
            ++m_i;
            parsePrimary();
            emit(Op::Range);
        }
    }

    // ---- operands ----

    void parsePrimary()
    {
        skipSpaces();
        const unsigned char c = static_cast<unsigned char>(peek());
        if (c == '\0')
            fail("an operand is missing");
        if (c == '(') {
            ++m_i;
            parseExpression(true);
            expect(')');
            return;
        }
        if (c == '"') {
            parseString();
            return;
        }
        if (c == '{') {
            parseArray();
            return;
        }
        if (c == '#') {
            parseErrorLiteral();
            return;
        }
        if (c == '[') {
            // A reference into another workbook ([1]Sheet!A1) or a structured reference
            // without a table name: not evaluated here.
            skipBracketed();
            emitUnsupported();
            if (peek() == '!' || isIdentStart(static_cast<unsigned char>(peek())) || peek() == '\'') {
                // [1]Sheet1!A1: skip the rest of the reference.
                while (m_i < m_s.size() && (isIdentChar(static_cast<unsigned char>(peek())) || peek() == '!' || peek() == '$' || peek() == ':' || peek() == '\''))
                    ++m_i;
            }
            return;
        }
        if (c == '\'') {
            const std::string name = parseQuotedName();
            expect('!');
            parseAfterSheet(name);
            return;
        }
        if (std::isdigit(c) || c == '.') {
            if (tryRowRange(m_sheet, m_sheet, 0))
                return;
            parseNumber();
            return;
        }
        if (c == '$' || isIdentStart(c)) {
            parseWord();
            return;
        }
        fail("unexpected character");
    }

    void parseString()
    {
        ++m_i;
        std::string text;
        for (;;) {
            if (m_i >= m_s.size())
                fail("a text is not closed");
            if (m_s[m_i] == '"') {
                if (peek(1) == '"') {
                    text += '"';
                    m_i += 2;
                    continue;
                }
                ++m_i;
                break;
            }
            text += m_s[m_i++];
        }
        Token& t = emit(Op::Text);
        t.index = uint32_t(m_f.texts.size());
        m_f.texts.push_back(std::move(text));
    }

    double scanNumber()
    {
        const size_t start = m_i;
        while (std::isdigit(static_cast<unsigned char>(peek())))
            ++m_i;
        if (peek() == '.') {
            ++m_i;
            while (std::isdigit(static_cast<unsigned char>(peek())))
                ++m_i;
        }
        if ((peek() == 'e' || peek() == 'E') &&
            (std::isdigit(static_cast<unsigned char>(peek(1))) ||
             ((peek(1) == '+' || peek(1) == '-') && std::isdigit(static_cast<unsigned char>(peek(2)))))) {
            m_i += 2;
            while (std::isdigit(static_cast<unsigned char>(peek())))
                ++m_i;
        }
        double v = 0;
        const auto res = std::from_chars(m_s.data() + start, m_s.data() + m_i, v);
        if (res.ec != std::errc() || res.ptr != m_s.data() + m_i)
            fail("a number cannot be read");
        if (!std::isfinite(v))
            fail("a number is too large");
        return v;
    }

    void parseNumber()
    {
        const double v = scanNumber();
        emit(Op::Number).number = v;
    }

    void parseErrorLiteral()
    {
        static constexpr std::string_view kLiterals[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?",
                                                         "#NUM!", "#N/A", "#GETTING_DATA"};
        for (std::string_view lit : kLiterals) {
            if (m_s.size() - m_i >= lit.size() && upperAscii(m_s.substr(m_i, lit.size())) == lit) {
                m_i += lit.size();
                emit(Op::Error).number = double(uint8_t(*errorFromLiteral(lit)));
                return;
            }
        }
        fail("unknown error literal");
    }

    void parseArray()
    {
        ++m_i;
        auto array = std::make_shared<Array>();
        uint32_t cols = 0, colInRow = 0;
        for (;;) {
            skipSpaces();
            Value v;
            bool negative = false;
            if (peek() == '-' || peek() == '+') {
                negative = peek() == '-';
                ++m_i;
            }
            const unsigned char c = static_cast<unsigned char>(peek());
            if (std::isdigit(c) || c == '.') {
                const double n = scanNumber();
                v = Value::number(negative ? -n : n);
            } else if (c == '"') {
                parseString();
                v = Value::text(m_f.texts.back());
                m_f.texts.pop_back();
                m_f.tokens.pop_back();
            } else if (c == '#') {
                parseErrorLiteral();
                v = Value::error(ErrorCode(uint8_t(m_f.tokens.back().number)));
                m_f.tokens.pop_back();
            } else if (isIdentStart(c)) {
                const size_t start = m_i;
                while (isIdentChar(static_cast<unsigned char>(peek())))
                    ++m_i;
                const std::string word = upperAscii(m_s.substr(start, m_i - start));
                if (word != "TRUE" && word != "FALSE")
                    fail("an array constant holds something other than a value");
                v = Value::boolean(word == "TRUE");
            } else {
                fail("an array constant holds something other than a value");
            }
            if (array->cells.size() >= (size_t(1) << 20))
                fail("an array constant is too large");
            array->cells.push_back(std::move(v));
            ++colInRow;
            skipSpaces();
            if (peek() == ',') {
                ++m_i;
                continue;
            }
            if (peek() == ';' || peek() == '}') {
                if (cols == 0)
                    cols = colInRow;
                else if (colInRow != cols)
                    fail("the rows of an array constant differ in length");
                colInRow = 0;
                if (m_s[m_i++] == '}')
                    break;
                continue;
            }
            fail("an array constant is not closed");
        }
        array->cols = cols;
        array->rows = uint32_t(array->cells.size() / cols);
        Token& t = emit(Op::Array);
        t.index = uint32_t(m_f.arrays.size());
        m_f.arrays.push_back(std::move(array));
    }

    void skipBracketed()
    {
        int depth = 0;
        do {
            if (m_i >= m_s.size())
                fail("a '[' is not closed");
            if (m_s[m_i] == '[')
                ++depth;
            else if (m_s[m_i] == ']')
                --depth;
            ++m_i;
        } while (depth > 0);
    }

    std::string parseQuotedName()
    {
        ++m_i;
        std::string name;
        for (;;) {
            if (m_i >= m_s.size())
                fail("a quoted sheet name is not closed");
            if (m_s[m_i] == '\'') {
                if (peek(1) == '\'') {
                    name += '\'';
                    m_i += 2;
                    continue;
                }
                ++m_i;
                return name;
            }
            name += m_s[m_i++];
        }
    }

    // A cell address at the current position ($A$1, B2, XFD1048576), not followed by
    // characters that would make it a name or a function.
    std::optional<CellAddress> scanCell(size_t at) const
    {
        CellAddress a;
        size_t i = at;
        if (i < m_s.size() && m_s[i] == '$')
            a.colAbs = true, ++i;
        size_t letters = 0;
        uint32_t col = 0;
        while (i < m_s.size() && std::isalpha(static_cast<unsigned char>(m_s[i])) && letters < 4) {
            col = col * 26 + uint32_t(std::toupper(static_cast<unsigned char>(m_s[i])) - 'A' + 1);
            ++i, ++letters;
        }
        if (letters == 0 || letters > 3 || col > kCols)
            return std::nullopt;
        if (i < m_s.size() && m_s[i] == '$')
            a.rowAbs = true, ++i;
        size_t digits = 0;
        uint64_t row = 0;
        while (i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[i])) && digits < 8) {
            row = row * 10 + uint64_t(m_s[i] - '0');
            ++i, ++digits;
        }
        if (digits == 0 || row == 0 || row > kRows)
            return std::nullopt;
        if (i < m_s.size() && (isIdentChar(static_cast<unsigned char>(m_s[i])) || m_s[i] == '(' || m_s[i] == '['))
            return std::nullopt;
        a.row = uint32_t(row - 1);
        a.col = col - 1;
        a.length = i - at;
        return a;
    }

    // A column ($A, XFD) for whole-column ranges; `length` set, row unused.
    std::optional<CellAddress> scanColumn(size_t at) const
    {
        CellAddress a;
        size_t i = at;
        if (i < m_s.size() && m_s[i] == '$')
            a.colAbs = true, ++i;
        size_t letters = 0;
        uint32_t col = 0;
        while (i < m_s.size() && std::isalpha(static_cast<unsigned char>(m_s[i])) && letters < 4) {
            col = col * 26 + uint32_t(std::toupper(static_cast<unsigned char>(m_s[i])) - 'A' + 1);
            ++i, ++letters;
        }
        if (letters == 0 || letters > 3 || col > kCols)
            return std::nullopt;
        if (i < m_s.size() && (isIdentChar(static_cast<unsigned char>(m_s[i])) || m_s[i] == '(' || m_s[i] == '$'))
            return std::nullopt;
        a.col = col - 1;
        a.length = i - at;
        return a;
    }

    std::optional<CellAddress> scanRow(size_t at) const
    {
        CellAddress a;
        size_t i = at;
        if (i < m_s.size() && m_s[i] == '$')
            a.rowAbs = true, ++i;
        size_t digits = 0;
        uint64_t row = 0;
        while (i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[i])) && digits < 8) {
            row = row * 10 + uint64_t(m_s[i] - '0');
            ++i, ++digits;
        }
        if (digits == 0 || row == 0 || row > kRows)
            return std::nullopt;
        if (i < m_s.size() && (isIdentChar(static_cast<unsigned char>(m_s[i])) || m_s[i] == '('))
            return std::nullopt;
        a.row = uint32_t(row - 1);
        a.length = i - at;
        return a;
    }

    void emitArea(uint32_t sheet1, uint32_t sheet2, bool sheetGiven, const CellAddress& a, const CellAddress& b, bool wholeCols, bool wholeRows)
    {
        Token& t = emit(Op::Ref);
        t.sheet1 = sheet1;
        t.sheet2 = sheet2;
        if (sheetGiven)
            t.flags |= SheetGiven;
        auto place = [&](const CellAddress& x, int32_t& row, int32_t& col, uint8_t rowFlag, uint8_t colFlag, bool last) {
            if (wholeCols) {
                row = last ? int32_t(kRows - 1) : 0;
            } else if (x.rowAbs) {
                row = int32_t(x.row);
            } else {
                row = int32_t(x.row) - int32_t(m_row);
                t.flags |= rowFlag;
            }
            if (wholeRows) {
                col = last ? int32_t(kCols - 1) : 0;
            } else if (x.colAbs) {
                col = int32_t(x.col);
            } else {
                col = int32_t(x.col) - int32_t(m_col);
                t.flags |= colFlag;
            }
        };
        place(a, t.row1, t.col1, RowFirstRel, ColFirstRel, false);
        place(b, t.row2, t.col2, RowLastRel, ColLastRel, true);
    }

    bool tryRowRange(uint32_t sheet1, uint32_t sheet2, bool sheetGiven)
    {
        auto first = scanRow(m_i);
        if (!first || m_i + first->length >= m_s.size() || m_s[m_i + first->length] != ':')
            return false;
        auto second = scanRow(m_i + first->length + 1);
        if (!second)
            return false;
        m_i += first->length + 1 + second->length;
        emitArea(sheet1, sheet2, sheetGiven, *first, *second, false, true);
        return true;
    }

    bool tryColumnRange(uint32_t sheet1, uint32_t sheet2, bool sheetGiven)
    {
        auto first = scanColumn(m_i);
        if (!first || m_i + first->length >= m_s.size() || m_s[m_i + first->length] != ':')
            return false;
        auto second = scanColumn(m_i + first->length + 1);
        if (!second)
            return false;
        m_i += first->length + 1 + second->length;
        emitArea(sheet1, sheet2, sheetGiven, *first, *second, true, false);
        return true;
    }

    // A cell, or cell:cell taken as one area.
    bool tryCellOrArea(uint32_t sheet1, uint32_t sheet2, bool sheetGiven)
    {
        auto first = scanCell(m_i);
        if (!first)
            return false;
        m_i += first->length;
        if (peek() == ':') {
            if (auto second = scanCell(m_i + 1)) {
                m_i += 1 + second->length;
                emitArea(sheet1, sheet2, sheetGiven, *first, *second, false, false);
                return true;
            }
        }
        emitArea(sheet1, sheet2, sheetGiven, *first, *first, false, false);
        return true;
    }

    // What follows "Sheet!" or "'Sheet 1:Sheet 3'!".
    void parseAfterSheet(const std::string& sheetText)
    {
        int64_t first, last;
        const size_t colon = sheetText.find(':');
        if (colon == std::string::npos) {
            first = last = m_sheets ? m_sheets(sheetText) : -1;
        } else {
            first = m_sheets ? m_sheets(sheetText.substr(0, colon)) : -1;
            last = m_sheets ? m_sheets(sheetText.substr(colon + 1)) : -1;
            if (first > last)
                std::swap(first, last);
        }
        const size_t start = m_i;
        bool ok = tryCellOrArea(0, 0, true) || tryColumnRange(0, 0, true) || tryRowRange(0, 0, true);
        if (ok) {
            Token& t = m_f.tokens.back();
            if (first < 0 || last < 0) {
                t = Token{};
                t.op = Op::RefError;
            } else {
                t.sheet1 = uint32_t(first);
                t.sheet2 = uint32_t(last);
            }
            return;
        }
        m_i = start;
        if (peek() == '#') {
            parseErrorLiteral();  // Sheet1!#REF!
            m_f.tokens.back() = Token{};
            m_f.tokens.back().op = Op::RefError;
            return;
        }
        // A name scoped to that sheet: not looked up by sheet here.
        while (isIdentChar(static_cast<unsigned char>(peek())))
            ++m_i;
        if (m_i == start)
            fail("a reference is missing after the sheet name");
        emitUnsupported();
    }

    void parseWord()
    {
        const size_t start = m_i;
        // A sheet name that looks like a cell (S3!A1).
        size_t end = m_i;
        while (end < m_s.size() && isIdentChar(static_cast<unsigned char>(m_s[end])))
            ++end;
        if (end > m_i && end < m_s.size() && m_s[end] == '!') {
            const std::string sheet(m_s.substr(m_i, end - m_i));
            m_i = end + 1;
            parseAfterSheet(sheet);
            return;
        }
        // Whole columns, cells and areas first ($A:$C, A1, $B$2:C3).
        if (tryColumnRange(m_sheet, m_sheet, false) || tryCellOrArea(m_sheet, m_sheet, false) ||
            tryRowRange(m_sheet, m_sheet, false))
            return;
        if (peek() == '$')
            fail("a reference cannot be read");
        while (isIdentChar(static_cast<unsigned char>(peek())))
            ++m_i;
        const std::string_view word = m_s.substr(start, m_i - start);
        if (peek() == '(') {
            ++m_i;
            parseCall(word);
            return;
        }
        if (peek() == '!') {
            ++m_i;
            parseAfterSheet(std::string(word));
            return;
        }
        if (peek() == ':') {
            // Sheet1:Sheet3!A1
            const size_t save = m_i;
            ++m_i;
            const size_t secondStart = m_i;
            while (isIdentChar(static_cast<unsigned char>(peek())))
                ++m_i;
            if (m_i > secondStart && peek() == '!') {
                const std::string range = std::string(word) + ":" + std::string(m_s.substr(secondStart, m_i - secondStart));
                ++m_i;
                parseAfterSheet(range);
                return;
            }
            m_i = save;
        }
        if (peek() == '[') {
            // Table1[Column]: structured references are not evaluated here.
            skipBracketed();
            emitUnsupported();
            return;
        }
        const std::string upper = upperAscii(word);
        if (upper == "TRUE" || upper == "FALSE") {
            emit(Op::Bool).number = upper == "TRUE" ? 1 : 0;
            return;
        }
        Token& t = emit(Op::Name);
        t.index = uint32_t(m_f.texts.size());
        m_f.texts.push_back(upper);
    }

    void parseCall(std::string_view name)
    {
        if (++m_depth > kMaxDepth)
            fail("the formula is nested too deeply");
        uint16_t argc = 0;
        const size_t argsStart = m_f.tokens.size();
        skipSpaces();
        if (peek() == ')') {
            ++m_i;
        } else {
            for (;;) {
                skipSpaces();
                if (peek() == ',' || peek() == ')')
                    emit(Op::Missing);
                else
                    parseExpression(false);
                if (argc == 255)
                    fail("a function has too many arguments");
                ++argc;
                skipSpaces();
                if (peek() == ',') {
                    ++m_i;
                    continue;
                }
                expect(')');
                break;
            }
        }
        --m_depth;
        const FunctionInfo* fn = findFunction(name);
        if (!fn) {
            emitUnsupported(ErrorCode::Name);
            m_f.tokens.back().argc = argc;
            return;
        }
        if (fn->arrayArgs)
            markArrayContext(m_f.tokens, argsStart);
        Token& t = emit(Op::Call);
        t.fn = fn;
        t.argc = argc;
        if (fn->isVolatile)
            m_f.isVolatile = true;
    }

    std::string_view m_s;
    size_t m_i = 0;
    uint32_t m_sheet, m_row, m_col;
    const SheetLookup& m_sheets;
    Formula m_f;
    int m_depth = 0;
};

}  // namespace

void markArrayContext(std::vector<Token>& tokens, size_t first)
{
    for (size_t i = first; i < tokens.size(); ++i)
        if (tokens[i].op >= Op::Plus && tokens[i].op <= Op::Call)
            tokens[i].flags |= kArrayContext;
}

ParseResult parseA1(std::string_view text, uint32_t sheet, uint32_t row, uint32_t col, const SheetLookup& sheets)
{
    if (!text.empty() && text.front() == '=')
        text.remove_prefix(1);
    return Parser(text, sheet, row, col, sheets).run();
}

}  // namespace tabulon::formula
