#include <gtest/gtest.h>

#include <cstring>

#include "Error.h"
#include "XlsBuilder.h"
#include "io/Cfb.h"

namespace tabulon::test {
namespace {
using engine::ByteStream;
using engine::CompoundFile;
using engine::FileBytes;

std::string readAll(const ByteStream& s)
{
    std::string out(s.size(), '\0');
    EXPECT_EQ(s.read(0, out.data(), out.size()), out.size());
    return out;
}

std::string pattern(size_t size, int seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 31 + seed) % 251);
    return s;
}

void setU32(std::string& file, size_t at, uint32_t v) { std::memcpy(file.data() + at, &v, 4); }

TEST(Cfb, ReadsRegularAndMiniStreamsAtBothSectorSizes)
{
    for (int shift : {9, 12}) {
        const std::string small = pattern(100, 1), big = pattern(10000, 2), edge = pattern(4096, 3);
        const std::string file = xls::compoundFile({{"Small", small}, {"Workbook", big}, {"Edge", edge}}, shift);
        CompoundFile cfb(FileBytes::borrow(file.data(), file.size()), "test.xls");
        SCOPED_TRACE(shift);
        ASSERT_TRUE(cfb.stream("small"));
        EXPECT_EQ(readAll(*cfb.stream("small")), small);
        EXPECT_EQ(readAll(*cfb.stream("WORKBOOK")), big);
        EXPECT_EQ(readAll(*cfb.stream("Edge")), edge);
        EXPECT_FALSE(cfb.stream("Book"));
        // Reads that cross sector boundaries at odd offsets.
        const ByteStream s = *cfb.stream("Workbook");
        char buf[700];
        EXPECT_EQ(s.read(4000, buf, sizeof buf), sizeof buf);
        EXPECT_EQ(std::string(buf, sizeof buf), big.substr(4000, sizeof buf));
        EXPECT_EQ(s.read(9900, buf, sizeof buf), 100u);
    }
}

TEST(Cfb, DamagedContainersRaiseErrors)
{
    const std::string good = xls::compoundFile({{"Workbook", pattern(6000, 4)}});
    // Layout of the builder's file: sector 0 is the FAT, 1 the directory, 2.. the stream.
    const struct { const char* what; void (*damage)(std::string&); } cases[] = {
        {"chain loops", [](std::string& f) { setU32(f, 512 + 4 * 3, 2); }},
        {"chain leaves the table", [](std::string& f) { setU32(f, 512 + 4 * 3, 0x00FFFFFF); }},
        {"odd sector size", [](std::string& f) { f[30] = 10; }},
        {"FAT count beyond file", [](std::string& f) { setU32(f, 44, 100000); }},
        {"FAT sector beyond file", [](std::string& f) { setU32(f, 76, 5000); }},
        {"directory beyond file", [](std::string& f) { setU32(f, 48, 0x0FFFFFFF); }},
        {"no root entry", [](std::string& f) { f[1024 + 66] = 1; }},
        {"cut in the header", [](std::string& f) { f.resize(300); }},
    };
    for (const auto& c : cases) {
        std::string file = good;
        c.damage(file);
        try {
            CompoundFile cfb(FileBytes::borrow(file.data(), file.size()), "bad.xls");
            cfb.stream("Workbook");
            ADD_FAILURE() << c.what << ": no error";
        } catch (const engine::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot read \"bad.xls\": the file is damaged", 0), 0u)
                << c.what << ": " << e.what();
        }
    }
}

TEST(Cfb, FileCutInsideAStreamKeepsWhatIsThere)
{
    const std::string big = pattern(10000, 5);
    std::string file = xls::compoundFile({{"Workbook", big}});
    file.resize(file.size() - 3000);
    CompoundFile cfb(FileBytes::borrow(file.data(), file.size()), "cut.xls");
    const std::string got = readAll(*cfb.stream("Workbook"));
    EXPECT_LT(got.size(), big.size());
    EXPECT_EQ(got, big.substr(0, got.size()));
}

}  // namespace
}  // namespace tabulon::test
