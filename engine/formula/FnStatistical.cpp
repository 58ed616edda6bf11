// Statistical functions: averages, counts, extremes, order statistics, spread, and the
// criteria families (COUNTIF, SUMIF, AVERAGEIF, MINIFS, ... and their -S forms).
#include <algorithm>
#include <cmath>

#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

Value numbersOrError(std::span<const Value> args, Context& ctx, std::vector<double>& xs)
{
    if (auto e = collectNumbers(args, ctx, xs))
        return Value::error(*e);
    return Value();
}

Value fnAverage(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (Value e = numbersOrError(args, ctx, xs); e.isError())
        return e;
    if (xs.empty())
        return Value::error(ErrorCode::Div0);
    double s = 0;
    for (double x : xs)
        s += x;
    return Value::number(s / double(xs.size()));
}

Value fnMin(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (Value e = numbersOrError(args, ctx, xs); e.isError())
        return e;
    return Value::number(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end()));
}

Value fnMax(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (Value e = numbersOrError(args, ctx, xs); e.isError())
        return e;
    return Value::number(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end()));
}

Value fnMedian(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (Value e = numbersOrError(args, ctx, xs); e.isError())
        return e;
    if (xs.empty())
        return Value::error(ErrorCode::Num);
    std::sort(xs.begin(), xs.end());
    const size_t n = xs.size();
    return Value::number(n % 2 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2);
}

// COUNT: numbers in references and arrays; numbers, booleans and numeric text given
// directly. Errors are not counted and do not propagate.
Value fnCount(std::span<const Value> args, Context& ctx)
{
    double n = 0;
    for (const Value& arg : args)
        ctx.forEachValue(arg, [&](const Value& v, bool fromRef) {
            if (v.isNumber() || (!fromRef && v.isBool()) || (!fromRef && v.isText() && !toNumber(v, ctx.date1904()).error))
                ++n;
            return true;
        });
    return Value::number(n);
}

Value fnCountA(std::span<const Value> args, Context& ctx)
{
    double n = 0;
    for (const Value& arg : args) {
        if (arg.isBlank() && !arg.isRef())
            continue;  // an omitted argument
        ctx.forEachValue(arg, [&](const Value& v, bool) {
            if (!v.isBlank())
                ++n;
            return true;
        });
    }
    return Value::number(n);
}

Value fnCountBlank(std::span<const Value> args, Context& ctx)
{
    if (!args[0].isRef())
        return Value::error(ErrorCode::Value);
    double cells = 0, filled = 0;
    for (const Area& a : args[0].areas()) {
        cells += double(a.cellCount());
        ctx.forEachCell(a, [&](uint32_t, uint32_t, uint32_t, const Value& v) {
            // Empty text (from a formula) counts as blank.
            if (!v.isBlank() && !(v.isText() && v.asText().empty()))
                ++filled;
            return true;
        });
    }
    return Value::number(cells - filled);
}

// k-th largest / smallest.
Value orderStatistic(std::span<const Value> args, Context& ctx, bool largest)
{
    std::vector<double> xs;
    if (auto e = collectNumbers(args.subspan(0, 1), ctx, xs))
        return Value::error(*e);
    const Value kv = ctx.scalar(args[1]);
    const auto k = toNumber(kv, ctx.date1904());
    if (k.error)
        return Value::error(*k.error);
    const double kk = std::ceil(k.value);
    if (xs.empty() || kk < 1 || kk > double(xs.size()))
        return Value::error(ErrorCode::Num);
    const size_t i = size_t(kk) - 1;
    if (largest)
        std::nth_element(xs.begin(), xs.begin() + ptrdiff_t(i), xs.end(), std::greater<double>());
    else
        std::nth_element(xs.begin(), xs.begin() + ptrdiff_t(i), xs.end());
    return Value::number(xs[i]);
}

Value fnLarge(std::span<const Value> args, Context& ctx)
{
    return orderStatistic(args, ctx, true);
}

Value fnSmall(std::span<const Value> args, Context& ctx)
{
    return orderStatistic(args, ctx, false);
}

// RANK(number, ref, [order]): 1 for the largest (order 0) or smallest (order non-zero);
// ties share the best rank.
Value fnRank(std::span<const Value> args, Context& ctx)
{
    const Value xv = ctx.scalar(args[0]);
    const auto x = toNumber(xv, ctx.date1904());
    if (x.error)
        return Value::error(*x.error);
    if (!args[1].isRef())
        return Value::error(ErrorCode::Value);
    bool ascending = false;
    if (args.size() > 2) {
        const auto o = toNumber(ctx.scalar(args[2]), ctx.date1904());
        if (o.error)
            return Value::error(*o.error);
        ascending = o.value != 0;
    }
    double better = 0;
    bool found = false;
    for (const Area& a : args[1].areas())
        ctx.forEachCell(a, [&](uint32_t, uint32_t, uint32_t, const Value& v) {
            if (!v.isNumber())
                return true;
            if (v.asNumber() == x.value)
                found = true;
            if (ascending ? v.asNumber() < x.value : v.asNumber() > x.value)
                ++better;
            return true;
        });
    return found ? Value::number(better + 1) : Value::error(ErrorCode::NA);
}

Value variance(std::span<const Value> args, Context& ctx, bool sample, bool root)
{
    std::vector<double> xs;
    if (Value e = numbersOrError(args, ctx, xs); e.isError())
        return e;
    const size_t n = xs.size();
    if (n == 0 || (sample && n < 2))
        return Value::error(ErrorCode::Div0);
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= double(n);
    double ss = 0;
    for (double x : xs)
        ss += (x - mean) * (x - mean);
    const double v = ss / double(sample ? n - 1 : n);
    return Value::number(root ? std::sqrt(v) : v);
}

Value fnStdev(std::span<const Value> args, Context& ctx)
{
    return variance(args, ctx, true, true);
}

Value fnStdevP(std::span<const Value> args, Context& ctx)
{
    return variance(args, ctx, false, true);
}

Value fnVar(std::span<const Value> args, Context& ctx)
{
    return variance(args, ctx, true, false);
}

Value fnVarP(std::span<const Value> args, Context& ctx)
{
    return variance(args, ctx, false, false);
}

// ---- criteria ----

// The cells of a criteria range or value range in row-major order, as a grid of the
// range's shape (empty cells blank). Ranges are sized by their first area.
struct Grid {
    uint32_t sheet = 0, row = 0, col = 0, rows = 0, cols = 0;
    const Array* array = nullptr;
};

std::optional<Grid> gridOf(const Value& v)
{
    Grid g;
    if (v.isRef()) {
        if (v.areas().size() != 1)
            return std::nullopt;
        const Area& a = v.areas()[0];
        g.sheet = a.sheetFirst;
        g.row = a.rowFirst;
        g.col = a.colFirst;
        g.rows = a.rows();
        g.cols = a.cols();
        return g;
    }
    if (v.isArray()) {
        g.array = &v.asArray();
        g.rows = g.array->rows;
        g.cols = g.array->cols;
        return g;
    }
    return std::nullopt;
}

// Runs `visit(offsetRow, offsetCol, value)` over the cells of the first criteria range that
// meet every criterion. Pairs are (range, criterion); all ranges must have the first's shape.
template <typename Visit>
std::optional<ErrorCode> forMatches(std::span<const Value> pairs, Context& ctx, Visit visit)
{
    std::vector<Grid> grids;
    std::vector<Criterion> criteria;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
        auto g = gridOf(pairs[i]);
        if (!g)
            return ErrorCode::Value;
        if (!grids.empty() && (g->rows != grids[0].rows || g->cols != grids[0].cols))
            return ErrorCode::Value;
        grids.push_back(*g);
        Value c = ctx.scalar(pairs[i + 1]);
        criteria.emplace_back(c, ctx.date1904());
    }
    if (grids.empty())
        return ErrorCode::Value;
    const Grid& first = grids[0];
    auto valueAt = [&](const Grid& g, uint32_t r, uint32_t c) -> Value {
        return g.array ? g.array->at(r, c) : ctx.cell(g.sheet, g.row + r, g.col + c);
    };
    if (first.array) {
        for (uint32_t r = 0; r < first.rows; ++r)
            for (uint32_t c = 0; c < first.cols; ++c) {
                bool ok = true;
                for (size_t k = 0; k < grids.size() && ok; ++k)
                    ok = criteria[k].matches(valueAt(grids[k], r, c));
                if (ok)
                    visit(r, c);
            }
        return std::nullopt;
    }
    // Criteria can match empty cells ("", "<>x"); visit those only when needed, else only
    // the cells present (whole-column ranges stay cheap).
    const bool blanksMatch = criteria[0].matches(Value());
    if (blanksMatch) {
        if (uint64_t(first.rows) * first.cols > (uint64_t(1) << 22))
            return std::nullopt;  // would visit millions of empty cells: counted as none
        for (uint32_t r = 0; r < first.rows; ++r)
            for (uint32_t c = 0; c < first.cols; ++c) {
                bool ok = true;
                for (size_t k = 0; k < grids.size() && ok; ++k)
                    ok = criteria[k].matches(valueAt(grids[k], r, c));
                if (ok)
                    visit(r, c);
            }
        return std::nullopt;
    }
    Area a{first.sheet, first.sheet, first.row, first.col, first.row + first.rows - 1, first.col + first.cols - 1};
    ctx.forEachCell(a, [&](uint32_t, uint32_t row, uint32_t col, const Value& v) {
        if (!criteria[0].matches(v))
            return true;
        const uint32_t r = row - first.row, c = col - first.col;
        for (size_t k = 1; k < grids.size(); ++k)
            if (!criteria[k].matches(valueAt(grids[k], r, c)))
                return true;
        visit(r, c);
        return true;
    });
    return std::nullopt;
}

// The value range of SUMIF/AVERAGEIF: sized like the criteria range, from its top-left.
Value valueAtOffset(const Value& range, uint32_t r, uint32_t c, Context& ctx)
{
    if (range.isArray()) {
        const Array& a = range.asArray();
        return r < a.rows && c < a.cols ? a.at(r, c) : Value();
    }
    const Area& a = range.areas()[0];
    return ctx.cell(a.sheetFirst, a.rowFirst + r, a.colFirst + c);
}

enum class Fold { Count, Sum, Average, Min, Max };

Value foldMatches(Fold fold, const Value* valueRange, std::span<const Value> pairs, Context& ctx)
{
    double count = 0, sum = 0, extreme = 0;
    bool any = false;
    std::optional<ErrorCode> error;
    if (valueRange && !valueRange->isRef() && !valueRange->isArray())
        return Value::error(ErrorCode::Value);
    auto e = forMatches(pairs, ctx, [&](uint32_t r, uint32_t c) {
        if (fold == Fold::Count) {
            ++count;
            return;
        }
        const Value v = valueAtOffset(*valueRange, r, c, ctx);
        if (v.isError()) {
            if (!error)
                error = v.asError();
            return;
        }
        if (!v.isNumber())
            return;
        ++count;
        sum += v.asNumber();
        if (!any || (fold == Fold::Min ? v.asNumber() < extreme : v.asNumber() > extreme))
            extreme = v.asNumber();
        any = true;
    });
    if (e)
        return Value::error(*e);
    if (error)
        return Value::error(*error);
    switch (fold) {
    case Fold::Count: return Value::number(count);
    case Fold::Sum: return Value::number(sum);
    case Fold::Average: return count ? Value::number(sum / count) : Value::error(ErrorCode::Div0);
    default: return Value::number(any ? extreme : 0);
    }
}

Value fnCountIf(std::span<const Value> args, Context& ctx)
{
    // A plain value counted in one column or row: answered from the evaluator's index.
    if (args[0].isRef() && args[0].areas().size() == 1) {
        const Criterion c(ctx.scalar(args[1]), ctx.date1904());
        if (const Value* v = c.plainEquality(); v && !v->isText())
            return Value::number(double(ctx.countEqual(args[0].areas()[0], *v)));
    }
    return foldMatches(Fold::Count, nullptr, args, ctx);
}

Value fnCountIfs(std::span<const Value> args, Context& ctx)
{
    if (args.size() % 2)
        return Value::error(ErrorCode::Value);
    return foldMatches(Fold::Count, nullptr, args, ctx);
}

// SUMIF(range, criterion, [sum_range]) / AVERAGEIF: the value range defaults to the range.
Value fnSumIf(std::span<const Value> args, Context& ctx)
{
    return foldMatches(Fold::Sum, args.size() > 2 && !args[2].isBlank() ? &args[2] : &args[0], args.subspan(0, 2), ctx);
}

Value fnAverageIf(std::span<const Value> args, Context& ctx)
{
    return foldMatches(Fold::Average, args.size() > 2 && !args[2].isBlank() ? &args[2] : &args[0], args.subspan(0, 2), ctx);
}

// SUMIFS(sum_range, range1, criterion1, ...) and kin: the value range comes first.
Value ifsFold(Fold fold, std::span<const Value> args, Context& ctx)
{
    if (args.size() % 2 == 0)
        return Value::error(ErrorCode::Value);
    auto values = gridOf(args[0]);
    auto firstRange = gridOf(args[1]);
    if (!values || !firstRange || values->rows != firstRange->rows || values->cols != firstRange->cols)
        return Value::error(ErrorCode::Value);
    return foldMatches(fold, &args[0], args.subspan(1), ctx);
}

Value fnSumIfs(std::span<const Value> args, Context& ctx)
{
    return ifsFold(Fold::Sum, args, ctx);
}

Value fnAverageIfs(std::span<const Value> args, Context& ctx)
{
    return ifsFold(Fold::Average, args, ctx);
}

Value fnMinIfs(std::span<const Value> args, Context& ctx)
{
    return ifsFold(Fold::Min, args, ctx);
}

Value fnMaxIfs(std::span<const Value> args, Context& ctx)
{
    return ifsFold(Fold::Max, args, ctx);
}

constexpr FunctionInfo kStatistical[] = {
    {"AVERAGE", 1, 255, ArgMode::Values, false, fnAverage},
    {"MIN", 1, 255, ArgMode::Values, false, fnMin},
    {"MAX", 1, 255, ArgMode::Values, false, fnMax},
    {"MEDIAN", 1, 255, ArgMode::Values, false, fnMedian},
    {"COUNT", 1, 255, ArgMode::Values, false, fnCount},
    {"COUNTA", 1, 255, ArgMode::Values, false, fnCountA},
    {"COUNTBLANK", 1, 1, ArgMode::Values, false, fnCountBlank},
    {"LARGE", 2, 2, ArgMode::Values, false, fnLarge},
    {"SMALL", 2, 2, ArgMode::Values, false, fnSmall},
    {"RANK", 2, 3, ArgMode::Values, false, fnRank},
    {"STDEV", 1, 255, ArgMode::Values, false, fnStdev},
    {"STDEVP", 1, 255, ArgMode::Values, false, fnStdevP},
    {"VAR", 1, 255, ArgMode::Values, false, fnVar},
    {"VARP", 1, 255, ArgMode::Values, false, fnVarP},
    {"COUNTIF", 2, 2, ArgMode::Values, false, fnCountIf},
    {"COUNTIFS", 2, 254, ArgMode::Values, false, fnCountIfs},
    {"SUMIF", 2, 3, ArgMode::Values, false, fnSumIf},
    {"SUMIFS", 3, 255, ArgMode::Values, false, fnSumIfs},
    {"AVERAGEIF", 2, 3, ArgMode::Values, false, fnAverageIf},
    {"AVERAGEIFS", 3, 255, ArgMode::Values, false, fnAverageIfs},
    {"MINIFS", 3, 255, ArgMode::Values, false, fnMinIfs},
    {"MAXIFS", 3, 255, ArgMode::Values, false, fnMaxIfs},
};

}  // namespace

std::span<const FunctionInfo> statisticalFunctions()
{
    return kStatistical;
}

}  // namespace tabulon::formula
