// libFuzzer target over (format code, value): 8 bytes of double, one flag byte, then the code.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/numfmt/NumFmt.h"

using namespace tabulon::numfmt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 9)
        return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const bool date1904 = data[8] & 1;
    const std::string_view code(reinterpret_cast<const char*>(data + 9), size - 9);

    const auto format = compile(code);
    std::string out;
    formatNumber(*format, value, date1904, out);
    // Output grows with the code, never beyond: digits of a double, padding from placeholders.
    if (out.size() > 4 * code.size() + 1024)
        std::abort();
    const size_t numberSize = out.size();
    formatText(*format, "some text", out);
    if (out.size() - numberSize > 20 * code.size() + 64)
        std::abort();
    (void)isDateFormat(*format);
    return 0;
}
