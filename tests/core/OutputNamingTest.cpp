#include <gtest/gtest.h>
#include <vector>

#include "core/OutputNaming.h"

using namespace tabulon;
using core::NamingMode;

namespace {

// Hands out fixed draws, in order.
class FixedRandom final : public core::RandomSource {
public:
    explicit FixedRandom(std::vector<float> draws) : m_draws(std::move(draws)) {}
    float draw() override { return m_draws.at(m_next++); }
    size_t used() const { return m_next; }

private:
    std::vector<float> m_draws;
    size_t m_next = 0;
};

constexpr int kSheet = static_cast<int>(NamingMode::SheetName);
constexpr int kBook = static_cast<int>(NamingMode::BookAndSheet);
constexpr int kNumber = static_cast<int>(NamingMode::RunningNumber);

}  // namespace

TEST(CsvBaseName, NamesAndFallbacks)
{
    // A first draw of 0.25 gives the fallback 250001, or the suffix 26.
    const struct { std::string_view book, sheet; int mode; std::string_view name; size_t draws; } cases[] = {
        {"Sales", "SALES", kSheet, "Sales_SALES", 0},
        {"Sales", "Summary", kSheet, "Summary", 0},
        {"Q1.2024", "Data", kBook, "Q1.2024_Data", 0},
        {"Book", "Data", -1, "Data", 0},
        {"Book", "Data", 7, "Data", 0},
        {"Book", "a:b", kSheet, "ab", 0},
        {"Book", "a:", kSheet, "a26", 1},
        {"Book", "<>", kSheet, "250001", 1},
        {"Book", "a", kSheet, "a", 0},
        {"Book", "Data|", kSheet, "Data", 0},
        {"Book", "\"q\"<>|:", kSheet, "q26", 1},
        {"Book", " lead", kSheet, "250001", 1},
        {" Book", "Data", kBook, "250001", 1},
        {"Book", "", kSheet, "250001", 1},
        {"Book", "x\\y?*[]\tä", kSheet, "x\\y?*[]\tä", 0},
        // A sheet name from a crafted file must not leave the folder.
        {"Book", "../../x", kSheet, "....x", 0},
        {"Book", "a/b", kSheet, "ab", 0},
        {"Book", std::string_view("a\0b", 3), kSheet, "ab", 0},
        {"Book", "/", kSheet, "250001", 1},
        {"Book", "é:", kSheet, "é26", 1},
    };
    for (const auto& c : cases) {
        FixedRandom random({0.25f, 0.5f});
        core::SheetCounter counter;
        EXPECT_EQ(core::csvBaseName(c.book, c.sheet, c.mode, counter, random), c.name) << c.sheet;
        EXPECT_EQ(random.used(), c.draws) << c.sheet;
    }
}

TEST(CsvBaseName, RunningNumbers)
{
    FixedRandom random({});
    core::SheetCounter counter;
    std::vector<std::string> names;
    for (const char* sheet : {"x", "y", "z"})
        names.push_back(core::csvBaseName("2", sheet, kNumber, counter, random));
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2_2", "3"}));
    counter.reset();
    EXPECT_EQ(core::csvBaseName("Book", "x", kNumber, counter, random), "1");
    // Other modes leave the counter alone.
    core::csvBaseName("Book", "x", kSheet, counter, random);
    EXPECT_EQ(counter.value(), 1);
}

TEST(CsvBaseName, FallbackNumbersStayInRange)
{
    // The largest draw below 1 must not round up to 1000001 or 101.
    FixedRandom high({0.99999994f, 0.99999994f});
    core::SheetCounter counter;
    EXPECT_EQ(core::csvBaseName("Book", "", kSheet, counter, high), "1000000");
    FixedRandom low({0.0f, 0.0f});
    EXPECT_EQ(core::csvBaseName("Book", "a:", kSheet, counter, low), "a1");
}

TEST(AvoidReservedName, DeviceNamesGetAnUnderscore)
{
    const struct { std::string_view name, safe; } cases[] = {
        {"CON", "CON_"},
        {"aux", "aux_"},
        {"Nul.backup", "Nul_.backup"},
        {"com1", "com1_"},
        {"LPT9 ", "LPT9_ "},
        {"COM0", "COM0"},
        {"CONSOLE", "CONSOLE"},
        {"my aux", "my aux"},
        {"LPT", "LPT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(core::avoidReservedName(std::string(c.name)), c.safe) << c.name;
}
