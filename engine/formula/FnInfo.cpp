// Information functions: the IS- tests, NA, T and N.
#include <cmath>

#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

// IS- functions look at the argument itself: a reference to one cell is that cell.
Value argument(std::span<const Value> args, Context& ctx)
{
    return ctx.scalar(args[0]);
}

Value fnIsBlank(std::span<const Value> args, Context& ctx)
{
    // A reference to an empty cell; an omitted argument or empty text is not blank.
    if (!args[0].isRef())
        return Value::boolean(false);
    return Value::boolean(argument(args, ctx).isBlank());
}

Value fnIsNumber(std::span<const Value> args, Context& ctx)
{
    return Value::boolean(argument(args, ctx).isNumber());
}

Value fnIsText(std::span<const Value> args, Context& ctx)
{
    return Value::boolean(argument(args, ctx).isText());
}

Value fnIsLogical(std::span<const Value> args, Context& ctx)
{
    return Value::boolean(argument(args, ctx).isBool());
}

Value fnIsError(std::span<const Value> args, Context& ctx)
{
    return Value::boolean(argument(args, ctx).isError());
}

Value fnIsErr(std::span<const Value> args, Context& ctx)
{
    const Value v = argument(args, ctx);
    return Value::boolean(v.isError() && v.asError() != ErrorCode::NA);
}

Value fnIsNa(std::span<const Value> args, Context& ctx)
{
    const Value v = argument(args, ctx);
    return Value::boolean(v.isError() && v.asError() == ErrorCode::NA);
}

Value parity(std::span<const Value> args, Context& ctx, bool even)
{
    const Value v = argument(args, ctx);
    if (v.isBool())
        return Value::error(ErrorCode::Value);
    const auto n = toNumber(v, ctx.date1904());
    if (n.error)
        return Value::error(*n.error);
    const bool isEven = std::fmod(std::trunc(std::fabs(n.value)), 2) == 0;
    return Value::boolean(isEven == even);
}

Value fnIsEven(std::span<const Value> args, Context& ctx)
{
    return parity(args, ctx, true);
}

Value fnIsOdd(std::span<const Value> args, Context& ctx)
{
    return parity(args, ctx, false);
}

Value fnNa(std::span<const Value>, Context&)
{
    return Value::error(ErrorCode::NA);
}

Value fnT(std::span<const Value> args, Context& ctx)
{
    const Value v = argument(args, ctx);
    if (v.isError())
        return v;
    return v.isText() ? v : Value::text("");
}

Value fnN(std::span<const Value> args, Context& ctx)
{
    const Value v = argument(args, ctx);
    if (v.isError())
        return v;
    return Value::number(v.isNumber() || v.isBool() ? v.asNumber() : 0);
}

constexpr FunctionInfo kInfo[] = {
    {"ISBLANK", 1, 1, ArgMode::Values, false, fnIsBlank},
    {"ISNUMBER", 1, 1, ArgMode::Values, false, fnIsNumber},
    {"ISTEXT", 1, 1, ArgMode::Values, false, fnIsText},
    {"ISLOGICAL", 1, 1, ArgMode::Values, false, fnIsLogical},
    {"ISERROR", 1, 1, ArgMode::Values, false, fnIsError},
    {"ISERR", 1, 1, ArgMode::Values, false, fnIsErr},
    {"ISNA", 1, 1, ArgMode::Values, false, fnIsNa},
    {"ISEVEN", 1, 1, ArgMode::Values, false, fnIsEven},
    {"ISODD", 1, 1, ArgMode::Values, false, fnIsOdd},
    {"NA", 0, 0, ArgMode::Scalars, false, fnNa},
    {"T", 1, 1, ArgMode::Values, false, fnT},
    {"N", 1, 1, ArgMode::Values, false, fnN},
};

}  // namespace

std::span<const FunctionInfo> infoFunctions()
{
    return kInfo;
}

}  // namespace tabulon::formula
