// Financial functions over the usual annuity equation
//   pv * (1 + r)^n + pmt * (1 + r * type) * ((1 + r)^n - 1) / r + fv = 0
#include <cmath>

#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

#define NUMBER_ARG(name, index)                      \
    const auto name##Arg = number(args[index], ctx); \
    if (name##Arg.error)                             \
        return Value::error(*name##Arg.error);       \
    const double name = name##Arg.value

// Optional numeric argument with a default.
#define OPTIONAL_ARG(name, index, fallback)              \
    double name = fallback;                              \
    if (args.size() > index && !args[index].isBlank()) { \
        NUMBER_ARG(name##Given, index);                  \
        name = name##Given;                              \
    }

Value result(double v)
{
    return std::isfinite(v) ? Value::number(v) : Value::error(ErrorCode::Num);
}

Value fnPmt(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(rate, 0);
    NUMBER_ARG(nper, 1);
    NUMBER_ARG(pv, 2);
    OPTIONAL_ARG(fv, 3, 0);
    OPTIONAL_ARG(type, 4, 0);
    if (nper == 0)
        return Value::error(ErrorCode::Num);
    if (rate == 0)
        return result(-(pv + fv) / nper);
    const double g = std::pow(1 + rate, nper);
    return result(-(pv * g + fv) * rate / ((1 + rate * (type != 0)) * (g - 1)));
}

Value fnFv(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(rate, 0);
    NUMBER_ARG(nper, 1);
    NUMBER_ARG(pmt, 2);
    OPTIONAL_ARG(pv, 3, 0);
    OPTIONAL_ARG(type, 4, 0);
    if (rate == 0)
        return result(-(pv + pmt * nper));
    const double g = std::pow(1 + rate, nper);
    return result(-(pv * g + pmt * (1 + rate * (type != 0)) * (g - 1) / rate));
}

Value fnPv(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(rate, 0);
    NUMBER_ARG(nper, 1);
    NUMBER_ARG(pmt, 2);
    OPTIONAL_ARG(fv, 3, 0);
    OPTIONAL_ARG(type, 4, 0);
    if (rate == 0)
        return result(-(fv + pmt * nper));
    const double g = std::pow(1 + rate, nper);
    return result(-(fv + pmt * (1 + rate * (type != 0)) * (g - 1) / rate) / g);
}

// NPV(rate, value1, ...): values at the end of periods 1, 2, ...; numbers only from ranges.
Value fnNpv(std::span<const Value> args, Context& ctx)
{
    const auto rate = toNumber(ctx.scalar(args[0]), ctx.date1904());
    if (rate.error)
        return Value::error(*rate.error);
    std::vector<double> xs;
    if (auto e = collectNumbers(args.subspan(1), ctx, xs))
        return Value::error(*e);
    if (rate.value == -1)
        return Value::error(ErrorCode::Div0);
    double npv = 0, factor = 1;
    for (double x : xs) {
        factor *= 1 + rate.value;
        npv += x / factor;
    }
    return result(npv);
}

// Newton's method. The application gives #NUM! when 20 iterations do not settle within
// 0.00001 %; more are allowed here: where both converge the answer is the same.
template <typename F, typename D>
std::optional<double> solve(double guess, F f, D df)
{
    double x = guess;
    for (int i = 0; i < 100; ++i) {
        const double y = f(x), d = df(x);
        if (!std::isfinite(y) || !std::isfinite(d) || d == 0)
            return std::nullopt;
        const double next = x - y / d;
        if (std::fabs(next - x) < 1e-10)
            return next;
        x = next;
        if (x <= -1)
            x = -0.999999;
    }
    return std::nullopt;
}

Value fnIrr(std::span<const Value> args, Context& ctx)
{
    std::vector<double> xs;
    if (auto e = collectNumbers(args.subspan(0, 1), ctx, xs))
        return Value::error(*e);
    double guess = 0.1;
    if (args.size() > 1 && !args[1].isBlank()) {
        const auto g = toNumber(ctx.scalar(args[1]), ctx.date1904());
        if (g.error)
            return Value::error(*g.error);
        guess = g.value;
    }
    bool pos = false, neg = false;
    for (double x : xs) {
        pos = pos || x > 0;
        neg = neg || x < 0;
    }
    if (!pos || !neg)
        return Value::error(ErrorCode::Num);
    auto f = [&](double r) {
        double s = 0, d = 1;
        for (double x : xs) {
            s += x / d;
            d *= 1 + r;
        }
        return s;
    };
    auto df = [&](double r) {
        double s = 0;
        for (size_t i = 1; i < xs.size(); ++i)
            s -= double(i) * xs[i] / std::pow(1 + r, double(i) + 1);
        return s;
    };
    auto r = solve(guess, f, df);
    return r ? Value::number(*r) : Value::error(ErrorCode::Num);
}

Value fnRate(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(nper, 0);
    NUMBER_ARG(pmt, 1);
    NUMBER_ARG(pv, 2);
    OPTIONAL_ARG(fv, 3, 0);
    OPTIONAL_ARG(type, 4, 0);
    OPTIONAL_ARG(guess, 5, 0.1);
    if (nper <= 0)
        return Value::error(ErrorCode::Num);
    const double t = type != 0;
    auto f = [&](double r) {
        if (std::fabs(r) < 1e-12)
            return pv + pmt * nper + fv;
        const double g = std::pow(1 + r, nper);
        return pv * g + pmt * (1 + r * t) * (g - 1) / r + fv;
    };
    auto df = [&](double r) {
        const double h = 1e-7 * std::max(1.0, std::fabs(r));
        return (f(r + h) - f(r - h)) / (2 * h);
    };
    auto r = solve(guess, f, df);
    return r ? Value::number(*r) : Value::error(ErrorCode::Num);
}

#undef OPTIONAL_ARG
#undef NUMBER_ARG

constexpr FunctionInfo kFinancial[] = {
    {"PMT", 3, 5, ArgMode::Scalars, false, fnPmt},
    {"FV", 3, 5, ArgMode::Scalars, false, fnFv},
    {"PV", 3, 5, ArgMode::Scalars, false, fnPv},
    {"NPV", 2, 255, ArgMode::Values, false, fnNpv},
    {"IRR", 1, 2, ArgMode::Values, false, fnIrr},
    {"RATE", 3, 6, ArgMode::Scalars, false, fnRate},
};

}  // namespace

std::span<const FunctionInfo> financialFunctions()
{
    return kFinancial;
}

}  // namespace tabulon::formula
