// libFuzzer target: any bytes opened as a zip package give every part alike through each
// reading path (whole, streamed, streamed by a second thread), or fail with engine::Error.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Error.h"
#include "engine/io/Zip.h"

using namespace tabulon::engine;

namespace {
bool streamed(const ZipArchive& zip, uint64_t index, bool background, std::string& out)
{
    try {
        auto s = zip.stream(index, background);
        char buffer[4096];
        while (size_t n = s->read(buffer, sizeof buffer))
            out.append(buffer, n);
        return true;
    } catch (const Error&) {
        return false;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        auto zip = ZipArchive::openMemory(data, size, "fuzz.xlsx");
        const auto names = zip->names();
        for (size_t i = 0; i < names.size() && i < 8; ++i) {
            (void)zip->find(names[i]);
            std::string whole, plain, threaded;
            bool wholeOk = true;
            try {
                whole = zip->readAll(i);
            } catch (const Error&) {
                wholeOk = false;
            }
            const bool plainOk = streamed(*zip, i, false, plain);
            const bool threadedOk = streamed(*zip, i, true, threaded);
            if (plainOk != threadedOk || (plainOk && plain != threaded))
                std::abort();
            if (wholeOk && plainOk && whole != plain)
                std::abort();
        }
    } catch (const Error&) {
    }
    return 0;
}
