// Cost of rendering one cell through a compiled number format, the way the sheet writer
// calls it: one compiled code, a reused output string, a spread of values.
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "NumFmt.h"

namespace {

using tabulon::numfmt::compile;
using tabulon::numfmt::formatNumber;

// Typical cell values: integers, money amounts, ratios, dates with times.
constexpr std::array<double, 16> kValues = {
    1,       42,      1234.5,      -87.25,  0.1,          3.14159265358979, 1e-7,     123456789012.0,
    0.3333,  -0.004,  45000.5625,  99.99,   2.675,        1048576,          0.015625, 44927.75,
};

void renderCells(benchmark::State& state, const char* code)
{
    const auto format = compile(code);
    std::string out;
    out.reserve(256);
    size_t i = 0;
    for (auto _ : state) {
        out.clear();
        formatNumber(*format, kValues[i++ % kValues.size()], false, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void General(benchmark::State& state) { renderCells(state, "General"); }
void Thousands(benchmark::State& state) { renderCells(state, "#,##0.00"); }
void Percent(benchmark::State& state) { renderCells(state, "0.0%"); }
void DateTime(benchmark::State& state) { renderCells(state, "yyyy-mm-dd hh:mm"); }
void Accounting(benchmark::State& state)
{
    renderCells(state, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
}
void Fraction(benchmark::State& state) { renderCells(state, "# ?\?/?\?"); }

void Compile(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(compile("_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)"));
}

}  // namespace

BENCHMARK(General);
BENCHMARK(Thousands);
BENCHMARK(Percent);
BENCHMARK(DateTime);
BENCHMARK(Accounting);
BENCHMARK(Fraction);
BENCHMARK(Compile);

BENCHMARK_MAIN();
