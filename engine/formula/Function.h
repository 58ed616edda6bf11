#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "Value.h"

namespace tabulon::formula {

// What a function may ask of the workbook while it runs. The evaluator implements it over
// the workbook model; tests implement it over a small grid.
class Context {
public:
    virtual ~Context() = default;

    // The value of one cell, computed first if it holds a formula; Blank when empty.
    virtual Value cell(uint32_t sheet, uint32_t row, uint32_t col) = 0;
    // Calls `visit` for every cell of `area` that is not empty, sheet by sheet, row by row,
    // left to right; stops early when `visit` returns false. Huge areas (whole columns)
    // cost what the cells present cost, not what the area spans.
    using CellVisitor = std::function<bool(uint32_t sheet, uint32_t row, uint32_t col, const Value& value)>;
    virtual void forEachCell(const Area& area, const CellVisitor& visit) = 0;

    // Where the formula being evaluated sits (for ROW(), COLUMN() and implicit intersection).
    virtual uint32_t currentSheet() const = 0;
    virtual uint32_t currentRow() const = 0;
    virtual uint32_t currentCol() const = 0;
    // True while evaluating an array formula: functions taking single values then apply
    // element by element to array arguments instead of intersecting ranges.
    virtual bool arrayMode() const { return false; }

    // Sheets of the workbook, for INDIRECT and 3-D references.
    virtual uint32_t sheetCount() const = 0;
    // Index of a sheet by name (case-insensitive); -1 if there is none.
    virtual int64_t sheetByName(std::string_view name) const = 0;
    // A defined name as a reference or value (INDIRECT("MyName")); #NAME? when unknown.
    virtual Value definedName(std::string_view name) { (void)name; return Value::error(ErrorCode::Name); }

    virtual bool date1904() const { return false; }
    // Conversion-time clock as a serial date-time in the workbook's date system, and a
    // uniform random number in [0, 1). Both injectable, for tests.
    virtual double now() = 0;
    virtual double random() = 0;

    // The offset of the first cell in a one-row or one-column area that equals `key`
    // (same type; text compared without regard to case, no wildcards); nullopt when none.
    // The evaluator answers from an index built once per area; this fallback scans.
    virtual std::optional<uint32_t> findFirstEqual(const Area& vector, const Value& key);
    // How many cells of an area equal `key` in the same sense (COUNTIF with a plain value).
    virtual uint64_t countEqual(const Area& area, const Value& key);

    // ---- helpers shared by the functions ----

    // A single value from an argument: a reference meets the formula's row or column
    // (implicit intersection; #VALUE! when it does not), an array gives its first element.
    Value scalar(const Value& v);
    // Visits every value an argument holds: the scalar itself, each array element, or each
    // non-empty cell of a reference. `fromRef` is true for cells and array elements, false
    // for a value given directly as the argument (SUM counts TRUE typed as an argument but
    // skips TRUE in a cell or an array, for example).
    using ValueVisitor = std::function<bool(const Value& value, bool fromRef)>;
    void forEachValue(const Value& arg, const ValueVisitor& visit);
};

// How the evaluator prepares arguments before the call.
enum class ArgMode : uint8_t {
    // Every argument is turned into one scalar first (implicit intersection for references,
    // first element for arrays); in array formulas, or when an argument is an array, the
    // function is applied element by element and gives an array.
    Scalars,
    // Arguments are passed as they are: references, arrays and scalars.
    Values,
};

using FunctionImpl = Value (*)(std::span<const Value> args, Context& ctx);

struct FunctionInfo {
    std::string_view name;  // upper case, as written in formulas (without any "_xlfn." prefix)
    uint8_t minArgs = 0;
    uint8_t maxArgs = 255;  // 255: any number
    ArgMode mode = ArgMode::Scalars;
    bool isVolatile = false;  // recalculated on every load (NOW, RAND, OFFSET, INDIRECT, ...)
    FunctionImpl impl = nullptr;
    // Arguments are evaluated as arrays even outside array formulas (SUMPRODUCT): ranges
    // inside them are not intersected with the formula's row or column.
    bool arrayArgs = false;
};

// The function of that name (ASCII case ignored, "_xlfn." / "_xlws." prefixes dropped);
// nullptr when the library has none.
const FunctionInfo* findFunction(std::string_view name);

// Each family of functions lists its members; findFunction searches them all.
std::span<const FunctionInfo> logicalFunctions();
std::span<const FunctionInfo> lookupFunctions();
std::span<const FunctionInfo> mathFunctions();
std::span<const FunctionInfo> statisticalFunctions();
std::span<const FunctionInfo> textFunctions();
std::span<const FunctionInfo> dateFunctions();
std::span<const FunctionInfo> financialFunctions();
std::span<const FunctionInfo> infoFunctions();

}  // namespace tabulon::formula

namespace tabulon::formula {

// Calls a function the way the evaluator does: checks the argument count (#VALUE! when
// wrong), prepares the arguments by the function's mode and, for Scalars functions given
// arrays, applies it element by element.
Value callFunction(const FunctionInfo& f, std::span<const Value> args, Context& ctx);

// The cells of a reference's first area as an array (an error value for multi-area
// references). Large areas are the caller's concern.
Value refToArray(const Value& ref, Context& ctx);

}  // namespace tabulon::formula
