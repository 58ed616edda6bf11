#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "NumFmt.h"

// Counts every allocation of this test program, so the rendering loop below can show it
// makes none once the output buffer has room.
static std::atomic<long> g_allocations{0};

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace tabulon::numfmt;

TEST(NumFmtAllocation, HotPathDoesNotAllocate)
{
    const char* codes[] = {"General", "0", "#,##0.00", "0.0%", "0.00E+00", "yyyy-mm-dd hh:mm", "[h]:mm:ss.00",
                           "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", "m/d/yyyy h:mm AM/PM"};
    const double values[] = {0, -0.0, 1, -1, 1234.5678, -0.004, 1e-10, 123456789012.0, 45000.75, 1e300, -2.5};
    std::string out;
    out.reserve(4096);
    const long atStart = g_allocations.load();
    (void)compile("0.00");
    ASSERT_GT(g_allocations.load(), atStart) << "allocation counting is not in effect";
    for (const char* code : codes) {
        const auto format = compile(code);
        const long before = g_allocations.load();
        for (double v : values) {
            out.clear();
            formatNumber(*format, v, false, out);
            formatNumber(*format, v, true, out);
        }
        EXPECT_EQ(g_allocations.load(), before) << code;
    }
}
