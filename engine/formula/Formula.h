#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Function.h"
#include "Value.h"

// The expression model all three front ends produce: a formula as tokens in postfix order,
// evaluated with an explicit operand stack. References keep their relative parts as
// offsets from the cell the formula was written for, so one parsed formula serves every
// cell of a shared-formula group.
namespace tabulon::formula {

enum class Op : uint8_t {
    // operands
    Number,    // number
    Text,      // texts[index]
    Bool,      // number 0/1
    Error,     // number = error code
    Missing,   // an omitted function argument
    Array,     // arrays[index]
    Ref,       // one area (a cell is an area of one)
    RefError,  // a reference that points nowhere (#REF!)
    Name,      // texts[index]: a defined name, looked up on the formula's sheet first
    // operators
    Plus, Minus, Negate, UnaryPlus, Percent, Times, Divide, Power, Concat,
    Eq, Ne, Lt, Le, Gt, Ge,
    Range, Union, Intersect,
    Call,        // fn with argc arguments
    Unsupported, // something the module cannot evaluate (external reference, unknown
                 // function, ...): the whole formula keeps its stored result
};

// Flags of a reference: which coordinates are relative (stored as offsets).
enum RefFlags : uint8_t {
    RowFirstRel = 1,
    ColFirstRel = 2,
    RowLastRel = 4,
    ColLastRel = 8,
    SheetGiven = 16,  // the reference names its sheet(s); otherwise the formula's own sheet
};

// Flag of operator and call tokens inside the arguments of a function that takes arrays:
// they evaluate as in an array formula.
constexpr uint8_t kArrayContext = 32;


struct Token {
    Op op = Op::Number;
    uint8_t flags = 0;
    uint16_t argc = 0;
    uint32_t index = 0;
    double number = 0;
    // Ref: coordinates (absolute, or offsets where the flag says relative).
    int32_t row1 = 0, col1 = 0, row2 = 0, col2 = 0;
    uint32_t sheet1 = 0, sheet2 = 0;
    const FunctionInfo* fn = nullptr;
};

// Marks tokens [first, end) as inside array arguments.
void markArrayContext(std::vector<Token>& tokens, size_t first);

struct Formula {
    std::vector<Token> tokens;  // postfix
    std::vector<std::string> texts;
    std::vector<std::shared_ptr<const Array>> arrays;
    bool isVolatile = false;
    bool unsupported = false;   // holds an Op::Unsupported token
};

// What a parser needs to know of the workbook: sheet indices by name (case-insensitive;
// -1 when there is none: the reference becomes #REF!).
using SheetLookup = std::function<int64_t(std::string_view name)>;

// Parses the A1 text of an OOXML cell formula (without the leading '='), written for the
// cell at (row, col) of `sheet`. Returns nullopt with a reason when the text is malformed.
struct ParseResult {
    std::optional<Formula> formula;
    std::string error;
};
ParseResult parseA1(std::string_view text, uint32_t sheet, uint32_t row, uint32_t col, const SheetLookup& sheets);

// Shared-formula shifting of an A1 text is not needed: parse the master once and evaluate
// it at every cell of the group (relative references are offsets).

// ---- binary token forms ----

// What the token decoders need of the workbook: 3-D reference entries (XTI) and names.
struct TokenBook {
    // Sheets of an EXTERNSHEET / ExternSheet entry; nullopt when it points outside the
    // workbook (external reference) or is invalid.
    std::function<std::optional<std::pair<uint32_t, uint32_t>>(uint32_t xti)> sheetsOfXti;
    // Text of defined name number `index` (1-based as stored); empty when unknown.
    std::function<std::string(uint32_t index)> nameText;
    // Name of an add-in / future function referenced through an external name
    // (tNameX with the function-call index 255); empty when unknown.
    std::function<std::string(uint32_t xti, uint32_t index)> externalName;
};

enum class TokenForm : uint8_t { Biff8, Xlsb };

// Decodes a parsed-token formula (rgce plus the trailing rgcb data of array constants) for
// the cell at (row, col). `shared` marks shared/array formula bodies (their tRefN/tAreaN
// tokens are offsets). Malformed input gives nullopt with a reason.
ParseResult decodeTokens(TokenForm form, std::string_view rgce, std::string_view rgcb, uint32_t sheet, uint32_t row,
                         uint32_t col, const TokenBook& book);

// The function of a built-in function number of the binary forms; nullptr when unknown
// (or not in the library). `name` receives its name when known.
const FunctionInfo* functionByIndex(uint32_t index, std::string_view* name = nullptr);

}  // namespace tabulon::formula
