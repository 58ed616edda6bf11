#include <gtest/gtest.h>

#include "core/SheetSelection.h"

using namespace tabulon;

TEST(SheetSelection, CacheKeepsToItsBounds)
{
    core::SheetSelection cache;
    for (auto [book, sheet] : {std::pair{501, 1}, {1, 5001}, {1, 0}})
        cache.set(book, sheet, "x", true);
    EXPECT_TRUE(!cache.isListed(501) && cache.name(1, 5001).empty());
    std::vector<core::SheetEntry> shown(5100, {"s", false});
    shown[4999] = {"last", true};
    cache.shownWorkbookIndex = 500;
    cache.set(500, 5000, "old", false);
    cache.saveSheetTicks(shown);
    EXPECT_EQ(cache.name(500, 5000), "last");
    EXPECT_TRUE(cache.ticked(500, 5000) && cache.name(500, 5001).empty());
    // Entries past a shorter list keep what they held.
    cache.saveSheetTicks({{"only", true}});
    EXPECT_EQ(cache.name(500, 2), "s");
}
