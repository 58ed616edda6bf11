#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

// Rewrites a 32-bit field of the first part in both its local header and its directory entry.
std::string withField(std::string zip, size_t localOffset, size_t centralOffset, uint32_t value)
{
    const size_t central = zip.rfind(std::string("PK\x01\x02", 4));
    for (size_t at : {localOffset, central + centralOffset})
        for (int i = 0; i < 4; ++i)
            zip[at + i] = static_cast<char>(value >> (8 * i));
    return zip;
}

uint32_t fieldAt(const std::string& zip, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(zip[at + i]);
    return value;
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

TEST(Zip, DirectoryThatDisagreesWithTheDataIsCaught)
{
    // Crc, packed size and size of the first part sit at 14, 18 and 22 in its local header
    // and at 16, 20 and 24 in its directory entry.
    const std::string text = pseudoText(300000);
    const std::string good = ZipBuilder().add("a.xml", text).bytes();
    const uint32_t crc = fieldAt(good, 14), packed = fieldAt(good, 18);
    ASSERT_EQ(fieldAt(good, 22), text.size());

    const auto expectError = [&](const std::string& zip, const char* what) {
        auto archive = ZipArchive::openMemory(zip.data(), zip.size(), "book.xlsx");
        for (bool background : {false, true})
            EXPECT_NE(errorOf([&] { readStreamed(*archive, 0, background); }).find(what), std::string::npos)
                << what << ", background " << background;
        EXPECT_NE(errorOf([&] { archive->readAll(0); }).find(what), std::string::npos) << what;
    };
    // The packed data ends before the deflate stream does, anywhere in it.
    for (uint32_t cut : {uint32_t(1), uint32_t(9), packed / 2, packed - 1})
        expectError(withField(good, 18, 20, cut), "cut short");
    expectError(withField(good, 14, 16, crc ^ 1), "checksum does not match");
    expectError(withField(good, 22, 24, uint32_t(text.size() + 1)), "size does not match");
    expectError(withField(good, 22, 24, uint32_t(text.size() - 1)), "size does not match");
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

// One packed part listed under many names would inflate the same bytes once per name.
TEST(Zip, PartsSharingTheirDataAreRefused)
{
    for (size_t count : {size_t(2), size_t(10000)}) {
        std::vector<std::string> names;
        for (size_t i = 1; i <= count; ++i)
            names.push_back("xl/worksheets/sheet" + std::to_string(i) + ".xml");
        const std::string bytes = tabulon::test::sharedDataZip(names, pseudoText(100000));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(errorOf([&] { ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx"); }),
                  "Cannot read \"book.xlsx\": the file is damaged (two parts share their data).");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    // The same builder with one name is an ordinary package.
    const std::string text = pseudoText(5000);
    const std::string single = tabulon::test::sharedDataZip({"a.xml"}, text);
    auto zip = ZipArchive::openMemory(single.data(), single.size(), "book.xlsx");
    EXPECT_EQ(zip->readAll(*zip->find("a.xml")), text);
}

// Every part keeps to its own cap, but reading them over and over does not go on forever.
TEST(Zip, ThePackageHasABudgetOfInflatedBytes)
{
    const std::string bytes = ZipBuilder().add("zeros.xml", std::string(1 << 20, '\0')).bytes();
    auto zip = ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
    const auto part = *zip->find("zeros.xml");
    int reads = 0;
    const std::string error = errorOf([&] {
        for (; reads < 100; ++reads)
            readStreamed(*zip, part, false);
    });
    EXPECT_EQ(error, "Cannot read \"book.xlsx\": its parts unpack to far more data than the package's size allows "
                     "(a zip bomb?) (part zeros.xml).");
    EXPECT_GE(reads, 3);  // a sheet may be read three times over
    EXPECT_LT(reads, 10);
}

// A uniform bomb stops within the first tens of megabytes, long before its part's cap.
TEST(Zip, AUniformBombStopsEarly)
{
    const std::string bytes = tabulon::test::uniformBombZip("xl/worksheets/sheet1.xml", uint64_t(2) << 30);
    ASSERT_LT(bytes.size(), size_t(4) << 20);
    for (int way = 0; way < 3; ++way) {
        auto zip = ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
        const auto part = *zip->find("xl/worksheets/sheet1.xml");
        tabulon::test::PeakMemoryGrowth memory;
        const auto start = std::chrono::steady_clock::now();
        const std::string error = errorOf([&] {
            if (way == 2)
                zip->readAll(part, uint64_t(3) << 30);
            else
                readStreamed(*zip, part, way == 1);
        });
        EXPECT_NE(error.find("a part unpacks to far more data than its packed size allows (a zip bomb?)"), std::string::npos)
            << error;
        // The bound that matters is the inflated total; the clock only catches a refusal that
        // comes after seconds of work, with room for sanitizers on a busy machine.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << way;
        EXPECT_LT(zip->inflatedTotal(), uint64_t(64) << 20) << way;
        EXPECT_LT(memory.bytes(), uint64_t(256) << 20) << way;
    }
}
