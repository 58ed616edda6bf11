#pragma once
#include <cstdint>
#include <string_view>

namespace tabulon::engine {

// The error literal of a binary error code, as .xls and .xlsb store them. Codes the
// application does not define show as #N/A.
inline std::string_view binaryErrorLiteral(uint8_t code)
{
    switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A: return "#N/A";
    case 0x2B: return "#GETTING_DATA";
    default: return "#N/A";
    }
}

}  // namespace tabulon::engine
