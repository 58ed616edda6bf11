#include "ReaderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "Error.h"
#include "Workbook.h"
#include "io/Zip.h"
#include "ods/OdsReader.h"
#include "ooxml/OoxmlReader.h"
#include "xls/XlsReader.h"
#include "xlsb/XlsbReader.h"

namespace tabulon::test {

namespace {
// Workbooks recalculated in tests see a fixed clock (2024-01-15 12:00) and random source, so
// that NOW(), TODAY() and RAND() give the same golden files every day.
const bool g_fixedVolatileSources = [] {
    engine::setVolatileSourcesForTests({[](bool date1904) { return 45306.5 - (date1904 ? 1462 : 0); }, [] { return 0.5; }});
    return true;
}();
}  // namespace

std::ostream& operator<<(std::ostream& out, const SeenCell& cell)
{
    return out << "{" << cell.row << "," << cell.col << " kind " << int(cell.kind) << " number " << cell.number
               << " text \"" << cell.text << "\" style " << cell.style << "}";
}

std::unique_ptr<engine::BookReader> openXlsx(const std::string& b, const std::string& name)
{ return engine::openOoxmlReader(engine::ZipArchive::openMemory(b.data(), b.size(), name)); }
std::unique_ptr<engine::BookReader> openXlsb(const std::string& b, const std::string& name)
{ return engine::openXlsbReader(engine::ZipArchive::openMemory(b.data(), b.size(), name)); }
std::unique_ptr<engine::BookReader> openOds(const std::string& b, const std::string& name)
{ return engine::openOdsReader(engine::ZipArchive::openMemory(b.data(), b.size(), name)); }
std::unique_ptr<engine::BookReader> openXls(const std::string& b, const std::string& name)
{ return engine::openXlsReaderFromMemory(b.data(), b.size(), name); }

std::vector<SeenCell> readCells(engine::BookReader& reader, size_t sheetIndex)
{
    struct Sink final : engine::CellSink {
        std::vector<SeenCell> cells;
        void cell(uint32_t row, uint32_t col, const engine::CellData& d) override
        {
            cells.push_back({row, col, d.kind, d.number, std::string(d.text), d.style});
        }
    } sink;
    reader.readSheet(sheetIndex, sink);
    return sink.cells;
}

std::string convertToText(const ReaderFactory& open, const std::string& bytes, const std::string& name)
{
    TempDir dir;
    auto book = engine::makeWorkbook(open(bytes, name), name);
    std::string out;
    for (int i = 1; i <= book->sheetCount(); ++i) {
        const auto file = dir / ("sheet" + std::to_string(i) + ".csv");
        book->saveAsCsv(file, i);
        out += "== " + std::to_string(i) + " " + book->sheetName(i) + "\n" + readFile(file);
    }
    return out;
}

std::string convertOrError(const ReaderFactory& open, const std::string& bytes, const std::string& name)
{
    try {
        return convertToText(open, bytes, name);
    } catch (const engine::Error& e) {
        return std::string("error: ") + e.what() + "\n";
    }
}

std::string readError(const ReaderFactory& open, const std::string& bytes, const std::string& name)
{
    const std::string got = convertOrError(open, bytes, name);  // converted text starts with "== "
    return got.starts_with("error: ") ? got.substr(7, got.size() - 8) : "no error";
}

void expectGolden(const std::filesystem::path& file, const std::string& got)
{
    if (std::getenv("TABULON_UPDATE_GOLDEN")) {
        writeFile(file, got);
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(got, readFile(file)) << file;
}

std::string sheetCsv(const ReaderFactory& open, const std::string& bytes, int position)
{
    TempDir dir;
    auto book = engine::makeWorkbook(open(bytes, "test"), "test");
    book->saveAsCsv(dir / "out.csv", position);
    return readFile(dir / "out.csv");
}

void checkCorpusGolden(const std::filesystem::path& corpus, const std::filesystem::path& golden)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty()) << corpus;
    for (const auto& file : files) {
        // Opened as tabrun opens it, recognised by content, so a password-protected package
        // (a compound file under a zip name) fails as users see it fail.
        const std::string name = file.filename().string();
        std::string got;
        try {
            TempDir dir;
            auto book = engine::openWorkbook(file);
            for (int i = 1; i <= book->sheetCount(); ++i) {
                book->saveAsCsv(dir / "sheet.csv", i);
                got += "== " + std::to_string(i) + " " + book->sheetName(i) + "\n" + readFile(dir / "sheet.csv");
            }
        } catch (const engine::Error& e) {
            // Messages name the file by the path given; the golden files by its name alone.
            std::string message = e.what();
            const std::string path = "\"" + file.string() + "\"";
            if (const size_t at = message.find(path); at != std::string::npos)
                message.replace(at, path.size(), "\"" + name + "\"");
            got = "error: " + message + "\n";
        }
        expectGolden(golden / (name + ".txt"), got);  // gtest prints a line diff of multi-line strings
    }
}

int damageAndConvert(const ReaderFactory& open, const std::string& bytes, int flips)
{
    int failures = 0;
    auto attempt = [&](const std::string& damaged) {
        try {
            convertToText(open, damaged, "damaged");
        } catch (const engine::Error& e) {
            ++failures;
            EXPECT_EQ(std::string(e.what()).rfind("Cannot", 0), 0u) << e.what();
        }
    };
    const size_t step = std::max<size_t>(1, bytes.size() / 200);
    for (size_t length = 0; length < bytes.size(); length += step)
        attempt(bytes.substr(0, length));
    std::mt19937 random(12345);
    for (int i = 0; i < flips; ++i) {
        std::string damaged = bytes;
        for (int k = 0; k < 3; ++k)
            damaged[random() % damaged.size()] = static_cast<char>(random());
        attempt(damaged);
    }
    return failures;
}

}  // namespace tabulon::test
