// libFuzzer target: any bytes as a parsed-token formula (first byte: .xls or .xlsb form and
// where the token bytes end and the trailing array data begin) must decode or be refused,
// and evaluate without crashing, hanging or exhausting memory.
#include <cstdint>
#include <string>

#include "FormulaBook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using tabulon::formula::SourceForm;
    if (size < 1 || size > 8192)
        return 0;
    const SourceForm form = (data[0] & 1) ? SourceForm::Xlsb : SourceForm::Biff8;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = std::min<size_t>(rest.size(), size_t(data[0] >> 1) * 4);
    evaluateInBook(form, rest.substr(0, split), rest.substr(split));
    return 0;
}
