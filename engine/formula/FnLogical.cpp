// Logical functions: IF and its kin, AND/OR/XOR/NOT, SWITCH, CHOOSE, TRUE, FALSE.
#include <cmath>
#include <memory>

#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

// IF(cond, then, [else]): the branches pass through as they are (references stay
// references, so SUM(IF(x, A1:A3, B1:B3)) works). An array condition picks element-wise.
Value fnIf(std::span<const Value> args, Context& ctx)
{
    const Value cond = args[0].isArray() || (args[0].isRef() && ctx.arrayMode()) ? args[0] : ctx.scalar(args[0]);
    auto pick = [&](const Value& c) -> Value {
        if (c.isError())
            return c;
        const auto b = toBool(c);
        if (b.error)
            return Value::error(*b.error);
        if (b.value)
            return args.size() > 1 && !args[1].isBlank() ? args[1] : (args.size() > 1 ? Value::number(0) : Value::boolean(true));
        return args.size() > 2 ? (args[2].isBlank() ? Value::number(0) : args[2]) : Value::boolean(false);
    };
    if (!cond.isArray() && !cond.isRef())
        return pick(cond);
    // Element-wise: build the array of conditions first.
    auto conds = std::make_shared<Array>();
    if (cond.isArray()) {
        *conds = cond.asArray();
    } else {
        const Area& a = cond.areas().front();
        conds->rows = a.rows();
        conds->cols = a.cols();
        conds->cells.resize(size_t(conds->rows) * conds->cols);
        for (uint32_t r = 0; r < conds->rows; ++r)
            for (uint32_t c = 0; c < conds->cols; ++c)
                conds->cells[size_t(r) * conds->cols + c] = ctx.cell(a.sheetFirst, a.rowFirst + r, a.colFirst + c);
    }
    auto out = std::make_shared<Array>();
    out->rows = conds->rows;
    out->cols = conds->cols;
    auto element = [&](const Value& branch, uint32_t r, uint32_t c) -> Value {
        if (branch.isArray()) {
            const Array& b = branch.asArray();
            return r < b.rows && c < b.cols ? b.at(r, c) : (b.rows == 1 && c < b.cols ? b.at(0, c) : b.cols == 1 && r < b.rows ? b.at(r, 0) : Value::error(ErrorCode::NA));
        }
        if (branch.isRef()) {
            const Area& a = branch.areas().front();
            if (a.rows() == 1 && a.cols() == 1)
                return ctx.cell(a.sheetFirst, a.rowFirst, a.colFirst);
            if (r < a.rows() && c < a.cols())
                return ctx.cell(a.sheetFirst, a.rowFirst + r, a.colFirst + c);
            return Value::error(ErrorCode::NA);
        }
        return branch;
    };
    for (uint32_t r = 0; r < out->rows; ++r)
        for (uint32_t c = 0; c < out->cols; ++c) {
            const Value& cv = conds->at(r, c);
            Value v;
            if (cv.isError()) {
                v = cv;
            } else if (auto b = toBool(cv); b.error) {
                v = Value::error(*b.error);
            } else if (b.value) {
                v = args.size() > 1 ? element(args[1], r, c) : Value::boolean(true);
            } else {
                v = args.size() > 2 ? element(args[2], r, c) : Value::boolean(false);
            }
            out->cells.push_back(v.isBlank() ? Value::number(0) : v);
        }
    return Value::array(out);
}

// IFS(cond1, value1, cond2, value2, ...): the value of the first true condition.
Value fnIfs(std::span<const Value> args, Context& ctx)
{
    if (args.size() % 2 != 0)
        return Value::error(ErrorCode::NA);
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        const Value c = ctx.scalar(args[i]);
        if (c.isError())
            return c;
        const auto b = toBool(c);
        if (b.error)
            return Value::error(*b.error);
        if (b.value)
            return args[i + 1].isBlank() ? Value::number(0) : args[i + 1];
    }
    return Value::error(ErrorCode::NA);
}

Value fnIfError(std::span<const Value> args, Context& ctx)
{
    const Value v = args[0].isRef() && !ctx.arrayMode() ? ctx.scalar(args[0]) : args[0];
    if (v.isError())
        return args[1].isBlank() ? Value::number(0) : args[1];
    if (v.isArray()) {
        auto out = std::make_shared<Array>(v.asArray());
        const Value fallback = ctx.scalar(args[1]);
        for (Value& e : out->cells)
            if (e.isError())
                e = fallback;
        return Value::array(out);
    }
    return v.isBlank() ? Value::number(0) : v;
}

Value fnIfNa(std::span<const Value> args, Context& ctx)
{
    const Value v = args[0].isRef() ? ctx.scalar(args[0]) : args[0];
    if (v.isError() && v.asError() == ErrorCode::NA)
        return args[1].isBlank() ? Value::number(0) : args[1];
    return v.isBlank() ? Value::number(0) : v;
}

// AND, OR, XOR over values and ranges: text and blanks in ranges are skipped; typed text
// that is not TRUE/FALSE is #VALUE!; no logical value at all is #VALUE!.
template <typename Combine>
Value logicalFold(std::span<const Value> args, Context& ctx, bool start, Combine combine)
{
    bool acc = start, any = false;
    std::optional<ErrorCode> error;
    for (const Value& arg : args) {
        ctx.forEachValue(arg, [&](const Value& v, bool fromRef) {
            if (v.isError()) {
                error = v.asError();
                return false;
            }
            if (v.isBlank() || (v.isText() && fromRef))
                return true;
            const auto b = toBool(v);
            if (b.error) {
                error = b.error;
                return false;
            }
            acc = combine(acc, b.value);
            any = true;
            return true;
        });
        if (error)
            return Value::error(*error);
    }
    return any ? Value::boolean(acc) : Value::error(ErrorCode::Value);
}

Value fnAnd(std::span<const Value> args, Context& ctx)
{
    return logicalFold(args, ctx, true, [](bool a, bool b) { return a && b; });
}

Value fnOr(std::span<const Value> args, Context& ctx)
{
    return logicalFold(args, ctx, false, [](bool a, bool b) { return a || b; });
}

Value fnXor(std::span<const Value> args, Context& ctx)
{
    return logicalFold(args, ctx, false, [](bool a, bool b) { return a != b; });
}

Value fnNot(std::span<const Value> args, Context&)
{
    const auto b = toBool(args[0]);
    return b.error ? Value::error(*b.error) : Value::boolean(!b.value);
}

Value fnTrue(std::span<const Value>, Context&)
{
    return Value::boolean(true);
}

Value fnFalse(std::span<const Value>, Context&)
{
    return Value::boolean(false);
}

// SWITCH(expr, value1, result1, ..., [default])
Value fnSwitch(std::span<const Value> args, Context& ctx)
{
    const Value subject = ctx.scalar(args[0]);
    if (subject.isError())
        return subject;
    size_t i = 1;
    for (; i + 1 < args.size(); i += 2) {
        const Value candidate = ctx.scalar(args[i]);
        if (candidate.isError())
            return candidate;
        if (candidate.type() == subject.type() && compareScalars(subject, candidate) == 0)
            return args[i + 1].isBlank() ? Value::number(0) : args[i + 1];
    }
    if (i < args.size())
        return args[i].isBlank() ? Value::number(0) : args[i];
    return Value::error(ErrorCode::NA);
}

// CHOOSE(index, v1, v2, ...): the chosen argument as it is (a reference stays one).
Value fnChoose(std::span<const Value> args, Context& ctx)
{
    const Value index = ctx.scalar(args[0]);
    const auto n = number(index, ctx);
    if (n.error)
        return Value::error(*n.error);
    const double k = std::floor(n.value);
    if (k < 1 || k >= double(args.size()))
        return Value::error(ErrorCode::Value);
    const Value& v = args[size_t(k)];
    return v.isBlank() ? Value::number(0) : v;
}

constexpr FunctionInfo kLogical[] = {
    {"IF", 1, 3, ArgMode::Values, false, fnIf},
    {"IFS", 2, 254, ArgMode::Values, false, fnIfs},
    {"IFERROR", 2, 2, ArgMode::Values, false, fnIfError},
    {"IFNA", 2, 2, ArgMode::Values, false, fnIfNa},
    {"AND", 1, 255, ArgMode::Values, false, fnAnd},
    {"OR", 1, 255, ArgMode::Values, false, fnOr},
    {"XOR", 1, 255, ArgMode::Values, false, fnXor},
    {"NOT", 1, 1, ArgMode::Scalars, false, fnNot},
    {"TRUE", 0, 0, ArgMode::Scalars, false, fnTrue},
    {"FALSE", 0, 0, ArgMode::Scalars, false, fnFalse},
    {"SWITCH", 3, 254, ArgMode::Values, false, fnSwitch},
    {"CHOOSE", 2, 255, ArgMode::Values, false, fnChoose},
};

}  // namespace

std::span<const FunctionInfo> logicalFunctions()
{
    return kLogical;
}

}  // namespace tabulon::formula
