// Lookup and reference functions.
#include <algorithm>
#include <cmath>

#include "Formula.h"
#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

constexpr uint32_t kRows = 1048576, kCols = 16384;

// A one- or two-dimensional table from a reference (first area) or an array.
struct Table {
    const Array* array = nullptr;
    Area area;
    uint32_t rows = 0, cols = 0;
    bool isRef() const { return array == nullptr; }
    Value at(Context& ctx, uint32_t r, uint32_t c) const
    {
        return array ? array->at(r, c) : ctx.cell(area.sheetFirst, area.rowFirst + r, area.colFirst + c);
    }
    // The one-row or one-column part of a reference, as an area.
    Area line(bool column, uint32_t index) const
    {
        Area a = area;
        if (column) {
            a.colFirst = a.colLast = area.colFirst + index;
        } else {
            a.rowFirst = a.rowLast = area.rowFirst + index;
        }
        return a;
    }
};

std::optional<Table> tableOf(const Value& v)
{
    Table t;
    if (v.isRef()) {
        if (v.areas().size() != 1 || v.areas()[0].sheetFirst != v.areas()[0].sheetLast)
            return std::nullopt;
        t.area = v.areas()[0];
        t.rows = t.area.rows();
        t.cols = t.area.cols();
        return t;
    }
    if (v.isArray()) {
        t.array = &v.asArray();
        t.rows = t.array->rows;
        t.cols = t.array->cols;
        return t;
    }
    return std::nullopt;
}

// A single value as a 1x1 table.
Table scalarTable(const Value& v, std::shared_ptr<Array>& holder)
{
    holder = std::make_shared<Array>();
    holder->rows = holder->cols = 1;
    holder->cells.push_back(v);
    Table t;
    t.array = holder.get();
    t.rows = t.cols = 1;
    return t;
}

enum class Match { Exact, Wildcard, NextSmaller, NextLarger };

// Position of `key` along one row or column of a table (`column`: down the column `index`;
// otherwise along the row `index`). Approximate matches assume sorted data and stop at the
// first larger value, as a lookup over sorted data would; reverse searches from the end.
std::optional<uint32_t> findIn(Context& ctx, const Table& t, bool column, uint32_t index, const Value& key, Match mode,
                               bool reverse = false)
{
    const uint32_t n = column ? t.rows : t.cols;
    auto at = [&](uint32_t i) { return column ? t.at(ctx, i, index) : t.at(ctx, index, i); };
    const bool wildcard = mode == Match::Wildcard || (mode == Match::Exact && key.isText() && hasWildcards(key.asText()));
    if (mode == Match::Exact && !wildcard && !reverse && t.isRef())
        return ctx.findFirstEqual(t.line(column, index), key);
    if (mode == Match::Exact || wildcard) {
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t i = reverse ? n - 1 - k : k;
            const Value v = at(i);
            if (wildcard && key.isText()) {
                if (v.isText() && wildcardMatch(key.asText(), v.asText()))
                    return i;
            } else if (v.type() == key.type() && compareScalars(v, key) == 0) {
                return i;
            }
        }
        return std::nullopt;
    }
    // Next smaller / larger (XMATCH modes -1 / 1): best candidate over the whole vector.
    std::optional<uint32_t> best;
    Value bestValue;
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t i = reverse ? n - 1 - k : k;
        const Value v = at(i);
        if (v.type() != key.type())
            continue;
        const int c = compareScalars(v, key);
        if (c == 0)
            return i;
        const bool candidate = mode == Match::NextSmaller ? c < 0 : c > 0;
        if (candidate && (!best || (mode == Match::NextSmaller ? compareScalars(v, bestValue) > 0 : compareScalars(v, bestValue) < 0))) {
            best = i;
            bestValue = v;
        }
    }
    return best;
}

// The approximate match of VLOOKUP, HLOOKUP, MATCH(.., 1/-1) and LOOKUP over sorted data:
// the last value not greater (descending: not smaller) than the key, by binary search as
// the application does it.
std::optional<uint32_t> sortedFind(Context& ctx, const Table& t, bool column, uint32_t index, const Value& key, bool descending)
{
    const uint32_t n = column ? t.rows : t.cols;
    auto at = [&](uint32_t i) { return column ? t.at(ctx, i, index) : t.at(ctx, index, i); };
    // Values of another type than the key are stepped over.
    int64_t lo = 0, hi = int64_t(n) - 1;
    std::optional<uint32_t> best;
    while (lo <= hi) {
        int64_t mid = (lo + hi) / 2;
        int64_t probe = mid;
        Value v = at(uint32_t(probe));
        while (probe > lo && v.type() != key.type())
            v = at(uint32_t(--probe));
        if (v.type() != key.type()) {
            lo = mid + 1;
            continue;
        }
        const int c = compareScalars(v, key);
        if (descending ? c >= 0 : c <= 0) {
            best = uint32_t(probe);
            lo = mid + 1;
        } else {
            hi = probe - 1;
        }
    }
    // Among equal values the application returns the last one; the binary search above
    // already moves right on equality.
    return best;
}

Value lookupKey(const Value& arg, Context& ctx)
{
    Value k = ctx.scalar(arg);
    return k;
}

Value fnVlookupLike(std::span<const Value> args, Context& ctx, bool vertical)
{
    const Value key = lookupKey(args[0], ctx);
    if (key.isError())
        return key;
    auto t = tableOf(args[1]);
    if (!t)
        return Value::error(ErrorCode::Value);
    const auto idx = toNumber(ctx.scalar(args[2]), ctx.date1904());
    if (idx.error)
        return Value::error(*idx.error);
    const double i = std::trunc(idx.value);
    if (i < 1)
        return Value::error(ErrorCode::Value);
    if (i > double(vertical ? t->cols : t->rows))
        return Value::error(ErrorCode::Ref);
    bool approximate = true;
    if (args.size() > 3) {
        const auto b = toBool(ctx.scalar(args[3]));
        if (b.error)
            return Value::error(*b.error);
        approximate = b.value;
    }
    const auto pos = approximate ? sortedFind(ctx, *t, vertical, 0, key, false) : findIn(ctx, *t, vertical, 0, key, Match::Exact);
    if (!pos)
        return Value::error(ErrorCode::NA);
    const Value v = vertical ? t->at(ctx, *pos, uint32_t(i) - 1) : t->at(ctx, uint32_t(i) - 1, *pos);
    return v.isBlank() ? Value::number(0) : v;
}

Value fnVlookup(std::span<const Value> args, Context& ctx)
{
    return fnVlookupLike(args, ctx, true);
}

Value fnHlookup(std::span<const Value> args, Context& ctx)
{
    return fnVlookupLike(args, ctx, false);
}

// MATCH(key, vector, [type=1]): 1-based position.
Value fnMatch(std::span<const Value> args, Context& ctx)
{
    const Value key = lookupKey(args[0], ctx);
    if (key.isError())
        return key;
    std::shared_ptr<Array> holder;
    auto t = tableOf(args[1]);
    if (!t) {
        if (args[1].isError())
            return args[1];
        t = scalarTable(args[1], holder);
    }
    if (t->rows != 1 && t->cols != 1)
        return Value::error(ErrorCode::NA);
    double type = 1;
    if (args.size() > 2 && !args[2].isBlank()) {
        const auto n = toNumber(ctx.scalar(args[2]), ctx.date1904());
        if (n.error)
            return Value::error(*n.error);
        type = n.value;
    }
    const bool column = t->cols == 1;
    std::optional<uint32_t> pos;
    if (type == 0)
        pos = findIn(ctx, *t, column, 0, key, Match::Exact);
    else
        pos = sortedFind(ctx, *t, column, 0, key, type < 0);
    return pos ? Value::number(double(*pos) + 1) : Value::error(ErrorCode::NA);
}

std::optional<Match> xmatchMode(std::span<const Value> args, size_t index, Context& ctx, std::optional<ErrorCode>& error)
{
    if (args.size() <= index || args[index].isBlank())
        return Match::Exact;
    const auto n = toNumber(ctx.scalar(args[index]), ctx.date1904());
    if (n.error) {
        error = n.error;
        return std::nullopt;
    }
    switch (int(n.value)) {
    case 0: return Match::Exact;
    case -1: return Match::NextSmaller;
    case 1: return Match::NextLarger;
    case 2: return Match::Wildcard;
    default: error = ErrorCode::Value; return std::nullopt;
    }
}

std::optional<bool> reverseMode(std::span<const Value> args, size_t index, Context& ctx, std::optional<ErrorCode>& error)
{
    if (args.size() <= index || args[index].isBlank())
        return false;
    const auto n = toNumber(ctx.scalar(args[index]), ctx.date1904());
    if (n.error) {
        error = n.error;
        return std::nullopt;
    }
    const int m = int(n.value);
    if (m != 1 && m != -1 && m != 2 && m != -2) {
        error = ErrorCode::Value;
        return std::nullopt;
    }
    return m < 0;
}

// Exact matching in XMATCH/XLOOKUP does not treat * and ? as wildcards.
std::optional<uint32_t> xfind(Context& ctx, const Table& t, const Value& key, Match mode, bool reverse)
{
    const bool column = t.cols == 1;
    if (mode == Match::Exact) {
        const uint32_t n = column ? t.rows : t.cols;
        if (!reverse && t.isRef())
            return ctx.findFirstEqual(t.line(column, 0), key);
        for (uint32_t k = 0; k < n; ++k) {
            const uint32_t i = reverse ? n - 1 - k : k;
            const Value v = column ? t.at(ctx, i, 0) : t.at(ctx, 0, i);
            if (v.type() == key.type() && compareScalars(v, key) == 0)
                return i;
        }
        return std::nullopt;
    }
    return findIn(ctx, t, column, 0, key, mode, reverse);
}

Value fnXmatch(std::span<const Value> args, Context& ctx)
{
    const Value key = lookupKey(args[0], ctx);
    if (key.isError())
        return key;
    auto t = tableOf(args[1]);
    if (!t || (t->rows != 1 && t->cols != 1))
        return Value::error(ErrorCode::Value);
    std::optional<ErrorCode> error;
    const auto mode = xmatchMode(args, 2, ctx, error);
    const auto reverse = reverseMode(args, 3, ctx, error);
    if (error)
        return Value::error(*error);
    const auto pos = xfind(ctx, *t, key, *mode, *reverse);
    return pos ? Value::number(double(*pos) + 1) : Value::error(ErrorCode::NA);
}

Value fnXlookup(std::span<const Value> args, Context& ctx)
{
    const Value key = lookupKey(args[0], ctx);
    if (key.isError())
        return key;
    auto look = tableOf(args[1]);
    auto ret = tableOf(args[2]);
    if (!look || !ret || (look->rows != 1 && look->cols != 1))
        return Value::error(ErrorCode::Value);
    const bool column = look->cols == 1;
    if (column ? ret->rows != look->rows : ret->cols != look->cols)
        return Value::error(ErrorCode::Value);
    std::optional<ErrorCode> error;
    const auto mode = xmatchMode(args, 4, ctx, error);
    const auto reverse = reverseMode(args, 5, ctx, error);
    if (error)
        return Value::error(*error);
    const auto pos = xfind(ctx, *look, key, *mode, *reverse);
    if (!pos) {
        if (args.size() > 3 && !(args[3].isBlank() && !args[3].isRef()))
            return args[3];
        return Value::error(ErrorCode::NA);
    }
    // The matching row (or column) of the return table; a reference stays one.
    if (ret->isRef()) {
        Area a = ret->area;
        if (column)
            a.rowFirst = a.rowLast = ret->area.rowFirst + *pos;
        else
            a.colFirst = a.colLast = ret->area.colFirst + *pos;
        return Value::ref(a);
    }
    auto out = std::make_shared<Array>();
    out->rows = column ? 1 : ret->rows;
    out->cols = column ? ret->cols : 1;
    for (uint32_t k = 0; k < (column ? ret->cols : ret->rows); ++k)
        out->cells.push_back(column ? ret->at(ctx, *pos, k) : ret->at(ctx, k, *pos));
    return Value::array(out);
}

// LOOKUP(key, vector, [result]) or LOOKUP(key, array): approximate, over sorted data.
Value fnLookup(std::span<const Value> args, Context& ctx)
{
    const Value key = lookupKey(args[0], ctx);
    if (key.isError())
        return key;
    auto t = tableOf(args[1]);
    if (!t)
        return Value::error(ErrorCode::Value);
    if (args.size() == 2) {
        // In a table, search the first row when it is wider than tall, else the first column,
        // and give the last row / column.
        const bool column = t->rows >= t->cols;
        const auto pos = sortedFind(ctx, *t, column, 0, key, false);
        if (!pos)
            return Value::error(ErrorCode::NA);
        return column ? t->at(ctx, *pos, t->cols - 1) : t->at(ctx, t->rows - 1, *pos);
    }
    if (t->rows != 1 && t->cols != 1)
        return Value::error(ErrorCode::NA);
    auto r = tableOf(args[2]);
    if (!r || (r->rows != 1 && r->cols != 1))
        return Value::error(ErrorCode::Value);
    const auto pos = sortedFind(ctx, *t, t->cols == 1, 0, key, false);
    if (!pos)
        return Value::error(ErrorCode::NA);
    if (r->cols == 1)
        return *pos < r->rows || r->isRef() ? (r->isRef() ? ctx.cell(r->area.sheetFirst, r->area.rowFirst + *pos, r->area.colFirst) : r->at(ctx, *pos, 0)) : Value::error(ErrorCode::NA);
    return *pos < r->cols || r->isRef() ? (r->isRef() ? ctx.cell(r->area.sheetFirst, r->area.rowFirst, r->area.colFirst + *pos) : r->at(ctx, 0, *pos)) : Value::error(ErrorCode::NA);
}

// INDEX(table, row, [col], [area]): a cell, or a whole row / column for 0; references stay
// references.
Value fnIndex(std::span<const Value> args, Context& ctx)
{
    Value source = args[0];
    if (source.isRef() && source.areas().size() > 1) {
        double areaNum = 1;
        if (args.size() > 3) {
            const auto n = toNumber(ctx.scalar(args[3]), ctx.date1904());
            if (n.error)
                return Value::error(*n.error);
            areaNum = std::trunc(n.value);
        }
        if (areaNum < 1 || areaNum > double(source.areas().size()))
            return Value::error(ErrorCode::Ref);
        source = Value::ref(source.areas()[size_t(areaNum) - 1]);
    }
    std::shared_ptr<Array> holder;
    auto t = tableOf(source);
    if (!t) {
        if (source.isError())
            return source;
        t = scalarTable(source, holder);
    }
    auto arg = [&](size_t i, double& out) -> std::optional<ErrorCode> {
        out = 0;
        if (args.size() <= i || args[i].isBlank())
            return std::nullopt;
        const auto n = toNumber(ctx.scalar(args[i]), ctx.date1904());
        if (n.error)
            return n.error;
        out = std::trunc(n.value);
        return std::nullopt;
    };
    double row, col;
    if (auto e = arg(1, row))
        return Value::error(*e);
    if (auto e = arg(2, col))
        return Value::error(*e);
    // A single row or column takes one index for its length.
    if (args.size() <= 2 || args[2].isBlank()) {
        if (t->rows == 1 && t->cols > 1) {
            col = row;
            row = 1;
        }
    }
    if (row < 0 || col < 0 || row > double(t->rows) || col > double(t->cols))
        return Value::error(ErrorCode::Ref);
    if (t->isRef()) {
        Area a = t->area;
        if (row > 0)
            a.rowFirst = a.rowLast = t->area.rowFirst + uint32_t(row) - 1;
        if (col > 0)
            a.colFirst = a.colLast = t->area.colFirst + uint32_t(col) - 1;
        return Value::ref(a);
    }
    if (row > 0 && col > 0)
        return t->at(ctx, uint32_t(row) - 1, uint32_t(col) - 1);
    if (row == 0 && col == 0)
        return Value::array(std::make_shared<Array>(*t->array));
    auto out = std::make_shared<Array>();
    if (row > 0) {
        out->rows = 1;
        out->cols = t->cols;
        for (uint32_t c = 0; c < t->cols; ++c)
            out->cells.push_back(t->at(ctx, uint32_t(row) - 1, c));
    } else {
        out->rows = t->rows;
        out->cols = 1;
        for (uint32_t r = 0; r < t->rows; ++r)
            out->cells.push_back(t->at(ctx, r, uint32_t(col) - 1));
    }
    return Value::array(out);
}

Value fnRow(std::span<const Value> args, Context& ctx)
{
    if (args.empty() || (args[0].isBlank() && !args[0].isRef()))
        return Value::number(double(ctx.currentRow()) + 1);
    if (!args[0].isRef())
        return args[0].isError() ? args[0] : Value::error(ErrorCode::Value);
    return Value::number(double(args[0].areas()[0].rowFirst) + 1);
}

Value fnColumn(std::span<const Value> args, Context& ctx)
{
    if (args.empty() || (args[0].isBlank() && !args[0].isRef()))
        return Value::number(double(ctx.currentCol()) + 1);
    if (!args[0].isRef())
        return args[0].isError() ? args[0] : Value::error(ErrorCode::Value);
    return Value::number(double(args[0].areas()[0].colFirst) + 1);
}

Value fnRows(std::span<const Value> args, Context&)
{
    if (args[0].isError())
        return args[0];
    if (args[0].isRef())
        return args[0].areas().size() == 1 ? Value::number(args[0].areas()[0].rows()) : Value::error(ErrorCode::Ref);
    return Value::number(args[0].isArray() ? args[0].asArray().rows : 1);
}

Value fnColumns(std::span<const Value> args, Context&)
{
    if (args[0].isError())
        return args[0];
    if (args[0].isRef())
        return args[0].areas().size() == 1 ? Value::number(args[0].areas()[0].cols()) : Value::error(ErrorCode::Ref);
    return Value::number(args[0].isArray() ? args[0].asArray().cols : 1);
}

// OFFSET(ref, rows, cols, [height], [width]): a reference moved and resized; #REF! when it
// leaves the sheet.
Value fnOffset(std::span<const Value> args, Context& ctx)
{
    if (args[0].isError())
        return args[0];
    if (!args[0].isRef() || args[0].areas().size() != 1)
        return Value::error(ErrorCode::Value);
    const Area& base = args[0].areas()[0];
    double n[4] = {0, 0, double(base.rows()), double(base.cols())};
    for (size_t i = 1; i < args.size() && i < 5; ++i) {
        if (args[i].isBlank() && !args[i].isRef())
            continue;
        const auto v = toNumber(ctx.scalar(args[i]), ctx.date1904());
        if (v.error)
            return Value::error(*v.error);
        n[i - 1] = std::trunc(v.value);
    }
    if (n[2] == 0 || n[3] == 0)
        return Value::error(ErrorCode::Ref);
    double r1 = double(base.rowFirst) + n[0], c1 = double(base.colFirst) + n[1];
    double r2 = r1 + (n[2] > 0 ? n[2] - 1 : n[2] + 1), c2 = c1 + (n[3] > 0 ? n[3] - 1 : n[3] + 1);
    if (r1 > r2)
        std::swap(r1, r2);
    if (c1 > c2)
        std::swap(c1, c2);
    if (r1 < 0 || c1 < 0 || r2 >= kRows || c2 >= kCols)
        return Value::error(ErrorCode::Ref);
    return Value::ref(Area{base.sheetFirst, base.sheetLast, uint32_t(r1), uint32_t(c1), uint32_t(r2), uint32_t(c2)});
}

// INDIRECT(text, [a1=TRUE]): the reference the text names (A1 style; R1C1 is not read).
Value fnIndirect(std::span<const Value> args, Context& ctx)
{
    const Value t = ctx.scalar(args[0]);
    if (t.isError())
        return t;
    if (args.size() > 1 && !args[1].isBlank()) {
        const auto a1 = toBool(ctx.scalar(args[1]));
        if (a1.error)
            return Value::error(*a1.error);
        if (!a1.value)
            return Value::error(ErrorCode::Ref);
    }
    const std::string text = toText(t);
    if (text.empty() || text.size() > 255)
        return Value::error(ErrorCode::Ref);
    const auto parsed = parseA1(text, ctx.currentSheet(), ctx.currentRow(), ctx.currentCol(),
                                [&](std::string_view name) { return ctx.sheetByName(name); });
    if (!parsed.formula || parsed.formula->tokens.size() != 1)
        return Value::error(ErrorCode::Ref);
    const Token& tok = parsed.formula->tokens[0];
    if (tok.op == Op::Name) {
        const Value v = ctx.definedName(parsed.formula->texts[tok.index]);
        return v.isRef() ? v : Value::error(ErrorCode::Ref);
    }
    if (tok.op != Op::Ref)
        return Value::error(ErrorCode::Ref);
    auto coord = [](int32_t v, bool rel, uint32_t base) { return rel ? int64_t(base) + v : int64_t(v); };
    Area a;
    a.sheetFirst = (tok.flags & SheetGiven) ? tok.sheet1 : ctx.currentSheet();
    a.sheetLast = (tok.flags & SheetGiven) ? tok.sheet2 : ctx.currentSheet();
    a.rowFirst = uint32_t(coord(tok.row1, tok.flags & RowFirstRel, ctx.currentRow()));
    a.colFirst = uint32_t(coord(tok.col1, tok.flags & ColFirstRel, ctx.currentCol()));
    a.rowLast = uint32_t(coord(tok.row2, tok.flags & RowLastRel, ctx.currentRow()));
    a.colLast = uint32_t(coord(tok.col2, tok.flags & ColLastRel, ctx.currentCol()));
    if (a.rowFirst > a.rowLast)
        std::swap(a.rowFirst, a.rowLast);
    if (a.colFirst > a.colLast)
        std::swap(a.colFirst, a.colLast);
    return Value::ref(a);
}

// TRANSPOSE(array): rows become columns.
Value fnTranspose(std::span<const Value> args, Context& ctx)
{
    const Value a = args[0].isRef() ? refToArray(args[0], ctx) : args[0];
    if (!a.isArray())
        return a;
    const Array& in = a.asArray();
    auto out = std::make_shared<Array>();
    out->rows = in.cols;
    out->cols = in.rows;
    out->cells.reserve(in.cells.size());
    for (uint32_t r = 0; r < out->rows; ++r)
        for (uint32_t c = 0; c < out->cols; ++c)
            out->cells.push_back(in.at(c, r));
    return Value::array(out);
}

constexpr FunctionInfo kLookup[] = {
    {"TRANSPOSE", 1, 1, ArgMode::Values, false, fnTranspose, true},
    {"VLOOKUP", 3, 4, ArgMode::Values, false, fnVlookup},
    {"HLOOKUP", 3, 4, ArgMode::Values, false, fnHlookup},
    {"XLOOKUP", 3, 6, ArgMode::Values, false, fnXlookup},
    {"LOOKUP", 2, 3, ArgMode::Values, false, fnLookup},
    {"INDEX", 2, 4, ArgMode::Values, false, fnIndex},
    {"MATCH", 2, 3, ArgMode::Values, false, fnMatch},
    {"XMATCH", 2, 4, ArgMode::Values, false, fnXmatch},
    {"ROW", 0, 1, ArgMode::Values, false, fnRow},
    {"COLUMN", 0, 1, ArgMode::Values, false, fnColumn},
    {"ROWS", 1, 1, ArgMode::Values, false, fnRows},
    {"COLUMNS", 1, 1, ArgMode::Values, false, fnColumns},
    {"OFFSET", 3, 5, ArgMode::Values, true, fnOffset},
    {"INDIRECT", 1, 2, ArgMode::Values, true, fnIndirect},
};

}  // namespace

std::span<const FunctionInfo> lookupFunctions()
{
    return kLookup;
}

}  // namespace tabulon::formula
