// libFuzzer target: any bytes opened as an .ods package must read or fail with engine::Error.
#include "RenderAll.h"
#include "engine/io/Zip.h"
#include "engine/ods/OdsReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        renderAll(*openOdsReader(ZipArchive::openMemory(data, size, "fuzz.ods")));
    } catch (const Error&) {
    }
    return 0;
}
