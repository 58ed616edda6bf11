#include <gtest/gtest.h>

#include "FakeBook.h"
#include "ZipBuilder.h"
#include "core/Spreadsheet.h"

using namespace tabulon;

namespace {

// Runs `f` and returns the description of the engine::Error it throws ("" when none).
template <class F>
std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const engine::Error& e) {
        return e.what();
    }
    return {};
}

}  // namespace

TEST(Spreadsheet, ConvertsInTheOrderOfTheRules)
{
    test::TempDir dir;
    test::FakeBooks fakes;
    test::writeFakeBook(dir / "book.xlsx", "Chart!,First,Second");

    auto app = core::Spreadsheet::create();
    app->open(dir / "book.xlsx");
    app->setDisplayAlerts(false);
    // The chart sheet before the worksheets shifts nothing.
    ASSERT_EQ(app->worksheetCount(), 2);
    EXPECT_EQ(app->worksheetName(1), "First");
    EXPECT_EQ(app->worksheetName(2), "Second");

    app->saveWorkbookAs(dir / "active.csv", core::kCsvFileFormat);
    EXPECT_EQ(test::readFile(dir / "active.csv"), "First\r\n");
    app->selectSheet(2);
    app->saveWorkbookAs(dir / "active.csv", core::kCsvFileFormat);
    EXPECT_EQ(test::readFile(dir / "active.csv"), "Second\r\n");
    app->saveWorksheetAs(1, dir / "one.csv", core::kCsvFileFormat);
    EXPECT_EQ(test::readFile(dir / "one.csv"), "First\r\n");

    EXPECT_NE(errorOf([&] { app->saveWorksheetAs(1, dir / "x.txt", 42); }).find("file format 42"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.txt"));
    EXPECT_NE(errorOf([&] { app->worksheetName(3); }), "");
    app->close();
    app->quit();
}

TEST(Spreadsheet, FailuresCarryTheirDescriptionAndCloseStaysSafe)
{
    test::TempDir dir;
    test::FakeBooks fakes;
    test::writeFakeBook(dir / "book.xlsx", "A,B,C", 2);
    test::writeFile(dir / "junk.xlsx", "not a workbook");

    auto app = core::Spreadsheet::create();
    const std::string junk = errorOf([&] { app->open(dir / "junk.xlsx"); });
    EXPECT_NE(junk.find((dir / "junk.xlsx").string()), std::string::npos) << junk;
    EXPECT_FALSE(app->hasWorkbook());
    app->close();
    EXPECT_NE(errorOf([&] { app->worksheetCount(); }), "");

    app->open(dir / "book.xlsx");
    app->saveWorksheetAs(1, dir / "1.csv", core::kCsvFileFormat);
    const std::string failed = errorOf([&] { app->saveWorksheetAs(2, dir / "2.csv", core::kCsvFileFormat); });
    EXPECT_NE(failed.find("2.csv"), std::string::npos) << failed;
    EXPECT_TRUE(std::filesystem::exists(dir / "1.csv"));
    app->close();
    app->close();
    app->quit();
    app->quit();
    EXPECT_NE(errorOf([&] { app->open(dir / "book.xlsx"); }), "");

    // Anything other than engine::Error that escapes the engine becomes one.
    auto previous = core::Spreadsheet::setOpenerForTests(
        [](const std::filesystem::path&) -> std::unique_ptr<engine::Workbook> { throw std::runtime_error("boom"); });
    auto other = core::Spreadsheet::create();
    EXPECT_NE(errorOf([&] { other->open(dir / "book.xlsx"); }).find("boom"), std::string::npos);
    core::Spreadsheet::setOpenerForTests(previous);
}
