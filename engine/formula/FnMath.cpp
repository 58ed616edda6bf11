// Math functions: sums and products, rounding, powers and logarithms, random numbers.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

Value result(double v)
{
    return std::isfinite(v) ? Value::number(v) : Value::error(ErrorCode::Num);
}

// Unpacks numeric scalar arguments or returns the first error; for the one- and two-argument
// math functions.
#define NUMBER_ARG(name, index)                                      \
    const auto name##Arg = number(args[index], ctx);                 \
    if (name##Arg.error)                                             \
        return Value::error(*name##Arg.error);                       \
    const double name = name##Arg.value

Value fnSum(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (auto e = collectNumbers(args, ctx, xs))
        return Value::error(*e);
    double s = 0;
    for (double x : xs)
        s += x;
    return result(s);
}

Value fnProduct(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (auto e = collectNumbers(args, ctx, xs))
        return Value::error(*e);
    if (xs.empty())
        return Value::number(0);
    double p = 1;
    for (double x : xs)
        p *= x;
    return result(p);
}

// SUMPRODUCT(a, b, ...): arrays of one size multiplied element-wise; anything but numbers
// counts as 0, errors propagate.
Value fnSumProduct(std::span<const Value> args, Context& ctx)
{
    std::vector<Value> arrays;
    uint32_t rows = 0, cols = 0;
    for (const Value& arg : args) {
        Value a = arg.isRef() ? refToArray(arg, ctx) : arg;
        if (a.isError())
            return a;
        if (!a.isArray()) {
            auto one = std::make_shared<Array>();
            one->rows = one->cols = 1;
            one->cells.push_back(a);
            a = Value::array(one);
        }
        if (arrays.empty()) {
            rows = a.asArray().rows;
            cols = a.asArray().cols;
        } else if (a.asArray().rows != rows || a.asArray().cols != cols) {
            return Value::error(ErrorCode::Value);
        }
        arrays.push_back(std::move(a));
    }
    double sum = 0;
    for (size_t i = 0; i < size_t(rows) * cols; ++i) {
        double p = 1;
        for (const Value& a : arrays) {
            const Value& e = a.asArray().cells[i];
            if (e.isError())
                return e;
            p *= e.isNumber() ? e.asNumber() : 0;
        }
        sum += p;
    }
    return result(sum);
}

Value fnAbs(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    return Value::number(std::fabs(x));
}

template <RoundMode mode>
Value fnRound(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    NUMBER_ARG(digits, 1);
    return result(roundDecimal(x, digits, mode));
}

Value fnInt(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    return Value::number(std::floor(x));
}

Value fnTrunc(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    double digits = 0;
    if (args.size() > 1) {
        NUMBER_ARG(d, 1);
        digits = d;
    }
    return result(roundDecimal(x, digits, RoundMode::Down));
}

Value fnMod(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(n, 0);
    NUMBER_ARG(d, 1);
    if (d == 0)
        return Value::error(ErrorCode::Div0);
    // The result takes the divisor's sign.
    return result(n - d * std::floor(n / d));
}

Value fnSign(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    return Value::number(x > 0 ? 1 : x < 0 ? -1 : 0);
}

Value fnSqrt(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    if (x < 0)
        return Value::error(ErrorCode::Num);
    return Value::number(std::sqrt(x));
}

Value fnPower(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    NUMBER_ARG(y, 1);
    if (x == 0 && y == 0)
        return Value::error(ErrorCode::Num);
    if (x == 0 && y < 0)
        return Value::error(ErrorCode::Div0);
    return result(std::pow(x, y));
}

Value fnExp(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    return result(std::exp(x));
}

Value fnLn(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    if (x <= 0)
        return Value::error(ErrorCode::Num);
    return Value::number(std::log(x));
}

Value fnLog10(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    if (x <= 0)
        return Value::error(ErrorCode::Num);
    return Value::number(std::log10(x));
}

Value fnLog(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    double base = 10;
    if (args.size() > 1) {
        NUMBER_ARG(b, 1);
        base = b;
    }
    if (x <= 0 || base <= 0)
        return Value::error(ErrorCode::Num);
    if (base == 1)
        return Value::error(ErrorCode::Div0);
    return result(std::log(x) / std::log(base));
}

Value fnPi(std::span<const Value>, Context&)
{
    return Value::number(std::numbers::pi);
}

// Multiples: CEILING(x, m) rounds away from zero for positive m, FLOOR towards zero;
// the signs of x and m must agree unless x is negative and m positive.
Value multipleOf(std::span<const Value> args, Context& ctx, bool up)
{
    NUMBER_ARG(x, 0);
    double m = x < 0 ? -1 : 1;
    if (args.size() > 1) {
        NUMBER_ARG(s, 1);
        m = s;
    }
    if (m == 0)
        return up ? Value::number(0) : Value::error(ErrorCode::Div0);
    if (x > 0 && m < 0)
        return Value::error(ErrorCode::Num);
    const double q = x / m;
    // Guard against binary noise (0.3 / 0.1 = 2.9999999999999996).
    const double nearest = std::round(q);
    double k;
    if (std::fabs(q - nearest) < 1e-12 * std::max(1.0, std::fabs(q)))
        k = nearest;
    else
        k = up ? std::ceil(q) : std::floor(q);
    return result(k * m);
}

Value fnCeiling(std::span<const Value> args, Context& ctx)
{
    return multipleOf(args, ctx, true);
}

Value fnFloor(std::span<const Value> args, Context& ctx)
{
    return multipleOf(args, ctx, false);
}

Value fnMround(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    NUMBER_ARG(m, 1);
    if (m == 0)
        return Value::number(0);
    if ((x > 0 && m < 0) || (x < 0 && m > 0))
        return Value::error(ErrorCode::Num);
    const double q = roundDecimal(x / m, 0, RoundMode::HalfAwayFromZero);
    return result(q * m);
}

Value fnRand(std::span<const Value>, Context& ctx)
{
    return Value::number(ctx.random());
}

Value fnRandBetween(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(lo, 0);
    NUMBER_ARG(hi, 1);
    const double a = std::ceil(lo), b = std::floor(hi);
    if (a > b)
        return Value::error(ErrorCode::Num);
    return Value::number(a + std::floor(ctx.random() * (b - a + 1)));
}

#undef NUMBER_ARG

constexpr FunctionInfo kMath[] = {
    {"SUM", 1, 255, ArgMode::Values, false, fnSum},
    {"PRODUCT", 1, 255, ArgMode::Values, false, fnProduct},
    {"SUMPRODUCT", 1, 255, ArgMode::Values, false, fnSumProduct, true},
    {"ABS", 1, 1, ArgMode::Scalars, false, fnAbs},
    {"ROUND", 2, 2, ArgMode::Scalars, false, fnRound<RoundMode::HalfAwayFromZero>},
    {"ROUNDUP", 2, 2, ArgMode::Scalars, false, fnRound<RoundMode::Up>},
    {"ROUNDDOWN", 2, 2, ArgMode::Scalars, false, fnRound<RoundMode::Down>},
    {"INT", 1, 1, ArgMode::Scalars, false, fnInt},
    {"TRUNC", 1, 2, ArgMode::Scalars, false, fnTrunc},
    {"MOD", 2, 2, ArgMode::Scalars, false, fnMod},
    {"SIGN", 1, 1, ArgMode::Scalars, false, fnSign},
    {"SQRT", 1, 1, ArgMode::Scalars, false, fnSqrt},
    {"POWER", 2, 2, ArgMode::Scalars, false, fnPower},
    {"EXP", 1, 1, ArgMode::Scalars, false, fnExp},
    {"LN", 1, 1, ArgMode::Scalars, false, fnLn},
    {"LOG", 1, 2, ArgMode::Scalars, false, fnLog},
    {"LOG10", 1, 1, ArgMode::Scalars, false, fnLog10},
    {"PI", 0, 0, ArgMode::Scalars, false, fnPi},
    {"CEILING", 1, 2, ArgMode::Scalars, false, fnCeiling},
    {"FLOOR", 1, 2, ArgMode::Scalars, false, fnFloor},
    {"MROUND", 2, 2, ArgMode::Scalars, false, fnMround},
    {"RAND", 0, 0, ArgMode::Scalars, true, fnRand},
    {"RANDBETWEEN", 2, 2, ArgMode::Scalars, true, fnRandBetween},
};

}  // namespace

std::span<const FunctionInfo> mathFunctions()
{
    return kMath;
}

}  // namespace tabulon::formula
