#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "io/Zip.h"
#include "ods/OdsReader.h"

namespace tabulon::test {
namespace {

std::unique_ptr<engine::BookReader> openOds(const std::string& bytes, const std::string& name)
{
    return engine::openOdsReader(engine::ZipArchive::openMemory(bytes.data(), bytes.size(), name));
}

TEST(OdsCorpus, MatchesGoldenFiles)
{
    checkCorpusGolden(openOds, std::filesystem::path(TABULON_CORPUS_DIR) / "ods",
                      std::filesystem::path(TABULON_TEST_DIR) / "golden");
}

}  // namespace
}  // namespace tabulon::test
