#pragma once
// A workbook model for formula tests: cells typed in by address, formulas evaluated as a
// cell at a given address would show them.
#include <gtest/gtest.h>

#include <string>

#include "GridContext.h"
#include "formula/Book.h"

namespace tabulon::formula::test {

// Row and column of an A1 address ("C7" -> 6, 2).
std::pair<uint32_t, uint32_t> address(std::string_view a1);

class BookFixture {
public:
    BookFixture();
    // Sheets: 0 "Sheet1", 1 "Data", 2 "My Sheet". Cells must be added row by row per sheet.
    void number(std::string_view a1, double v, uint32_t sheet = 0);
    void text(std::string_view a1, std::string_view v, uint32_t sheet = 0);
    void boolean(std::string_view a1, bool v, uint32_t sheet = 0);
    void error(std::string_view a1, ErrorCode e, uint32_t sheet = 0);
    // A formula cell without a stored result (to be calculated).
    void formula(std::string_view a1, std::string_view text, uint32_t sheet = 0);
    void name(std::string_view name, std::string_view text, int64_t scope = -1);

    // Evaluates formula text as the cell `at` (on sheet 0) would show it; parse failures
    // fail the test.
    Value eval(std::string_view text, std::string_view at = "Z1000", bool arrayMode = false);
    // The value a formula cell shows after calculate().
    Value shown(std::string_view a1, uint32_t sheet = 0);

    Book book{false};
};

}  // namespace tabulon::formula::test
