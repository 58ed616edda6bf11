// Converts every worksheet of a workbook to OUTDIR/<n>.csv through the engine; for profiling
// and for looking at real files by hand. Given a folder, converts each workbook in it to
// OUTDIR/<workbook>-<n>.csv, in one process.   ooxml_convert BOOK|FOLDER OUTDIR
#include <algorithm>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <filesystem>

#include "engine/Error.h"
#include "engine/Workbook.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: ooxml_convert BOOK OUTDIR\n");
        return 2;
    }
    std::vector<std::filesystem::path> books;
    if (std::filesystem::is_directory(argv[1])) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
            books.push_back(entry.path());
        std::sort(books.begin(), books.end());
    } else {
        books.emplace_back(argv[1]);
    }
    int failed = 0;
    for (const auto& path : books) {
        try {
            auto book = tabulon::engine::openWorkbook(path);
            const int count = book->sheetCount();
            const std::string prefix = books.size() > 1 ? path.stem().string() + "-" : "";
            for (int i = 1; i <= count; ++i)
                book->saveAsCsv(std::filesystem::path(argv[2]) / (prefix + std::to_string(i) + ".csv"), i);
            book->close();
        } catch (const tabulon::engine::Error& e) {
            std::fprintf(stderr, "%s\n", e.what());
            ++failed;
        }
    }
    // Processor time of this thread (parse, render, write) and of the whole process (plus
    // inflating): on a busy machine these say more than the wall clock.
    rusage self{}, all{};
    getrusage(RUSAGE_THREAD, &self);
    getrusage(RUSAGE_SELF, &all);
    auto seconds = [](const rusage& r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    if (std::getenv("TABULON_TIMES"))
        std::fprintf(stderr, "main thread %.3f s, process %.3f s, peak RSS %ld KB\n", seconds(self), seconds(all), all.ru_maxrss);
    if (failed)
        return 1;
    return 0;
}
