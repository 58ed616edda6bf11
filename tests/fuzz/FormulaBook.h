#pragma once
// Shared by the formula fuzz targets: a small workbook to evaluate fuzzed formulas in, with
// the formula placed in a cell so that it can refer to itself and to its neighbours.
#include <string>

#include "engine/formula/Book.h"

inline void evaluateInBook(tabulon::formula::SourceForm form, std::string body, std::string extra)
{
    using namespace tabulon::formula;
    Book book(false);
    book.addSheet("Sheet1");
    book.addSheet("Data");
    book.setClock(45306.5);
    book.setRandom([] { return 0.5; });
    TokenBook tokens;
    tokens.sheetsOfXti = [](uint32_t xti) -> std::optional<std::pair<uint32_t, uint32_t>> {
        if (xti < 2)
            return std::pair{xti, 1u};
        return std::nullopt;
    };
    tokens.nameText = [](uint32_t index) { return index == 1 ? std::string("Total") : std::string(); };
    tokens.externalName = [](uint32_t, uint32_t index) { return index == 1 ? std::string("SUM") : std::string(); };
    book.setTokenBook(tokens);
    book.addName("Total", -1, book.addSource(SourceForm::A1, "SUM(Sheet1!$A$1:$B$2)", {}, 0, 0, 0));
    book.addCell(0, 0, 0, CellType::Number, 1, {}, 0);
    book.addCell(0, 0, 1, CellType::Text, 0, "text", 0);
    book.addCell(0, 1, 0, CellType::Bool, 1, {}, 0);
    // The fuzzed formula at B2 and a shared copy of it at C3, a plain formula reading both.
    const uint32_t source = book.addSource(form, std::move(body), std::move(extra), 0, 1, 1);
    book.addCell(0, 1, 1, CellType::Blank, 0, {}, 0);
    book.setFormula(source, false, true);
    book.addCell(0, 2, 2, CellType::Blank, 0, {}, 0);
    book.setFormula(source, false, true);
    book.addCell(0, 3, 0, CellType::Blank, 0, {}, 0);
    book.setFormula(book.addSource(SourceForm::A1, "B2&C3", {}, 0, 3, 0), false, true);
    book.calculate();
    book.forEachCell(0, [](const Book::CellOut&) {});
}
