#pragma once
// A small workbook for function tests: cells set by A1 address on numbered sheets, a fixed
// clock and a fixed random sequence.
#include <cmath>
#include <initializer_list>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "formula/Function.h"

namespace tabulon::formula {
// Test failures print values readably.
void PrintTo(const Value& v, std::ostream* os);
}  // namespace tabulon::formula

namespace tabulon::formula::test {

class GridContext : public Context {
public:
    // Sets a cell by address such as "B3" on sheet 0 (or "Sheet2!B3" style via sheet index).
    void set(std::string_view a1, Value v, uint32_t sheet = 0)
    {
        uint32_t col = 0, row = 0;
        size_t i = 0;
        while (i < a1.size() && std::isalpha(static_cast<unsigned char>(a1[i])))
            col = col * 26 + uint32_t(std::toupper(static_cast<unsigned char>(a1[i++])) - 'A' + 1);
        while (i < a1.size())
            row = row * 10 + uint32_t(a1[i++] - '0');
        cells[{sheet, row - 1, col - 1}] = std::move(v);
    }
    // Sets a column of numbers starting at an address.
    void setColumn(std::string_view top, std::initializer_list<Value> values)
    {
        uint32_t col = uint32_t(std::toupper(static_cast<unsigned char>(top[0])) - 'A');
        uint32_t row = uint32_t(std::stoul(std::string(top.substr(1)))) - 1;
        for (const Value& v : values)
            cells[{0, row++, col}] = v;
    }

    Value cell(uint32_t sheet, uint32_t row, uint32_t col) override
    {
        auto it = cells.find({sheet, row, col});
        return it == cells.end() ? Value() : it->second;
    }
    void forEachCell(const Area& a, const CellVisitor& visit) override
    {
        for (const auto& [key, v] : cells) {
            const auto [s, r, c] = key;
            if (s >= a.sheetFirst && s <= a.sheetLast && r >= a.rowFirst && r <= a.rowLast && c >= a.colFirst && c <= a.colLast)
                if (!visit(s, r, c, v))
                    return;
        }
    }
    uint32_t currentSheet() const override { return 0; }
    uint32_t currentRow() const override { return row; }
    uint32_t currentCol() const override { return col; }
    bool arrayMode() const override { return inArray; }
    uint32_t sheetCount() const override { return 3; }
    int64_t sheetByName(std::string_view name) const override
    {
        for (uint32_t i = 0; i < 3; ++i)
            if (name == "Sheet" + std::to_string(i + 1))
                return i;
        return -1;
    }
    bool date1904() const override { return in1904; }
    double now() override { return clock; }
    double random() override
    {
        const double r = randoms.empty() ? 0.5 : randoms[nextRandom++ % randoms.size()];
        return r;
    }

    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, Value> cells;  // (sheet, row, col), row-major
    uint32_t row = 0, col = 0;
    bool inArray = false, in1904 = false;
    double clock = 45306.5;  // 2024-01-15 12:00
    std::vector<double> randoms;
    size_t nextRandom = 0;
};

// Shorthands for table rows.
inline Value num(double v) { return Value::number(v); }
inline Value str(std::string s) { return Value::text(std::move(s)); }
inline Value boolean(bool b) { return Value::boolean(b); }
inline Value err(ErrorCode e) { return Value::error(e); }
// A reference on sheet 0 by A1 range text such as "A1:B3" or "C2".
Value range(std::string_view a1);

}  // namespace tabulon::formula::test
