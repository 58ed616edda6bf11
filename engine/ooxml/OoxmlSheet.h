#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../Cell.h"

namespace tabulon::engine {
class XmlScanner;
}

// The worksheet side of the .xlsx reader: the cell loop of <sheetData> and the parsers of the
// values cells hold. OoxmlReader.cpp reads the workbook, styles and shared strings.
namespace tabulon::engine::ooxml {

// Every shared string back to back, addressed by where each ends.
struct SharedStrings {
    std::string text;
    std::vector<uint32_t> ends;

    size_t size() const { return ends.size(); }
    std::string_view operator[](uint32_t i) const
    {
        const uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(begin, ends[i] - begin);
    }
};

// What the cell loop needs to know of the workbook.
struct SheetContext {
    std::string fileName;
    std::string sheetName;
    const SharedStrings& strings;
    bool date1904 = false;
};

// Streams the cells of a <sheetData> element to `sink`; the scanner stands on its start tag.
// Throws engine::Error naming file, sheet and what is wrong.
void readSheetData(XmlScanner& x, CellSink& sink, const SheetContext& context);

// Appends the text of the <t> elements below the current element (its start tag just read),
// leaving out phonetic runs; `what` names the element in the error when the text is too long.
void collectText(XmlScanner& x, std::string& out, const char* what);

// --- Value parsers. Each returns false (leaving `out` unspecified) on malformed input. ---

// A 32-bit unsigned decimal, surrounding white space and a "+" allowed.
bool parseUnsigned(std::string_view s, uint32_t& out);
// A number as written in <v>: finite, within the double range (underflow is zero).
bool parseNumber(std::string_view s, double& out);
// "1" or "true", as boolean attributes and cells write truth.
inline bool isTrue(std::string_view v) { return v == "1" || v == "true"; }
// An ISO 8601 date, date-time or time (the "d" cell type) as a serial day number in the
// workbook's date system; a zone designator is ignored.
bool isoToSerial(std::string_view s, bool date1904, double& serial);
// "AB12" as 0-based row and column, either case; "AB" alone sets only the column (hasRow
// false). False when malformed or outside the sheet.
bool parseCellRef(std::string_view ref, uint32_t& row, uint32_t& col, bool& hasRow);
// "A1:C20" or "B2" (a <dimension ref>), each end with a row.
std::optional<CellRange> parseRangeRef(std::string_view ref);
// Decodes the _xHHHH_ escapes of spreadsheet text in place, from `from` on: "_x000D_" is a
// CR, "_x005F_" escapes the underscore of a literal "_xHHHH_", escaped surrogate pairs join.
void decodeEscapes(std::string& s, size_t from = 0);

}  // namespace tabulon::engine::ooxml
