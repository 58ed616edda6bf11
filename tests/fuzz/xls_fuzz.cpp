// libFuzzer target: any bytes opened as an .xls workbook (compound file or bare BIFF stream)
// must read or fail with engine::Error.
#include "RenderAll.h"
#include "engine/xls/XlsReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tabulon::engine;
    try {
        renderAll(*openXlsReaderFromMemory(data, size, "fuzz.xls"), 64, true);
    } catch (const Error&) {
    }
    return 0;
}
