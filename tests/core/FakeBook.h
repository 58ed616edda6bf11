#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/Spreadsheet.h"
#include "engine/Workbook.h"

namespace tabulon::test {

// A workbook described by a small text file, so that core and tabrun tests do not depend
// on the format readers:
//   sheets=Sales,Q1,Chart!     (a trailing "!" makes a chart sheet)
//   fail=3                     (saving worksheet 3 throws engine::Error)
//   pause=500                  (opening takes half a second)
// Each worksheet holds one cell, A1, whose text is the sheet's name.
std::unique_ptr<engine::Workbook> openFakeBook(const std::filesystem::path& file);
void writeFakeBook(const std::filesystem::path& file, const std::string& sheets, int failAt = 0);

// Installs openFakeBook for files that start with "sheets=" (others go to the engine) while
// in scope.
class FakeBooks {
public:
    FakeBooks();
    ~FakeBooks();

private:
    core::Spreadsheet::Opener m_previous;
};

}  // namespace tabulon::test
