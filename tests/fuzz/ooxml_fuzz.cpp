// libFuzzer target for the .xlsx reader end to end: open, list, save every worksheet as CSV.
// Input starting with "PK" is taken as a package. Anything else is split at lines "====" into
// the XML parts of a package built here, so that mutations reach the XML readers instead of
// stopping at the zip checksums.
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/BookReader.h"
#include "engine/Error.h"
#include "engine/Workbook.h"
#include "engine/io/Zip.h"
#include "engine/ooxml/OoxmlReader.h"
#include "tests/support/ZipBuilder.h"

using namespace tabulon::engine;

namespace {
const char* const kParts[] = {"[Content_Types].xml", "_rels/.rels",    "xl/workbook.xml",         "xl/_rels/workbook.xml.rels",
                              "xl/styles.xml",       "xl/sharedStrings.xml", "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"};

std::string package(const std::string& input)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() < std::size(kParts)) {
        const size_t end = input.find("\n====\n", start);
        parts.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 6;
    }
    tabulon::test::ZipBuilder zip;
    for (size_t i = 0; i < parts.size(); ++i)
        zip.add(kParts[i], parts[i], false);
    return zip.bytes();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    struct Target {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("ooxml_fuzz_" + std::to_string(::getpid()) + ".csv");
        ~Target()
        {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    };
    static const Target scratch;
    const std::filesystem::path& target = scratch.path;
    std::string input(reinterpret_cast<const char*>(data), size);
    if (!input.starts_with("PK"))
        input = package(input);
    try {
        auto book = makeWorkbook(openOoxmlReader(ZipArchive::openMemory(input.data(), input.size(), "fuzz.xlsx")), "fuzz.xlsx");
        const int count = book->sheetCount();
        for (int i = 1; i <= count && i <= 4; ++i) {
            (void)book->sheetName(i);
            book->saveAsCsv(target, i);
        }
        book->close();
    } catch (const Error&) {
    }
    return 0;
}
