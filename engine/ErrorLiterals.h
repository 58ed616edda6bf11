#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tabulon::engine {

// Values as the binary formats (.xls and .xlsb) store them.

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

// An RK number: a 30-bit integer or the top 30 bits of a double, divided by 100 when the
// lowest bit says so.
inline double decodeRk(uint32_t rk)
{
    double value;
    if (rk & 2) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100 : value;
}

}  // namespace tabulon::engine
