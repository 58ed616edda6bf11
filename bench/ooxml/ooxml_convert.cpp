// Converts every worksheet of a workbook to OUTDIR/<n>.csv through the engine; for profiling
// and for looking at real files by hand.   ooxml_convert BOOK OUTDIR
#include <cstdio>
#include <filesystem>

#include "engine/Error.h"
#include "engine/Workbook.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ooxml_convert BOOK OUTDIR\n");
        return 2;
    }
    try {
        auto book = tabulon::engine::openWorkbook(argv[1]);
        const int count = book->sheetCount();
        for (int i = 1; i <= count; ++i)
            book->saveAsCsv(std::filesystem::path(argv[2]) / (std::to_string(i) + ".csv"), i);
        book->close();
    } catch (const tabulon::engine::Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
