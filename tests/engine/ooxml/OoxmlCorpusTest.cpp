#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "engine/Error.h"
#include "engine/Workbook.h"

namespace tabulon::test {
namespace {

// Every real .xlsx and .xlsm file converts as before (or fails with the same message); the
// golden files were checked by hand against what the files hold.
TEST(OoxmlCorpus, MatchesGoldenFiles)
{
    for (const char* folder : {"xlsx", "xlsm"})
        checkCorpusGolden(std::filesystem::path(TABULON_CORPUS_DIR) / folder,
                          std::filesystem::path(TABULON_GOLDEN_DIR) / "corpus");
}

// Format detection sends each package to the right reader; files that cannot be read fail
// with a sentence naming the file.
TEST(OoxmlCorpus, DetectedByContent)
{
    const struct {
        const char* file;
        const char* error;  // nullptr: opens
    } cases[] = {
        {"xlsx/sheetjs__wtf_path.xlsx", nullptr},  // a .bin content type that is not the main part
        {"xlsm/xlsxwriter__macro01.xlsm", nullptr},
        {"xlsx/phpss__Zip-Windows-Directory-Separator.xlsx", nullptr},
        {"xlsx/excelize__encryptAES.xlsx", "password-protected"},
        {"xlsx/tealeg__badfile_noWorkbookRels.xlsx", "missing from the package"},
        {"xlsx/poi__poc-xmlbomb.xlsx", "refuses"},
        {"xlsb/poi__Simple.xlsb", nullptr},
        {"SOURCES.md", "not a workbook this program can read"},
    };
    for (const auto& c : cases) {
        const auto path = std::filesystem::path(TABULON_CORPUS_DIR) / c.file;
        try {
            auto book = engine::openWorkbook(path);
            TempDir dir;
            for (int i = 1; i <= book->sheetCount(); ++i)
                book->saveAsCsv(dir / "out.csv", i);
            EXPECT_EQ(c.error, nullptr) << c.file << " opened";
        } catch (const engine::Error& e) {
            ASSERT_NE(c.error, nullptr) << c.file << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace tabulon::test
