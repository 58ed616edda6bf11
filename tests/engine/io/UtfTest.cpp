#include <gtest/gtest.h>

#include "engine/io/Utf.h"

namespace tabulon::engine {
namespace {

// UTF-16 code units as little-endian bytes, as the binary formats store them.
std::string bytesOf(std::u16string_view units)
{
    std::string out;
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

TEST(Utf, OnePolicyForUtf16)
{
    const struct {
        const char* what;
        std::u16string units;
        std::string utf8;
    } cases[] = {
        {"ASCII", u"abc", "abc"},
        {"two and three bytes", u"\u00e9\u6f22", "\xC3\xA9\xE6\xBC\xA2"},
        {"a surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"a high surrogate alone", std::u16string{0xD83D, u'x'}, "\xEF\xBF\xBDx"},
        {"a high surrogate at the end", std::u16string{u'x', 0xD83D}, "x\xEF\xBF\xBD"},
        {"a low surrogate alone", std::u16string{0xDE00, u'x'}, "\xEF\xBF\xBDx"},
        {"two high surrogates", std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"NUL", std::u16string{u'a', 0, u'b'}, "a\xEF\xBF\xBD" "b"},
        {"nothing", u"", ""},
    };
    for (const auto& c : cases) {
        std::string out = "<";
        appendUtf16(bytesOf(c.units), out);
        EXPECT_EQ(out, "<" + c.utf8) << c.what;

        std::string swapped = bytesOf(c.units), big;
        for (size_t i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        appendUtf16(swapped, big, true);
        EXPECT_EQ(big, c.utf8) << c.what << ", big-endian";
    }

    std::string points;
    for (uint32_t cp : {0x41u, 0x0u, 0xD800u, 0x10FFFFu, 0x110000u})
        appendCodePoint(cp, points);
    EXPECT_EQ(points, "A\xEF\xBF\xBD\xEF\xBF\xBD\xF4\x8F\xBF\xBF\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tabulon::engine
