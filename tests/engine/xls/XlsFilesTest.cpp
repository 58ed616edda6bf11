// Whole files: workbooks written by python3-xlwt (make_fixtures.py), the shared corpus of
// real workbooks, and the same workbooks saved in other formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "Error.h"
#include "ReaderTestSupport.h"
#include "SheetWriter.h"
#include "xls/XlsReader.h"

namespace tabulon::test {
namespace {
const std::filesystem::path kTestDir = TABULON_TEST_DIR;
const std::filesystem::path kCorpus = TABULON_CORPUS_DIR;

TEST(XlsFiles, FixturesMatchGoldenCsv)
{
    for (const char* name : {"mixed.xls", "long_strings.xls", "dates1904.xls", "wide.xls"})
        expectGolden(kTestDir / "golden" / (std::string(name) + ".txt"),
                     convertToText(openXls, readFile(kTestDir / "fixtures" / name), name));
}

// Every string of the fixture is followed by its length in characters: nothing is lost or
// doubled where the shared-string table breaks into CONTINUE records.
TEST(XlsFiles, LongStringsSurviveContinueBreaks)
{
    std::istringstream lines(convertToText(openXls, readFile(kTestDir / "fixtures/long_strings.xls"), "l.xls"));
    std::string line;
    std::getline(lines, line);
    int rows = 0;
    while (std::getline(lines, line)) {
        const size_t comma = line.rfind(',');
        ASSERT_NE(comma, std::string::npos);
        const size_t chars = static_cast<size_t>(std::count_if(line.begin(), line.begin() + static_cast<long>(comma),
                                                               [](char c) { return (c & 0xC0) != 0x80; }));
        EXPECT_EQ(std::to_string(chars) + "\r", line.substr(comma + 1)) << rows;
        ++rows;
    }
    EXPECT_EQ(rows, 60);
}

// Real workbooks: each converts, or fails with a sentence naming the file. The golden file
// keeps the start of every sheet and a hash of the whole, so it stays small.
TEST(XlsFiles, CorpusMatchesGoldenSummary)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus / "xls"))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    std::string summary;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        const std::string text = convertOrError(openXls, readFile(file), name);
        summary += "#### " + name + "\n";
        std::istringstream lines(text);
        std::string line;
        int shown = 0;
        uint64_t hash = 1469598103934665603ull;
        size_t count = 0;
        while (std::getline(lines, line)) {
            if (line.rfind("== ", 0) == 0 || line.rfind("error: ", 0) == 0) {
                shown = 0;
                summary += line + "\n";
                continue;
            }
            ++count;
            for (char c : line)
                hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
            if (shown++ < 4)
                summary += line.substr(0, 160) + "\n";
        }
        summary += (std::ostringstream() << "(" << count << " lines, " << std::hex << hash << ")\n").str();
    }
    expectGolden(kTestDir / "golden" / "corpus-summary.txt", summary);
}

// The text the application saved from the fraction workbook, cell for cell: values in
// column C, and the same values through one- to nine-digit and fixed denominators.
TEST(XlsFiles, FractionsShowAsTheApplicationSavedThem)
{
    const std::string bytes = readFile(kCorpus / "xls" / "poi__54686_fraction_formats.xls");
    auto reader = openXls(bytes, "fractions.xls");
    const engine::CellRenderer renderer(reader->styles(), reader->date1904());
    std::map<std::pair<uint32_t, uint32_t>, std::string> shown;
    for (const SeenCell& seen : readCells(*reader, 0)) {
        engine::CellData cell{seen.kind, seen.style, seen.number, seen.text};
        renderer.render(cell, shown[{seen.row, seen.col}]);
    }
    // Tab-separated, CR LF line ends, every cell as wide as the application displayed it.
    std::istringstream saved(readFile(std::filesystem::path(TABULON_TRUTH_DIR) / "poi__54686_fraction_formats.txt"));
    int compared = 0;
    uint32_t row = 0;
    for (std::string line; std::getline(saved, line); ++row) {
        ASSERT_TRUE(line.ends_with('\r')) << row;
        line.pop_back();
        uint32_t col = 0;
        for (size_t start = 0; start <= line.size(); ++col) {
            const size_t tab = std::min(line.find('\t', start), line.size());
            const std::pair<uint32_t, uint32_t> at(row, col);
            EXPECT_EQ(shown[at], line.substr(start, tab - start)) << "row " << row + 1 << " column " << col + 1;
            start = tab + 1;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 4862);
}

// Both RC4 schemes, checked on real files whose password is known: the key derivation and
// the per-block re-keying that the default password relies on.
TEST(XlsFiles, RealRc4FilesOpenOnlyWithTheirPassword)
{
    const struct { const char* file; const char* start; } cases[] = {
        {"poi__password.xls", "== 1 "},
        {"sheetjs__password_2002_128_strong.xls", "== 1 Sheet1\n1,\r\n2,10\r\n3,\r\n4,\r\n"},  // CryptoAPI
    };
    auto withPassword = [](const std::string& b, const std::string& name) {
        return engine::openXlsReaderFromMemory(b.data(), b.size(), name, u"password");
    };
    for (const auto& c : cases) {
        const std::string bytes = readFile(kCorpus / "xls" / c.file);
        EXPECT_EQ(convertOrError(openXls, bytes, "p.xls"), "error: Cannot read \"p.xls\": the workbook is password-protected.\n");
        const std::string text = convertToText(withPassword, bytes, "p.xls");
        EXPECT_EQ(text.rfind(c.start, 0), 0u) << c.file << ": " << text.substr(0, 100);
        EXPECT_GT(text.size(), 20u);
    }
}

TEST(XlsFiles, DamagedFilesFailCleanly)
{
    damageAndConvert(openXls, readFile(kTestDir / "fixtures/mixed.xls"), 100);
    for (const char* file : {"sheetjs-biff5__text_and_numbers.xls", "sheetjs-crlf__CRLFX5_4.XLS", "poi__password.xls"})
        damageAndConvert(openXls, readFile(kCorpus / "xls" / file), 40);
}

// The same workbook saved as .xls and in other formats gives the same CSV files.
TEST(XlsFiles, SameCsvAsOtherFormats)
{
    const std::pair<const char*, ReaderFactory> formats[] = {{"xlsx", openXlsx}, {"xlsb", openXlsb}};
    // Pairs saved by the same application, so the cached values agree (volatile formulas,
    // as in the corpus' formula stress test, do not).
    const char* stems[] = {"calamine__any_sheets", "calamine__date_1904", "sheetjs-1904__1900", "sheetjs-1904__1904",
                           "sheetjs-crlf__crlf", "sheetjs__ErrorTypes", "sheetjs__rich_text_stress",
                           "sheetjs__sheet_visibility", "sheetjs__sushi", "sheetjs__text_and_numbers",
                           "sheetjs__number_format", "sheetjs__minimal_112", "sheetjs-wps__write"};
    int compared = 0;
    for (const char* stem : stems) {
        const std::string xls = convertOrError(openXls, readFile(kCorpus / "xls" / (std::string(stem) + ".xls")), "book");
        for (const auto& [ext, open] : formats) {
            const auto other = kCorpus / ext / (std::string(stem) + "." + ext);
            if (!std::filesystem::exists(other))
                continue;
            EXPECT_EQ(xls, convertOrError(open, readFile(other), "book")) << stem << " ." << ext;
            ++compared;
        }
    }
    EXPECT_GE(compared, 20);
}

}  // namespace
}  // namespace tabulon::test
