// libFuzzer target: any bytes opened as an .xlsb package must read or fail with engine::Error.
#include "RenderAll.h"
#include "engine/io/Zip.h"
#include "engine/xlsb/XlsbReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        renderAll(*openXlsbReader(ZipArchive::openMemory(data, size, "fuzz.xlsb")));
    } catch (const Error&) {
    }
    return 0;
}
