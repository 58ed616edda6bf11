#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "ZipBuilder.h"
#include "engine/Error.h"
#include "engine/SheetWriter.h"
#include "engine/Workbook.h"
#include "engine/csv/CsvWriter.h"
#include "engine/io/AtomicFile.h"

using namespace tabulon::engine;
using tabulon::test::readFile;
using tabulon::test::TempDir;

namespace {

struct Stored {
    uint32_t row, col;
    const char* text;  // nullptr: a blank cell
};

// A reader of one sheet whose cells and stored dimension the test chooses.
class FakeReader final : public BookReader {
public:
    FakeReader(std::vector<Stored> cells, std::optional<CellRange> hint) : m_cells(std::move(cells)), m_hint(hint) {}
    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return false; }
    const StyleTable& styles() const override { return m_styles; }
    std::optional<CellRange> dimension(size_t) override { return m_hint; }
    void readSheet(size_t, CellSink& sink) override
    {
        ++passes;
        for (const Stored& c : m_cells) {
            CellData d;
            d.kind = c.text ? CellKind::Shown : CellKind::Blank;
            d.text = c.text ? c.text : "";
            sink.cell(c.row, c.col, d);
        }
    }
    int passes = 0;

private:
    std::vector<Stored> m_cells;
    std::optional<CellRange> m_hint;
    std::vector<SheetInfo> m_sheets{SheetInfo{"Sheet1"}};
    StyleTable m_styles;
};

}  // namespace

TEST(SheetWriter, UsedRangeWhateverTheHint)
{
    const std::vector<Stored> block = {{2, 2, "a"}, {2, 4, "b"}, {4, 3, nullptr}};  // C3, E3, blank D5
    const std::string blockCsv = "a,,b\r\n,,\r\n,,\r\n";
    const struct {
        const char* name;
        std::vector<Stored> cells;
        std::optional<CellRange> hint;
        std::string csv;
        int passes;
    } cases[] = {
        {"right hint", block, CellRange{2, 2, 4, 4}, blockCsv, 1},
        {"no hint", block, std::nullopt, blockCsv, 2},
        {"hint too large", block, CellRange{0, 0, 9, 9}, blockCsv, 3},
        {"hint too small", block, CellRange{2, 2, 3, 4}, blockCsv, 3},
        {"hint of the whole sheet", block, CellRange{0, 0, kMaxRows - 1, kMaxColumns - 1}, blockCsv, 2},
        {"reversed hint", block, CellRange{4, 4, 2, 2}, blockCsv, 2},
        {"no cells", {}, CellRange{0, 0, 0, 0}, "", 2},
        {"quoting", {{0, 0, "a,b"}, {0, 1, "say \"hi\""}, {0, 2, "line\nbreak"}, {0, 3, " lead 0012;\t"}},
         std::nullopt, "\"a,b\",\"say \"\"hi\"\"\",\"line\nbreak\", lead 0012;\t\r\n", 2},
        {"columns out of order, last duplicate wins", {{0, 2, "c"}, {0, 0, "a"}, {0, 2, "C"}}, std::nullopt,
         "a,,C\r\n", 2},
        {"rows out of order", {{3, 0, "d"}, {1, 1, "b"}, {3, 1, "e"}}, CellRange{1, 0, 3, 1}, ",b\r\n,\r\nd,e\r\n", 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        FakeReader reader(c.cells, c.hint);
        CellRenderer renderer(reader.styles(), false);
        writeSheetCsv(reader, renderer, 0, dir / "out.csv", "book.xlsx");
        EXPECT_EQ(readFile(dir / "out.csv"), c.csv) << c.name;
        if (c.passes) {
            EXPECT_EQ(reader.passes, c.passes) << c.name;
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.name << ": temporary file left";
    }
}

// The save tells its caller of the rows written, every 4096 rows, through the call itself.
TEST(SheetWriter, ReportsRowsToTheSavingCall)
{
    std::vector<Stored> cells;
    for (uint32_t row = 0; row < 10000; ++row)
        cells.push_back({row, 0, "x"});
    TempDir dir;
    FakeReader reader(cells, CellRange{0, 0, 9999, 0});
    CellRenderer renderer(reader.styles(), false);
    std::vector<uint64_t> reported;
    writeSheetCsv(reader, renderer, 0, dir / "out.csv", "book.xlsx", [&](uint64_t rows) { reported.push_back(rows); });
    EXPECT_EQ(reported, (std::vector<uint64_t>{4096, 8192}));
}

// Two cells at the corners of the sheet ask for 17 GB of commas: refused before anything is
// written, after one pass that only counts. A sheet as large whose fields are mostly
// filled is written, however large; the limit can be moved.
TEST(SheetWriter, MostlyEmptyHugeSheetsAreRefused)
{
    const std::vector<Stored> corners = {{0, 0, "a"}, {kMaxRows - 1, kMaxColumns - 1, "b"}};
    TempDir dir;
    FakeReader reader(corners, CellRange{0, 0, kMaxRows - 1, kMaxColumns - 1});
    CellRenderer renderer(reader.styles(), false);
    const auto start = std::chrono::steady_clock::now();
    try {
        writeSheetCsv(reader, renderer, 0, dir / "out.csv", "book.xlsx");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Cannot read \"book.xlsx\": the worksheet \"Sheet1\" would make a CSV file of at least "
                               "16 GiB, more than the limit of 1 GiB, most of it empty fields (its used range "
                               "A1:XFD1048576 holds 2 cells).");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(reader.passes, 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);

    struct LimitBack {
        ~LimitBack() { setCsvSizeLimit(kDefaultCsvSizeLimit); }
    } limitBack;
    setCsvSizeLimit(100);  // a 10 x 10 sheet takes at least 110 bytes
    std::vector<Stored> half, sparse = {{0, 0, "a"}, {9, 9, "z"}};
    for (uint32_t i = 0; i < 50; ++i)
        half.push_back({i / 10, i % 10, "x"});
    half.push_back({9, 9, "z"});
    for (const auto& [cells, refused] : {std::pair{half, false}, std::pair{sparse, true}}) {
        FakeReader small(cells, std::nullopt);
        const std::string error = [&]() -> std::string {
            try {
                writeSheetCsv(small, renderer, 0, dir / "small.csv", "book.xlsx");
            } catch (const Error& e) {
                return e.what();
            }
            return "";
        }();
        EXPECT_EQ(error.empty(), !refused) << error;
        if (refused) {
            EXPECT_NE(error.find("at least 110 bytes, more than the limit of 100 bytes"), std::string::npos) << error;
            EXPECT_NE(error.find("(its used range A1:J10 holds 2 cells)"), std::string::npos) << error;
        }
    }
}

size_t entriesIn(const std::filesystem::path& dir)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// Both ways of writing: without a name until commit, and under a temporary name.
class CsvWriterWays : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { tabulon::engine::AtomicFile::allowAnonymous(GetParam()); }
    void TearDown() override { tabulon::engine::AtomicFile::allowAnonymous(true); }
};

INSTANTIATE_TEST_SUITE_P(AnonymousOrNamed, CsvWriterWays, testing::Bool());

TEST_P(CsvWriterWays, ReplacesOnlyOnCommit)
{
    TempDir dir;
    const auto target = dir / "out.csv";
    tabulon::test::writeFile(target, "old");
    {
        tabulon::csv::CsvWriter writer(target, "out.csv");
        writer.field("new");
        writer.endRecord();
        // destroyed without commit: a failed save
    }
    EXPECT_EQ(readFile(target), "old");
    {
        tabulon::csv::CsvWriter writer(target, "out.csv");
        writer.emptyFields(2);
        writer.field("x");
        writer.endRecord();
        writer.commit();
    }
    EXPECT_EQ(readFile(target), ",,x\r\n");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
    EXPECT_THROW(tabulon::csv::CsvWriter(dir / "missing" / "out.csv", "out.csv"), Error);
}

// The temporary name does not grow with the target's: a name of 255 bytes, the most the
// file system takes, can be written; while it is being written the folder shows at most
// one short temporary name, and none at all on the anonymous way.
TEST_P(CsvWriterWays, TemporaryNamesDoNotDependOnTheTarget)
{
    TempDir dir;
    const auto target = dir / (std::string(251, 'n') + ".csv");
    tabulon::engine::AtomicFile file(target);
    if (GetParam()) {
        EXPECT_TRUE(file.temporaryPath().empty());
        EXPECT_EQ(entriesIn(dir.path()), 0u);
    } else {
        EXPECT_EQ(file.temporaryPath().filename().string().size(), std::string(".tabulon-01234567.tmp").size());
        EXPECT_EQ(entriesIn(dir.path()), 1u);
    }
    ASSERT_EQ(::write(file.fd(), "x", 1), 1);
    file.commit();
    EXPECT_EQ(readFile(target), "x");
    EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(CsvWriter, QuotesFieldsWithASpecialByteAnywhere)
{
    // The scan reads eight bytes at a time: a comma, quote, CR or LF must be found at every
    // place in a word and in the tail, next to bytes of multi-byte UTF-8 characters too.
    for (const char special : {',', '"', '\r', '\n'}) {
        for (size_t length = 1; length <= 20; ++length) {
            for (size_t at = 0; at < length; ++at) {
                std::string text(length, 'a');
                if (length > 2)
                    text[(at + 1) % length] = static_cast<char>(0xC3);  // a byte at or above 0x80
                text[at] = special;
                std::string quoted;
                tabulon::csv::CsvWriter::appendQuoted(text, quoted);
                std::string expected = "\"";
                for (const char c : text)
                    expected += c == '"' ? std::string("\"\"") : std::string(1, c);
                expected += "\"";
                ASSERT_EQ(quoted, expected) << int(special) << " at " << at << " of " << length;
            }
        }
    }
    std::string plain;
    tabulon::csv::CsvWriter::appendQuoted("Zo\xC3\xAB \xE6\x9D\x8E 1234.5 +-;:'\t", plain);
    EXPECT_EQ(plain, "Zo\xC3\xAB \xE6\x9D\x8E 1234.5 +-;:'\t");
}
