// libFuzzer target: any text as the A1 formula of a cell must parse or be refused, and
// evaluate without crashing, hanging or exhausting memory.
#include <cstdint>
#include <string>

#include "FormulaBook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    evaluateInBook(tabulon::formula::SourceForm::A1, std::string(reinterpret_cast<const char*>(data), size), {});
    return 0;
}
