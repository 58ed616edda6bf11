// What differs between systems, run on Linux and, through Wine, on Windows: the same
// expectations hold for both implementations of each interface.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "engine/Error.h"
#include "engine/io/AtomicFile.h"
#include "engine/io/Zip.h"
#include "engine/io/ZipDirectoryReader.h"
#include "engine/platform/Codepage.h"
#include "engine/platform/Digest.h"
#include "engine/platform/File.h"

using namespace tabulon::engine;
namespace fs = std::filesystem;

namespace {

std::string decode(uint16_t codePage, std::string_view bytes)
{
    auto decoder = platform::CodepageDecoder::open(codePage);
    if (!decoder)
        return "(no decoder)";
    std::string out;
    decoder->append(bytes, out);
    return out;
}

std::string hex(const uint8_t* data, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", data[i]);
        out += two;
    }
    return out;
}

template <size_t N>
std::string hex(const std::array<uint8_t, N>& bytes)
{
    return hex(bytes.data(), N);
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempFolder {
public:
    TempFolder()
    {
        std::random_device rd;
        m_path = fs::temp_directory_path() / ("tabulon-platform-" + std::to_string(rd()));
        fs::create_directories(m_path);
    }
    ~TempFolder() { fs::remove_all(m_path); }
    fs::path operator/(std::u8string_view name) const { return m_path / name; }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

}  // namespace

TEST(Codepage, DecodesSingleAndDoubleBytePages)
{
    EXPECT_EQ(decode(1252, "caf\xE9 \x80"), "café €");
    EXPECT_EQ(decode(1251, "\xCB\xE8\xF1\xF2"), "Лист");
    EXPECT_EQ(decode(10000, "\x80\x8A"), "Ää");  // Macintosh Roman
    EXPECT_EQ(decode(932, "\x82\xA0\x88\xEA"), "あ一");
    EXPECT_EQ(decode(936, "\xD6\xD0\xCE\xC4"), "中文");
    EXPECT_EQ(decode(950, "\xA4\xA4"), "中");
    EXPECT_EQ(decode(949, "\xC7\xD1"), "한");
}

TEST(Codepage, UndefinedBytesBecomeReplacementCharacters)
{
    // A lead byte followed by a byte that cannot trail it, and a lead byte cut off at the end.
    EXPECT_EQ(decode(932, "a\x82 b"), "a\xEF\xBF\xBD b");
    EXPECT_EQ(decode(932, "\x82\xA0\x82"), "あ\xEF\xBF\xBD");
    EXPECT_EQ(platform::CodepageDecoder::open(12345), nullptr);
}

TEST(Digest, HashesMatchTheirStandardVectors)
{
    const std::string abc = "abc";
    const auto* bytes = reinterpret_cast<const uint8_t*>(abc.data());
    EXPECT_EQ(hex(platform::md5(bytes, abc.size())), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(platform::sha1(bytes, abc.size())), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(platform::md5(nullptr, 0)), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Digest, Rc4KeystreamGoesOnAcrossCallsAndCopies)
{
    std::array<uint8_t, 16> key{};
    for (uint8_t i = 0; i < 16; ++i)
        key[i] = static_cast<uint8_t>(i + 1);
    // The first keystream bytes for the key 01 02 ... 10.
    std::vector<uint8_t> whole(32, 0);
    platform::Rc4 one(key);
    one.apply(whole.data(), whole.size());
    EXPECT_EQ(hex(whole.data(), 16), "9ac7cc9a609d1ef7b2932899cde41b97");

    std::vector<uint8_t> pieces(32, 0);
    platform::Rc4 two(key);
    two.apply(pieces.data(), 5);
    platform::Rc4 copy(two);
    two.apply(pieces.data() + 5, 27);
    EXPECT_EQ(pieces, whole);

    std::vector<uint8_t> fromCopy(27, 0);
    copy.apply(fromCopy.data(), fromCopy.size());
    EXPECT_TRUE(std::equal(fromCopy.begin(), fromCopy.end(), whole.begin() + 5));
}

TEST(AtomicFile, ReplacesItsTargetOnlyWhenCommitted)
{
    TempFolder dir;
    const fs::path target = dir / u8"Übersicht Ω.csv";
    {
        std::ofstream(target, std::ios::binary) << "old";
    }
    {
        AtomicFile file(target);
        file.write("abandoned", 9);
    }
    EXPECT_EQ(readFile(target), "old");
    {
        AtomicFile file(target);
        file.write("first try", 9);
        file.truncate();
        file.write("a,b\r\n", 5);
        file.commit();
    }
    EXPECT_EQ(readFile(target), "a,b\r\n");
    // Nothing is left beside it: no temporary file survives either object.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_THROW(AtomicFile(dir / u8"missing folder/x.csv"), Error);
}

TEST(File, InputReadsAtAnyOffset)
{
    TempFolder dir;
    const fs::path file = dir / u8"книга.xls";
    std::string content(100000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    std::ofstream(file, std::ios::binary) << content;

    auto input = platform::InputFile::open(file);
    EXPECT_EQ(input->size(), content.size());
    char buffer[10];
    ASSERT_EQ(input->readAt(99995, buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), content.substr(99995));
    EXPECT_EQ(input->readAt(content.size(), buffer, sizeof buffer), 0u);
    EXPECT_THROW(platform::InputFile::open(dir / u8"nowhere.xls"), platform::SystemError);
}

namespace {

// A zip package written here, so that both builds can make one (Windows builds have no
// libzip): stored or deflated members, optional zip64 extra fields and a trailing comment.
struct ZipMember {
    std::string name, content;
    bool deflate = true;
    bool encrypted = false;
};

void put16(std::string& out, uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void put64(std::string& out, uint64_t v)
{
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}

std::string deflated(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string zipOf(const std::vector<ZipMember>& members, bool zip64 = false, const std::string& comment = "")
{
    std::string file, directory;
    for (const auto& m : members) {
        const std::string packed = m.deflate ? deflated(m.content) : m.content;
        const auto crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(m.content.data()),
                                                     static_cast<uInt>(m.content.size())));
        const uint16_t flags = m.encrypted ? 1 : 0;
        const uint16_t method = m.deflate ? 8 : 0;
        const auto offset = static_cast<uint32_t>(file.size());
        put32(file, 0x04034b50);
        for (uint32_t v : {20u, uint32_t(flags), uint32_t(method), 0u, 0u})
            put16(file, v);
        put32(file, crc);
        put32(file, static_cast<uint32_t>(packed.size()));
        put32(file, static_cast<uint32_t>(m.content.size()));
        put16(file, static_cast<uint32_t>(m.name.size()));
        put16(file, 0);
        file += m.name + packed;

        std::string extra;
        if (zip64) {
            put16(extra, 1);
            put16(extra, 24);
            put64(extra, m.content.size());
            put64(extra, packed.size());
            put64(extra, offset);
        }
        put32(directory, 0x02014b50);
        for (uint32_t v : {45u, 20u, uint32_t(flags), uint32_t(method), 0u, 0u})
            put16(directory, v);
        put32(directory, crc);
        put32(directory, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(packed.size()));
        put32(directory, zip64 ? 0xFFFFFFFF : static_cast<uint32_t>(m.content.size()));
        for (uint32_t v : {uint32_t(m.name.size()), uint32_t(extra.size()), 0u, 0u, 0u})
            put16(directory, v);
        put32(directory, 0);
        put32(directory, zip64 ? 0xFFFFFFFF : offset);
        directory += m.name + extra;
    }
    const auto directoryOffset = static_cast<uint32_t>(file.size());
    file += directory;
    put32(file, 0x06054b50);
    for (uint32_t v : {0u, 0u, uint32_t(members.size()), uint32_t(members.size())})
        put16(file, v);
    put32(file, static_cast<uint32_t>(directory.size()));
    put32(file, directoryOffset);
    put16(file, static_cast<uint32_t>(comment.size()));
    return file + comment;
}

std::string readMember(ZipDirectory& directory, uint64_t index)
{
    auto reader = directory.open(index, true);
    std::string out;
    char buffer[7];  // small, so that reads end inside members
    while (size_t n = reader->read(buffer, sizeof buffer))
        out.append(buffer, n);
    return out;
}

const std::vector<ZipMember> kMembers = {
    {"[Content_Types].xml", std::string(5000, 'x'), true},
    {"xl/worksheets/sheet1.xml", "<worksheet/>", false},
    {"Übersicht/ünï.xml", "<a/>", true},
};

}  // namespace

TEST(ZipDirectoryReader, ReadsEntriesAndPackedBytes)
{
    for (const bool zip64 : {false, true}) {
        const std::string bytes = zipOf(kMembers, zip64, "a comment that ends the file");
        auto directory = readZipDirectory(FileBytes::borrow(bytes.data(), bytes.size()));
        const auto& entries = directory->entries();
        ASSERT_EQ(entries.size(), kMembers.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            SCOPED_TRACE(kMembers[i].name);
            EXPECT_EQ(entries[i].name, kMembers[i].name);
            EXPECT_EQ(entries[i].method, kMembers[i].deflate ? 8 : 0);
            EXPECT_EQ(entries[i].size, kMembers[i].content.size());
            EXPECT_FALSE(entries[i].encrypted);
            const std::string packed = readMember(*directory, i);
            EXPECT_EQ(packed.size(), entries[i].packedSize);
            EXPECT_EQ(packed, kMembers[i].deflate ? deflated(kMembers[i].content) : kMembers[i].content);
        }
    }
}

TEST(ZipDirectoryReader, RefusesDamagedPackages)
{
    const std::string good = zipOf(kMembers);
    auto open = [](const std::string& bytes) { return readZipDirectory(FileBytes::borrow(bytes.data(), bytes.size())); };
    // Cut inside the directory, an end record pointing past itself, a non-zip file.
    EXPECT_THROW(open(good.substr(0, good.size() - 30)), ZipDirectoryError);
    std::string pointsAway = good;
    pointsAway[pointsAway.size() - 6] = '\x7F';
    EXPECT_THROW(open(pointsAway), ZipDirectoryError);
    EXPECT_THROW(open("PK\x05\x06 too short"), ZipDirectoryError);
    EXPECT_THROW(open(std::string(100000, '\0')), ZipDirectoryError);
    // A member whose local header is overwritten is found, but cannot be opened.
    std::string noLocal = good;
    noLocal[0] = 'X';
    auto directory = open(noLocal);
    EXPECT_THROW(directory->open(0, true), ZipDirectoryError);
    EXPECT_EQ(readMember(*directory, 1), "<worksheet/>");
}

TEST(ZipArchive, UnpacksAndChecksThroughTheSystemsDirectory)
{
    std::vector<ZipMember> members = kMembers;
    members.push_back({"secret.xml", "<s/>", false, true});
    const std::string bytes = zipOf(members);
    auto zip = ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
    ASSERT_TRUE(zip->find("/[content_types].XML"));
    EXPECT_EQ(zip->readAll(*zip->find("[Content_Types].xml")), kMembers[0].content);
    EXPECT_EQ(zip->readAll(*zip->find("xl\\worksheets\\sheet1.xml")), "<worksheet/>");
    EXPECT_EQ(zip->readAll(*zip->find("Übersicht/ünï.xml")), "<a/>");
    EXPECT_TRUE(zip->isEncrypted(*zip->find("secret.xml")));
    EXPECT_THROW(zip->readAll(*zip->find("secret.xml")), Error);

    // A flipped byte in a stored member fails its checksum.
    std::string flipped = bytes;
    flipped[flipped.find("<worksheet/>") + 1] = 'W';
    auto damaged = ZipArchive::openMemory(flipped.data(), flipped.size(), "book.xlsx");
    try {
        damaged->readAll(*damaged->find("xl/worksheets/sheet1.xml"));
        FAIL() << "a damaged part was read";
    } catch (const Error& e) {
        // libzip words the reason its own way.
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Cannot read \"book.xlsx\": a part is damaged (", 0), 0u) << text;
        EXPECT_TRUE(text.ends_with(") (part xl/worksheets/sheet1.xml).")) << text;
    }
}
