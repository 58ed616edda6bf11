#pragma once
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tabulon::engine {

// The largest sheet the spreadsheet application can hold; readers reject references beyond it.
inline constexpr uint32_t kMaxRows = 1048576;
inline constexpr uint32_t kMaxColumns = 16384;

enum class CellKind : uint8_t {
    Blank,   // no value, but the cell is stored (it carries formatting): it extends the used range
    Number,  // a number, date or time: rendered through the cell's number format
    Text,    // text: rendered through the text section of the cell's number format
    Bool,    // number is 0 or 1
    Error,   // text holds the error literal, e.g. "#DIV/0!"
    Shown,   // text is already the displayed text (formats that store it): written as it is
};

// One cell as a reader hands it over. `text` points into the reader's buffers and is valid
// only during the call that receives it.
struct CellData {
    CellKind kind = CellKind::Blank;
    uint32_t style = 0;  // index into BookReader::styles().xfs; out of range means "General"
    double number = 0;
    std::string_view text;
};

// Receives one worksheet's cells. Rows arrive in ascending order; within a row columns
// normally ascend, but receivers must cope with any order. Positions are 0-based.
class CellSink {
public:
    virtual ~CellSink() = default;
    virtual void cell(uint32_t row, uint32_t col, const CellData& data) = 0;
};

// A rectangle of cells, 0-based and inclusive.
struct CellRange {
    uint32_t firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0;
    bool operator==(const CellRange&) const = default;
};

// Number formats of a workbook: every cell format (XF) names a number format id; ids are
// either custom codes stored in the file or built-in ones (0 = General, 14 = m/d/yyyy, ...).
// A custom code stored under a built-in id replaces the built-in one.
struct StyleTable {
    std::vector<uint32_t> xfFormatIds;                       // XF index -> number format id
    std::unordered_map<uint32_t, std::string> customFormats;  // number format id -> code
};

enum class SheetKind : uint8_t { Worksheet, Chart, Dialog, Macro, Module };
enum class SheetVisibility : uint8_t { Visible, Hidden, VeryHidden };

struct SheetInfo {
    std::string name;  // UTF-8
    SheetKind kind = SheetKind::Worksheet;
    SheetVisibility visibility = SheetVisibility::Visible;
};

}  // namespace tabulon::engine
