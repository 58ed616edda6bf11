// Placeholder until the renderer lands: shows numbers with up to 15 significant digits.
#include "NumFmt.h"

#include <cstdio>

namespace tabulon::numfmt {

class Format {};

std::shared_ptr<const Format> compile(std::string_view) { return std::make_shared<Format>(); }
std::string_view builtinCode(unsigned) { return "General"; }

void formatNumber(const Format&, double value, bool, std::string& out)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    out += buf;
}

void formatText(const Format&, std::string_view text, std::string& out) { out += text; }

std::string render(double value, std::string_view code, bool date1904)
{
    std::string out;
    formatNumber(*compile(code), value, date1904, out);
    return out;
}

std::string renderText(std::string_view text, std::string_view code)
{
    std::string out;
    formatText(*compile(code), text, out);
    return out;
}

bool isDateFormat(const Format&) { return false; }

}  // namespace tabulon::numfmt
