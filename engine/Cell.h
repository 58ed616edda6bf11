#pragma once
#include <cstdint>
#include <limits>
#include <optional>
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

// A rectangle of cells, 0-based and inclusive.
struct CellRange {
    uint32_t firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0;
    bool operator==(const CellRange&) const = default;
};

// A formula as the file stores it, handed over only to sinks that ask for formulas.
struct FormulaData {
    enum class Form : uint8_t { A1, Biff8, Xlsb };  // OOXML text, or the .xls / .xlsb tokens
    enum class Kind : uint8_t {
        Single,  // the cell's own formula
        Shared,  // a member of a shared or array group: the body comes with the group
        Group,   // the body of a group (sharedFormula()): shared, or an array when `array`
    };
    Form form = Form::A1;
    Kind kind = Kind::Single;
    bool array = false;        // Single or Group: an array formula filling `range`
    bool hasResult = false;    // the cell's value is a stored result
    bool alwaysCalc = false;   // the file marks it for calculation on every load
    uint64_t group = 0;        // Shared and Group: which group (OOXML si, or the anchor cell)
    CellRange range;           // Group and array formulas: the cells covered
    std::string_view body;     // A1 text (no '='), or the parsed tokens
    std::string_view extra;    // token forms: the data after the tokens (array constants)
};

// One cell as a reader hands it over. `text` points into the reader's buffers and is valid
// only during the call that receives it.
struct CellData {
    CellKind kind = CellKind::Blank;
    uint32_t style = 0;  // index into BookReader::styles().xfs; out of range means "General"
    double number = 0;
    std::string_view text;
    // A formula the application would calculate on opening the workbook: it has no stored
    // result, or the file asks for it to be calculated. The value is then only a placeholder.
    bool needsCalculation = false;
    const FormulaData* formula = nullptr;  // only for sinks that want formulas
};

// Receives one worksheet's cells. Rows arrive in ascending order; within a row columns
// normally ascend, but receivers must cope with any order. Positions are 0-based.
class CellSink {
public:
    virtual ~CellSink() = default;
    virtual void cell(uint32_t row, uint32_t col, const CellData& data) = 0;
    // Readers fill in CellData::formula and report shared / array groups only when asked:
    // the streaming path never parses formulas.
    virtual bool wantsFormulas() const { return false; }
    // The body of a shared or array formula group (.xls SHRFMLA / ARRAY records and their
    // .xlsb counterparts), reported where the file stores it.
    virtual void sharedFormula(const FormulaData& group) { (void)group; }
};

// A name defined in the workbook, for formulas.
struct DefinedName {
    std::string name;
    int64_t sheet = -1;  // index into BookReader::sheets() for a sheet's own name; -1 workbook
    FormulaData::Form form = FormulaData::Form::A1;
    std::string body, extra;
};

// What formulas need of the workbook beyond its cells.
struct FormulaFacts {
    // The application calculates every formula when it opens the workbook.
    bool calculateAll = false;
    std::vector<DefinedName> names;
    // Token forms: the sheets each 3-D reference entry (XTI) covers, as indices into
    // BookReader::sheets(); nullopt for entries pointing outside the workbook.
    std::vector<std::optional<std::pair<uint32_t, uint32_t>>> xti;
    // Token forms: names of add-in / newer functions referenced by external-name index.
    std::vector<std::string> externalNames;
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
