#pragma once
#include <charconv>
#include <cstdint>
#include <string>

#include "Decimal.h"

namespace tabulon::numfmt::detail {

// Appends v in decimal, zero-padded to minWidth digits.
inline void appendUInt(std::string& out, uint64_t v, int minWidth = 0)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    for (int pad = minWidth - int(res.ptr - buf); pad > 0; --pad)
        out += '0';
    out.append(buf, res.ptr);
}

// Appends a number the way the "General" format shows it.
void appendGeneral(double v, std::string& out);
// Same for a non-negative number already reduced to 15 significant digits.
void appendGeneralDecimal(const Decimal& x, std::string& out);

}  // namespace tabulon::numfmt::detail
