#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "engine/HandOff.h"

namespace tabulon::engine {
namespace {

// Items arrive in order, each once, and the producer's error follows the last of them.
TEST(HandOff, DeliversEveryItemInOrderThenTheError)
{
    HandOff<std::vector<int>> handOff(2);
    std::thread producer([&] {
        std::vector<int> item;
        for (int i = 0; i < 1000; ++i) {
            item.assign(1, i);
            ASSERT_TRUE(handOff.push(item));
        }
        handOff.finish(std::make_exception_ptr(std::runtime_error("broken")));
    });
    std::vector<int> item, seen;
    try {
        while (handOff.pop(item))
            seen.push_back(item.at(0));
        ADD_FAILURE() << "the error was not passed on";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "broken");
    }
    producer.join();
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(seen[static_cast<size_t>(i)], i);
}

// A producer blocked on a full queue wakes up when the consumer stops, and every later
// push is refused; an unfailed end is a plain false.
TEST(HandOff, StopReleasesAWaitingProducer)
{
    HandOff<int> handOff(1);
    int refusedAt = -1;
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) {
            int item = i;
            if (!handOff.push(item)) {
                refusedAt = i;
                return;
            }
        }
    });
    int item = 0;
    ASSERT_TRUE(handOff.pop(item));
    EXPECT_EQ(item, 0);
    handOff.stop();
    producer.join();
    EXPECT_GE(refusedAt, 1);
    EXPECT_LE(refusedAt, 3);  // one waiting, one being pushed

    HandOff<int> finished(1);
    finished.finish();
    EXPECT_FALSE(finished.pop(item));
    EXPECT_FALSE(finished.pop(item));
}

}  // namespace
}  // namespace tabulon::engine
