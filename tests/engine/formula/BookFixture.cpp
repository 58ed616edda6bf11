#include "BookFixture.h"

namespace tabulon::formula::test {

std::pair<uint32_t, uint32_t> address(std::string_view a1)
{
    uint32_t col = 0, row = 0;
    size_t i = 0;
    while (i < a1.size() && std::isalpha(static_cast<unsigned char>(a1[i])))
        col = col * 26 + uint32_t(std::toupper(static_cast<unsigned char>(a1[i++])) - 'A' + 1);
    while (i < a1.size())
        row = row * 10 + uint32_t(a1[i++] - '0');
    return {row - 1, col - 1};
}

BookFixture::BookFixture()
{
    book.addSheet("Sheet1");
    book.addSheet("Data");
    book.addSheet("My Sheet");
    book.setClock(45306.5);
}

void BookFixture::number(std::string_view a1, double v, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    book.addCell(sheet, r, c, CellType::Number, v, {}, 0);
}

void BookFixture::text(std::string_view a1, std::string_view v, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    book.addCell(sheet, r, c, CellType::Text, 0, v, 0);
}

void BookFixture::boolean(std::string_view a1, bool v, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    book.addCell(sheet, r, c, CellType::Bool, v ? 1 : 0, {}, 0);
}

void BookFixture::error(std::string_view a1, ErrorCode e, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    book.addCell(sheet, r, c, CellType::Error, double(uint8_t(e)), {}, 0);
}

void BookFixture::formula(std::string_view a1, std::string_view text, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    book.addCell(sheet, r, c, CellType::Blank, 0, {}, 0);
    const uint32_t source = book.addSource(SourceForm::A1, std::string(text), {}, sheet, r, c);
    book.setFormula(source, false, true);
}

void BookFixture::name(std::string_view name, std::string_view text, int64_t scope)
{
    book.addName(name, scope, book.addSource(SourceForm::A1, std::string(text), {}, 0, 0, 0));
}

Value BookFixture::eval(std::string_view text, std::string_view at, bool arrayMode)
{
    const auto [r, c] = address(at);
    const auto parsed = parseA1(text, 0, r, c, [this](std::string_view n) { return book.sheetByName(n); });
    EXPECT_TRUE(parsed.formula) << text << ": " << parsed.error;
    if (!parsed.formula)
        return Value();
    return book.evaluate(*parsed.formula, 0, r, c, arrayMode);
}

Value BookFixture::shown(std::string_view a1, uint32_t sheet)
{
    const auto [r, c] = address(a1);
    Value out;
    book.forEachCell(sheet, [&](const Book::CellOut& cell) {
        if (cell.row != r || cell.col != c)
            return;
        switch (cell.type) {
        case CellType::Number: out = Value::number(cell.number); break;
        case CellType::Text: out = Value::text(std::string(cell.text)); break;
        case CellType::Bool: out = Value::boolean(cell.number != 0); break;
        case CellType::Error: out = Value::error(ErrorCode(uint8_t(cell.number))); break;
        case CellType::Blank: out = Value(); break;
        }
    });
    return out;
}

}  // namespace tabulon::formula::test
