#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "io/Zip.h"
#include "xlsb/XlsbReader.h"

namespace tabulon::test {
namespace {

std::unique_ptr<engine::BookReader> openXlsb(const std::string& bytes, const std::string& name)
{
    return engine::openXlsbReader(engine::ZipArchive::openMemory(bytes.data(), bytes.size(), name));
}

TEST(XlsbCorpus, MatchesGoldenFiles)
{
    checkCorpusGolden(openXlsb, std::filesystem::path(TABULON_CORPUS_DIR) / "xlsb",
                      std::filesystem::path(TABULON_TEST_DIR) / "golden");
}

}  // namespace
}  // namespace tabulon::test
