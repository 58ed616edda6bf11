#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <set>

#include "Error.h"
#include "Workbook.h"
#include "ZipBuilder.h"

namespace tabulon::test {
namespace {

// Every worksheet of a workbook file as "== <name>" and its CSV, or the error's text.
std::string convertFile(const std::filesystem::path& file)
{
    TempDir dir;
    std::string out;
    try {
        auto book = engine::openWorkbook(file);
        for (int i = 1; i <= book->sheetCount(); ++i) {
            book->saveAsCsv(dir / "out.csv", i);
            out += "== " + book->sheetName(i) + "\n" + readFile(dir / "out.csv");
        }
    } catch (const engine::Error&) {
        out += "error\n";
    }
    return out;
}

std::string withoutNames(const std::string& text)
{
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out += line.starts_with("== ") ? "" : line + "\n";
    return out;
}

// Pairs of corpus files that hold the same workbook in two formats. Where they differ, the
// formats do not carry the same information; each such pair says why.
TEST(CrossFormat, SameWorkbookGivesTheSameCsv)
{
    const std::filesystem::path corpus(TABULON_CORPUS_DIR);
    const std::map<std::string, std::string> differing = {
        {"calamine__any_sheets.ods", "the chart stands on a table of its own, which this format counts as a worksheet"},
        {"sheetjs-crlf__crlf.ods", "a cell says \"Def\" where the others say \"def\""},
        {"sheetjs__formula_stress_test.ods",
         "NOW(), TODAY(), RAND(), RANDBETWEEN() and INFO() were cached at other times, CHAR(), CODE() and CLEAN() "
         "in another character set"},
        {"sheetjs__number_format.ods",
         "the writer cached #NAME? for the TEXT() formulas, cut seconds off its dates and times, and its data styles "
         "cannot say mmmmm or an engineering exponent; text cells keep their paragraphs, without the accounting "
         "format's padding"},
        {"sheetjs__formula_stress_test.xlsb", "NOW(), TODAY() and RAND() were cached at other times"},
        {"xlrd__sample.xlsb", "the .xlsx sheet holds no cell"},
    };
    // Same cells, sheets named differently.
    const std::set<std::string> renamed = {"sheetjs-1904__1900.ods", "sheetjs-1904__1904.ods",
                                           "sheetjs-issue2717__issue2717.ods", "sheetjs-issue2717__issue2717.xlsb"};
    int compared = 0;
    for (const char* kind : {"xlsb", "ods"}) {
        for (const auto& entry : std::filesystem::directory_iterator(corpus / kind)) {
            auto twin = corpus / "xlsx" / (entry.path().stem().string() + ".xlsx");
            if (!std::filesystem::exists(twin))
                twin = corpus / "xlsm" / (entry.path().stem().string() + ".xlsm");
            if (!std::filesystem::exists(twin))
                continue;
            const std::string name = entry.path().filename().string();
            const std::string got = convertFile(entry.path()), expected = convertFile(twin);
            if (differing.count(name)) {
                EXPECT_NE(got, expected) << name << " now matches its .xlsx twin: take it off the list";
                continue;
            }
            ++compared;
            if (renamed.count(name))
                EXPECT_EQ(withoutNames(got), withoutNames(expected)) << name;
            else
                EXPECT_EQ(got, expected) << name;
        }
    }
    EXPECT_GE(compared, 10);
}

}  // namespace
}  // namespace tabulon::test
