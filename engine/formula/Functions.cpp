#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>
#include <string>
#include <unordered_map>

#include "Function.h"

namespace tabulon::formula {

const FunctionInfo* findFunction(std::string_view name)
{
    static const std::unordered_map<std::string, const FunctionInfo*> byName = [] {
        std::unordered_map<std::string, const FunctionInfo*> map;
        for (auto family : {logicalFunctions(), lookupFunctions(), mathFunctions(), statisticalFunctions(),
                            textFunctions(), dateFunctions(), financialFunctions(), infoFunctions()})
            for (const FunctionInfo& f : family)
                map.emplace(std::string(f.name), &f);
        return map;
    }();
    std::string key;
    key.reserve(name.size());
    for (char c : name)
        key += char(std::toupper(static_cast<unsigned char>(c)));
    for (std::string_view prefix : {"_XLFN.", "_XLWS."})
        if (key.starts_with(prefix))
            key.erase(0, prefix.size());
    auto it = byName.find(key);
    return it == byName.end() ? nullptr : it->second;
}

Value Context::scalar(const Value& v)
{
    if (v.isArray()) {
        const Array& a = v.asArray();
        return a.cells.empty() ? Value::error(ErrorCode::Value) : a.cells.front();
    }
    if (!v.isRef())
        return v;
    const auto& areas = v.areas();
    if (areas.size() != 1 || areas[0].sheetFirst != areas[0].sheetLast)
        return Value::error(ErrorCode::Value);
    const Area& a = areas[0];
    if (a.rowFirst == a.rowLast && a.colFirst == a.colLast)
        return cell(a.sheetFirst, a.rowFirst, a.colFirst);
    if (a.sheetFirst != currentSheet())
        return Value::error(ErrorCode::Value);
    // Implicit intersection: a one-column range meets the formula's row, a one-row range
    // its column.
    if (a.colFirst == a.colLast && currentRow() >= a.rowFirst && currentRow() <= a.rowLast)
        return cell(a.sheetFirst, currentRow(), a.colFirst);
    if (a.rowFirst == a.rowLast && currentCol() >= a.colFirst && currentCol() <= a.colLast)
        return cell(a.sheetFirst, a.rowFirst, currentCol());
    return Value::error(ErrorCode::Value);
}

std::optional<uint32_t> Context::findFirstEqual(const Area& a, const Value& key)
{
    std::optional<uint32_t> found;
    forEachCell(a, [&](uint32_t, uint32_t row, uint32_t col, const Value& v) {
        if (v.type() == key.type() && compareScalars(v, key) == 0) {
            found = (row - a.rowFirst) + (col - a.colFirst);
            return false;
        }
        return true;
    });
    return found;
}

uint64_t Context::countEqual(const Area& a, const Value& key)
{
    uint64_t n = 0;
    forEachCell(a, [&](uint32_t, uint32_t, uint32_t, const Value& v) {
        if (v.type() == key.type() && compareScalars(v, key) == 0)
            ++n;
        return true;
    });
    return n;
}

void Context::forEachValue(const Value& arg, const ValueVisitor& visit)
{
    if (arg.isArray()) {
        for (const Value& v : arg.asArray().cells)
            if (!visit(v, true))
                return;
        return;
    }
    if (!arg.isRef()) {
        visit(arg, false);
        return;
    }
    bool stopped = false;
    for (const Area& area : arg.areas()) {
        forEachCell(area, [&](uint32_t, uint32_t, uint32_t, const Value& v) {
            if (!visit(v, true))
                stopped = true;
            return !stopped;
        });
        if (stopped)
            return;
    }
}

}  // namespace tabulon::formula

namespace tabulon::formula {

Value refToArray(const Value& ref, Context& ctx)
{
    if (!ref.isRef())
        return ref;
    if (ref.areas().size() != 1 || ref.areas()[0].sheetFirst != ref.areas()[0].sheetLast)
        return Value::error(ErrorCode::Value);
    const Area& a = ref.areas()[0];
    auto out = std::make_shared<Array>();
    out->rows = a.rows();
    out->cols = a.cols();
    // Callers bound the size; the cap here only keeps a mistake from exhausting memory.
    if (a.cellCount() > (uint64_t(1) << 20))
        return Value::error(ErrorCode::Num);
    out->cells.resize(size_t(out->rows) * out->cols);
    ctx.forEachCell(a, [&](uint32_t, uint32_t r, uint32_t c, const Value& v) {
        out->cells[size_t(r - a.rowFirst) * out->cols + (c - a.colFirst)] = v;
        return true;
    });
    return Value::array(out);
}

Value callFunction(const FunctionInfo& f, std::span<const Value> args, Context& ctx)
{
    if (args.size() < f.minArgs || (f.maxArgs != 255 && args.size() > f.maxArgs))
        return Value::error(ErrorCode::Value);
    if (f.mode == ArgMode::Values)
        return f.impl(args, ctx);

    std::vector<Value> scalars(args.begin(), args.end());
    bool lift = false;
    uint32_t rows = 1, cols = 1;
    for (Value& v : scalars) {
        if (v.isRef())
            v = ctx.arrayMode() ? refToArray(v, ctx) : ctx.scalar(v);
        if (v.isArray()) {
            lift = true;
            rows = std::max(rows, v.asArray().rows);
            cols = std::max(cols, v.asArray().cols);
        }
    }
    if (!lift)
        return f.impl(scalars, ctx);
    if (uint64_t(rows) * cols > (uint64_t(1) << 20))
        return Value::error(ErrorCode::Num);
    auto out = std::make_shared<Array>();
    out->rows = rows;
    out->cols = cols;
    out->cells.reserve(size_t(rows) * cols);
    std::vector<Value> element(scalars.size());
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c) {
            for (size_t i = 0; i < scalars.size(); ++i) {
                if (!scalars[i].isArray()) {
                    element[i] = scalars[i];
                    continue;
                }
                const Array& a = scalars[i].asArray();
                // A single row or column stretches across the other dimension.
                const uint32_t rr = a.rows == 1 ? 0 : r, cc = a.cols == 1 ? 0 : c;
                element[i] = rr < a.rows && cc < a.cols ? a.at(rr, cc) : Value::error(ErrorCode::NA);
            }
            out->cells.push_back(f.impl(element, ctx));
        }
    return Value::array(out);
}

}  // namespace tabulon::formula
