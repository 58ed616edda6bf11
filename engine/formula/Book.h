#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Formula.h"

// The compact in-memory model of a workbook that must be recalculated: every stored cell
// with its value and style, the formulas (parsed only when needed), defined names, and the
// evaluator that fills in results. Cells are added in reader order; after calculate() they
// are read back in that order with their final values.
namespace tabulon::formula {

enum class CellType : uint8_t { Blank, Number, Text, Bool, Error };

enum class SourceForm : uint8_t { A1, Biff8, Xlsb };

class Book final : public Context {
public:
    explicit Book(bool date1904);
    ~Book() override;

    uint32_t addSheet(std::string name);
    // Needed by the binary token forms (3-D references, names); the A1 form needs none.
    void setTokenBook(TokenBook book) { m_tokenBook = std::move(book); }

    // A formula body as stored, written for the cell (sheet, row, col); shared and array
    // formulas add it once and point every cell of the group at it. Returns its id.
    uint32_t addSource(SourceForm form, std::string body, std::string extra, uint32_t sheet, uint32_t row, uint32_t col);
    // Sets the body of a source added empty (a shared or array group whose body the file
    // stores after its first cell).
    void defineSource(uint32_t source, SourceForm form, std::string body, std::string extra, uint32_t sheet, uint32_t row,
                      uint32_t col);
    // Makes a source an array formula filling `range` (its first cell is the anchor the body
    // is written for).
    struct ArrayRange {
        uint32_t rowFirst = 0, colFirst = 0, rowLast = 0, colLast = 0;
    };
    void setSourceArray(uint32_t source, const ArrayRange& range);
    // A defined name; sheetScope -1 for workbook scope.
    void addName(std::string_view name, int64_t sheetScope, uint32_t source);

    // Adds a cell (rows ascending within a sheet; a later cell at the same place replaces
    // an earlier one). Text is copied.
    void addCell(uint32_t sheet, uint32_t row, uint32_t col, CellType type, double number, std::string_view text, uint32_t style);
    // Makes the cell added last a formula cell. `hasResult`: its stored value is a result;
    // `calculate`: it must be calculated (otherwise the stored result stands, also when a
    // calculated formula reads it; without a result it is calculated regardless).
    void setFormula(uint32_t source, bool hasResult, bool calculate);

    uint64_t cellCount() const { return m_cellCount; }
    // Approximate bytes held by the model.
    uint64_t memoryBytes() const;

    // Calculates every formula marked for calculation, and what they depend on.
    void calculate();

    // A sheet's cells after calculation, in the order they were added.
    struct CellOut {
        uint32_t row, col, style;
        CellType type;
        double number;
        std::string_view text;  // Text, or the literal of an Error
    };
    void forEachCell(uint32_t sheet, const std::function<void(const CellOut&)>& visit) const;
    // Formulas of a sheet that had no stored result and could not be calculated.
    uint64_t uncalculated(uint32_t sheet) const;

    // Injectable clock (serial date-time) and random source, for tests.
    void setClock(double serialNow) { m_now = serialNow; }
    void setRandom(std::function<double()> source) { m_random = std::move(source); }

    // Context
    Value cell(uint32_t sheet, uint32_t row, uint32_t col) override;
    void forEachCell(const Area& area, const CellVisitor& visit) override;
    uint32_t currentSheet() const override { return m_cur.sheet; }
    uint32_t currentRow() const override { return m_cur.row; }
    uint32_t currentCol() const override { return m_cur.col; }
    bool arrayMode() const override { return m_cur.array; }
    uint32_t sheetCount() const override { return uint32_t(m_sheets.size()); }
    int64_t sheetByName(std::string_view name) const override;
    Value definedName(std::string_view name) override;
    bool date1904() const override { return m_date1904; }
    double now() override { return m_now; }
    double random() override;
    std::optional<uint32_t> findFirstEqual(const Area& vector, const Value& key) override;
    uint64_t countEqual(const Area& area, const Value& key) override;

    // Evaluates a formula as the cell at that position would show it: a reference becomes
    // its value (or, in array mode, an array of values).
    Value evaluate(const Formula& f, uint32_t sheet, uint32_t row, uint32_t col, bool arrayMode = false);

private:
    struct Slot {
        double number = 0;
        uint32_t text = 0;     // offset into m_text (Text type)
        uint32_t textLen = 0;
        uint32_t style = 0;
        uint32_t formula = 0;  // 1 + index into m_formulas; 0 for plain cells
        CellType type = CellType::Blank;
    };
    struct Column {
        std::vector<uint32_t> rows;
        std::vector<Slot> slots;
        std::vector<uint32_t> formulaPos;  // positions in slots holding formulas, by row
        size_t settledUpTo = 0;            // formulaPos[0..settledUpTo) are all settled
    };
    struct Sheet {
        std::string name;
        std::string folded;
        std::vector<Column> cols;
        std::vector<std::pair<uint32_t, uint32_t>> order;  // (col, position) in reader order
        uint64_t uncalculated = 0;
        bool unordered = false;
    };
    enum class State : uint8_t { Stored, Pending, InProgress, Done };
    struct FormulaCell {
        uint32_t sheet, row, col;
        uint32_t source;
        State state = State::Stored;
        bool hasResult = false;
        bool circular = false;
    };
    struct Source {
        SourceForm form;
        std::string body, extra;
        uint32_t sheet, row, col;
        std::shared_ptr<const Formula> parsed;
        bool tried = false;
        bool array = false;
        ArrayRange range;
    };
    struct Position {
        uint32_t sheet = 0, row = 0, col = 0;
        bool array = false;
    };

    Value run(const Formula& f, uint32_t sheet, uint32_t row, uint32_t col, bool arrayMode);
    const Formula* parsedSource(uint32_t source);
    Slot* findSlot(uint32_t sheet, uint32_t row, uint32_t col);
    Value slotValue(const Slot& s) const;
    void storeResult(FormulaCell& fc, const Value& v);
    void storeValue(Slot& slot, const Value& v);
    void ensure(uint32_t formulaIndex);
    void collectDependencies(const Formula& f, const Position& at, int depth, std::vector<uint32_t>& out);
    void markCircular(uint32_t formulaIndex);
    void compute(uint32_t formulaIndex);
    void finishLoading();
    bool resolveArea(const Token& t, const Position& at, Area& area) const;

    // Operators
    Value applyBinary(Op op, const Value& a, const Value& b);
    Value applyUnary(Op op, const Value& a);
    Value scalarBinary(Op op, const Value& a, const Value& b);
    Value operand(const Value& v);  // references to scalars (or arrays in array mode)

    bool m_date1904;
    std::vector<Sheet> m_sheets;
    std::vector<FormulaCell> m_formulas;
    std::vector<Source> m_sources;
    std::unordered_map<std::string, std::vector<std::pair<int64_t, uint32_t>>> m_names;  // folded name -> (scope, source)
    std::string m_text;
    TokenBook m_tokenBook;
    uint64_t m_cellCount = 0;
    uint32_t m_lastSheet = UINT32_MAX;
    bool m_loaded = false;

    Position m_cur;
    struct Frame {
        uint32_t formula;
        bool expanded;
    };
    std::vector<Frame> m_stack;
    std::vector<uint32_t> m_depScratch;
    int m_nesting = 0;
    int m_nameDepth = 0;
    double m_now = 0;
    std::function<double()> m_random;
    // Exact-match indexes of one-column (or one-row) areas, built on first use: value key ->
    // (first offset, count). Lookups into the same table from thousands of rows then cost
    // one hash probe each.
    struct LookupIndex {
        std::unordered_map<std::string, std::pair<uint32_t, uint64_t>> entries;
    };
    const LookupIndex& lookupIndex(const Area& area);
    bool areaSettled(const Area& area);
    std::unordered_map<std::string, LookupIndex> m_indexes;
    std::mt19937_64 m_rng{std::random_device{}()};
};

}  // namespace tabulon::formula
