#pragma once
#include <string>
#include <string_view>

#include "Section.h"

namespace tabulon::numfmt::detail {

// Appends x (>= 0) through a numeric, General or text section. Returns whether a non-zero
// digit was shown, which decides whether a minus sign belongs in front.
bool renderNumber(const Section& section, double x, std::string& out);

// Appends a date or time serial (>= 0). Returns false, having appended nothing useful,
// when no date can show the serial; the caller then falls back to General.
bool renderDate(const Section& section, double serial, bool date1904, std::string& out);

// Appends a text cell through a text section ('@' stands for the text).
void renderText(const Section& section, std::string_view text, std::string& out);

}  // namespace tabulon::numfmt::detail
