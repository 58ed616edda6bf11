#include <gtest/gtest.h>

#include <chrono>

#include "core/ConvertCommand.h"

using namespace tabulon;

TEST(ConvertCommand, SummaryReadsWell)
{
    using namespace std::chrono_literals;
    const struct {
        core::BatchSummary summary;
        const char* text;
    } cases[] = {
        {{0, 0, 0, 0, 0, false, 10ms}, "Done: no workbook was ticked, 0:00"},
        {{1, 1, 1, 0, 1, false, 499ms}, "Done: 1 of 1 workbook converted (1 worksheet), 0 failed, 0:00"},
        {{4, 4, 3, 1, 7, false, 4400ms}, "Done: 3 of 4 workbooks converted (7 worksheets), 1 failed, 0:04"},
        {{4, 2, 1, 0, 3, true, 61500ms}, "Stopped at workbook 2 of 4: 1 converted (3 worksheets), 0 failed, 1:02"},
        {{9, 9, 9, 0, 90, false, 3723s}, "Done: 9 of 9 workbooks converted (90 worksheets), 0 failed, 1:02:03"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(core::summaryText(c.summary), c.text);
}
