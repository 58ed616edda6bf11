#include <gtest/gtest.h>

#include <random>

#include "ZipBuilder.h"
#include "engine/Error.h"
#include "engine/io/Zip.h"

using namespace tabulon::engine;
using tabulon::test::ZipBuilder;

namespace {

std::string pseudoText(size_t size)
{
    std::mt19937 random(7);
    std::string s(size, ' ');
    for (char& c : s)
        c = static_cast<char>('a' + random() % 20);
    return s;
}

std::string readStreamed(const ZipArchive& zip, uint64_t index, bool background)
{
    auto s = zip.stream(index, background);
    std::string out;
    char buffer[1000];
    while (size_t n = s->read(buffer, sizeof buffer))
        out.append(buffer, n);
    return out;
}

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Zip, PartsReadAlikeEveryWay)
{
    const std::string big = pseudoText(3 << 20), small = "<a/>";
    const std::string bytes = ZipBuilder().add("xl\\Big.xml", big).add("/stored.xml", small, false).add("empty", "").bytes();
    auto zip = ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
    auto bigIndex = zip->find("XL/big.xml");  // case, backslashes and a leading slash do not matter
    auto storedIndex = zip->find("stored.xml");
    auto emptyIndex = zip->find("/empty");
    ASSERT_TRUE(bigIndex && storedIndex && emptyIndex);
    EXPECT_FALSE(zip->find("xl/big.xm"));
    for (bool background : {false, true}) {
        EXPECT_EQ(readStreamed(*zip, *bigIndex, background), big);
        EXPECT_EQ(readStreamed(*zip, *storedIndex, background), small);
        EXPECT_EQ(readStreamed(*zip, *emptyIndex, background), "");
    }
    EXPECT_EQ(zip->readAll(*bigIndex), big);
    EXPECT_EQ(zip->readAll(*storedIndex), small);
    EXPECT_EQ(zip->statedSize(*bigIndex), big.size());
    EXPECT_NE(errorOf([&] { zip->readAll(*bigIndex, 1000); }).find("larger than this program accepts"), std::string::npos);
    // A stream dropped halfway stops its thread cleanly.
    auto s = zip->stream(*bigIndex, true);
    char buffer[10];
    EXPECT_EQ(s->read(buffer, sizeof buffer), sizeof buffer);
}

TEST(Zip, DamageEndsInAnError)
{
    const std::string text = pseudoText(200000);
    const std::string good = ZipBuilder().add("a.xml", text).add("b.xml", text, false).bytes();
    // Flip bytes inside the packed data (after the first local header): every read either
    // still gives the right bytes or ends in an error, never wrong bytes without one.
    for (size_t at = 40; at < good.size() - 200; at += 997) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x55);
        try {
            auto zip = ZipArchive::openMemory(bad.data(), bad.size(), "book.xlsx");
            for (const char* name : {"a.xml", "b.xml"})
                if (auto i = zip->find(name)) {
                    EXPECT_EQ(zip->readAll(*i), text) << "flipped byte " << at;
                    EXPECT_EQ(readStreamed(*zip, *i, true), text) << "flipped byte " << at;
                }
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot read \"book.xlsx\": ", 0), 0u) << e.what();
        }
    }
    for (size_t length : {size_t(3), size_t(30), good.size() / 2, good.size() - 1})
        EXPECT_THROW(ZipArchive::openMemory(good.data(), length, "book.xlsx"), Error) << length;
}

TEST(Zip, BombsAreStopped)
{
    const std::string zeros(16 << 20, '\0');  // deflates about a thousand to one
    const std::string bytes = ZipBuilder().add("bomb.xml", zeros).bytes();
    auto zip = ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
    for (bool background : {false, true})
        EXPECT_NE(errorOf([&] { readStreamed(*zip, *zip->find("bomb.xml"), background); }).find("zip bomb"), std::string::npos);
    EXPECT_NE(errorOf([&] { zip->readAll(*zip->find("bomb.xml")); }).find("zip bomb"), std::string::npos);
}
