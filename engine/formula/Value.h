#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Values of the formula language: what a cell holds and what an expression yields.
namespace tabulon::formula {

// Error values, numbered as .xls and .xlsb store them.
enum class ErrorCode : uint8_t {
    Null = 0x00,
    Div0 = 0x07,
    Value = 0x0F,
    Ref = 0x17,
    Name = 0x1D,
    Num = 0x24,
    NA = 0x2A,
    GettingData = 0x2B,
};

std::string_view errorLiteral(ErrorCode code);
// The code of an error literal such as "#DIV/0!" (ASCII case ignored); nullopt if none.
std::optional<ErrorCode> errorFromLiteral(std::string_view literal);

// A rectangle of cells on a run of sheets (one sheet unless 3-D), 0-based and inclusive.
struct Area {
    uint32_t sheetFirst = 0, sheetLast = 0;
    uint32_t rowFirst = 0, colFirst = 0, rowLast = 0, colLast = 0;
    uint64_t cellCount() const
    {
        return uint64_t(sheetLast - sheetFirst + 1) * (rowLast - rowFirst + 1) * (colLast - colFirst + 1);
    }
    uint32_t rows() const { return rowLast - rowFirst + 1; }
    uint32_t cols() const { return colLast - colFirst + 1; }
    bool operator==(const Area&) const = default;
};

class Value;

// A rectangular array of scalar values (array constants and array results).
struct Array {
    uint32_t rows = 0, cols = 0;
    std::vector<Value> cells;  // row-major, rows * cols
    const Value& at(uint32_t r, uint32_t c) const;
};

// One value: blank, number, text, boolean, error, array, or a reference to cells (one area,
// or several after a union). References are dereferenced by the evaluator's context.
class Value {
public:
    enum class Type : uint8_t { Blank, Number, Text, Bool, Error, Array, Ref };

    Value() = default;
    static Value number(double v) { Value x; x.m_type = Type::Number; x.m_number = v; return x; }
    static Value boolean(bool v) { Value x; x.m_type = Type::Bool; x.m_number = v ? 1 : 0; return x; }
    static Value error(ErrorCode e) { Value x; x.m_type = Type::Error; x.m_number = double(uint8_t(e)); return x; }
    static Value text(std::string s) { Value x; x.m_type = Type::Text; x.m_text = std::move(s); return x; }
    static Value array(std::shared_ptr<const Array> a) { Value x; x.m_type = Type::Array; x.m_array = std::move(a); return x; }
    static Value ref(std::shared_ptr<const std::vector<Area>> areas) { Value x; x.m_type = Type::Ref; x.m_areas = std::move(areas); return x; }
    static Value ref(const Area& area);

    Type type() const { return m_type; }
    bool isBlank() const { return m_type == Type::Blank; }
    bool isNumber() const { return m_type == Type::Number; }
    bool isText() const { return m_type == Type::Text; }
    bool isBool() const { return m_type == Type::Bool; }
    bool isError() const { return m_type == Type::Error; }
    bool isArray() const { return m_type == Type::Array; }
    bool isRef() const { return m_type == Type::Ref; }
    bool isScalar() const { return m_type != Type::Array && m_type != Type::Ref; }

    double asNumber() const { return m_number; }  // Number; Bool as 0/1
    bool asBool() const { return m_number != 0; }
    ErrorCode asError() const { return ErrorCode(uint8_t(m_number)); }
    const std::string& asText() const { return m_text; }
    const Array& asArray() const { return *m_array; }
    const std::shared_ptr<const Array>& arrayPtr() const { return m_array; }
    const std::vector<Area>& areas() const { return *m_areas; }

    bool operator==(const Value& other) const;  // same type and content (for tests)

private:
    Type m_type = Type::Blank;
    double m_number = 0;
    std::string m_text;
    std::shared_ptr<const Array> m_array;
    std::shared_ptr<const std::vector<Area>> m_areas;
};

// ---- Coercions as the application applies them to scalar values ----

// Number from a scalar: blank is 0, booleans 0/1, text parsed as the application reads typed
// numbers, dates and times ("12", "1e3", "50%", "$1,000", "2024-01-31", "10:30"); errors
// stay errors. Text that is no number gives #VALUE!.
struct NumberOrError {
    double value = 0;
    std::optional<ErrorCode> error;
    explicit operator bool() const { return !error; }
};
NumberOrError toNumber(const Value& v, bool date1904 = false);
// Reads typed text as a number, date or time, as a cell entry would; nullopt if it is none.
std::optional<double> parseNumberText(std::string_view text, bool date1904 = false);

// Text from a scalar: numbers as "General" shows them (up to 15 significant digits), TRUE /
// FALSE, blank as "". Errors are the caller's business (check isError first).
std::string toText(const Value& v);

// Boolean from a scalar: numbers non-zero, blank false, text "TRUE"/"FALSE" (any case);
// other text gives #VALUE!.
struct BoolOrError {
    bool value = false;
    std::optional<ErrorCode> error;
    explicit operator bool() const { return !error; }
};
BoolOrError toBool(const Value& v);

// Compares two scalars as the comparison operators do: numbers < text < booleans, text
// without regard to case, blank as 0 / "" / FALSE against the other side. Errors are not
// compared (callers propagate them first). Returns <0, 0, >0.
int compareScalars(const Value& a, const Value& b);

// Case-insensitive text equality and ordering (ASCII and the Latin-1 / basic Unicode letters).
std::string foldCase(std::string_view utf8);
std::string upperCase(std::string_view utf8);

}  // namespace tabulon::formula
