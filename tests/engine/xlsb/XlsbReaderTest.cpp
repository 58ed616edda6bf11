#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "Error.h"
#include "ReaderTestSupport.h"
#include "Workbook.h"

namespace tabulon::test {
namespace {

using engine::CellKind;

// Record bodies, assembled byte by byte as the format lays them out.
std::string u8(uint8_t v) { return std::string(1, static_cast<char>(v)); }
std::string u16(uint16_t v) { return u8(v & 0xFF) + u8(v >> 8); }
std::string u32(uint32_t v) { return u16(v & 0xFFFF) + u16(v >> 16); }
std::string f64(double v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
std::string wide(std::u16string_view text)
{
    std::string out = u32(static_cast<uint32_t>(text.size()));
    for (char16_t c : text)
        out += u16(c);
    return out;
}
std::string cell(uint32_t col, uint32_t style) { return u32(col) + u32(style); }

// A part made of records: each a varint type and a varint size, then the body.
class Records {
public:
    Records& add(uint32_t type, const std::string& body = {})
    {
        for (uint32_t v : {type, static_cast<uint32_t>(body.size())})
            do {
                m_bytes += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
                v >>= 7;
            } while (v);
        m_bytes += body;
        return *this;
    }
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

const std::string kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string rels(const std::vector<std::array<std::string, 3>>& list)
{
    std::string xml = R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
    for (const auto& [id, type, target] : list)
        xml += "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
    return xml + "</Relationships>";
}

std::string bundle(uint32_t state, std::u16string_view relId, std::u16string_view name)
{
    return u32(state) + u32(0) + wide(relId) + wide(name);
}

// A package whose parts sit under unusual names, so only the relationships find them.
struct Package {
    std::string workbook = Records()
                               .add(0x83)
                               .add(0x99, u32(0) + u32(0) + wide(u""))
                               .add(0x9C, bundle(0, u"rIdS", u"Data"))
                               .add(0x84)
                               .bytes();
    std::string sheet;
    std::string styles;
    std::string strings;
    std::vector<std::array<std::string, 3>> extraRels;
    std::vector<std::pair<std::string, std::string>> extraParts;
    std::string rootRels = rels({{"rId1", kRelNs + "officeDocument", "bin/book.bin"}});

    std::string bytes(bool deflate = true) const
    {
        auto bookRels = extraRels;
        bookRels.push_back({"rIdS", kRelNs + "worksheet", "../sheets/first.bin"});
        if (!styles.empty())
            bookRels.push_back({"rIdY", kRelNs + "styles", "look.bin"});
        if (!strings.empty())
            bookRels.push_back({"rIdT", kRelNs + "sharedStrings", "/bin/words.bin"});
        ZipBuilder zip;
        zip.add("[Content_Types].xml", "<Types/>", deflate)
            .add("_rels/.rels", rootRels, deflate)
            .add("bin/book.bin", workbook, deflate)
            .add("bin/_rels/book.bin.rels", rels(bookRels), deflate)
            .add("sheets/first.bin", sheet, deflate);
        if (!styles.empty())
            zip.add("bin/look.bin", styles, deflate);
        if (!strings.empty())
            zip.add("bin/words.bin", strings, deflate);
        for (const auto& [name, content] : extraParts)
            zip.add(name, content, deflate);
        return zip.bytes();
    }
};

TEST(XlsbReader, CorpusMatchesGoldenFiles)
{
    checkCorpusGolden(std::filesystem::path(TABULON_CORPUS_DIR) / "xlsb",
                      std::filesystem::path(TABULON_TEST_DIR) / "golden");
}

TEST(XlsbReader, StreamsEveryKindOfCellRecord)
{
    Package p;
    p.strings = Records()
                    .add(0x9F, u32(2) + u32(2))
                    .add(0x13, u8(0) + wide(u"first"))
                    .add(0x13, u8(3) + wide(u"漢字") + u32(0) + u32(0))  // rich and phonetic parts follow
                    .add(0xA0)
                    .bytes();
    const std::string longText(200, 'x');  // a body over 127 bytes needs a two-byte size
    std::u16string longWide(longText.begin(), longText.end());
    p.sheet = Records()
                  .add(0x81)
                  .add(0x94, u32(2) + u32(3) + u32(1) + u32(12))
                  .add(0x91)
                  .add(0x00, u32(2) + u32(0) + std::string(17, '\0'))
                  .add(0x01, cell(1, 5))
                  .add(0x01, cell(11, 0))  // empty and unformatted: not handed over
                  .add(0x02, cell(2, 0) + u32((12345u << 2) | 2))           // integer
                  .add(0x02, cell(3, 0) + u32((uint32_t(-150) << 2) | 3))   // integer / 100
                  .add(0x02, cell(4, 0) + u32(0x3FF80000u))                 // top bits of 1.5
                  .add(0x03, cell(5, 0) + u8(0x07))
                  .add(0x04, cell(6, 0) + u8(1))
                  .add(0x05, cell(7, 2) + f64(-0.125))
                  .add(0x06, cell(8, 0) + wide(longWide))
                  .add(0x07, cell(9, 0) + u32(1))
                  .add(0x3E, cell(10, 0) + u8(1) + wide(u"rich") + u32(1) + u16(0) + u16(0))
                  .add(0x00, u32(3) + u32(0) + std::string(17, '\0'))
                  .add(0x08, cell(1, 0) + wide(u"a\U0001F600") + u16(0) + u32(0))  // cached value, then the formula
                  .add(0x09, cell(2, 0) + f64(42) + u16(0) + u32(0))
                  .add(0x0A, cell(3, 0) + u8(0) + u16(0) + u32(0))
                  .add(0x0B, cell(4, 0) + u8(0x2A) + u16(0) + u32(0))
                  .add(0x0B, cell(5, 0) + u8(0x99) + u16(0) + u32(0))  // unknown code
                  .add(0x92)
                  .add(0x02, cell(0, 0) + u32(2))  // after the sheet data: ignored
                  .add(0x82)
                  .bytes();
    const std::string bytes = p.bytes();  // the archive reads from these bytes
    auto reader = openXlsb(bytes, "t.xlsb");
    EXPECT_EQ(reader->dimension(0), (engine::CellRange{2, 1, 3, 12}));
    const std::vector<SeenCell> expected = {
        {2, 1, CellKind::Blank, 0, "", 5},
        {2, 2, CellKind::Number, 12345, "", 0},
        {2, 3, CellKind::Number, -1.5, "", 0},
        {2, 4, CellKind::Number, 1.5, "", 0},
        {2, 5, CellKind::Error, 0, "#DIV/0!", 0},
        {2, 6, CellKind::Bool, 1, "", 0},
        {2, 7, CellKind::Number, -0.125, "", 2},
        {2, 8, CellKind::Text, 0, longText, 0},
        {2, 9, CellKind::Text, 0, "漢字", 0},
        {2, 10, CellKind::Text, 0, "rich", 0},
        {3, 1, CellKind::Text, 0, "a\xF0\x9F\x98\x80", 0},
        {3, 2, CellKind::Number, 42, "", 0},
        {3, 3, CellKind::Bool, 0, "", 0},
        {3, 4, CellKind::Error, 0, "#N/A", 0},
        {3, 5, CellKind::Error, 0, "#N/A", 0},
    };
    EXPECT_EQ(readCells(*reader, 0), expected);
}

TEST(XlsbReader, ReadsSheetListAndDateSystem)
{
    Package p;
    p.workbook = Records()
                     .add(0x83)
                     .add(0x99, u32(1) + u32(0) + wide(u""))  // the 1904 date system
                     .add(0x9C, bundle(1, u"rIdC", u"Chart"))
                     .add(0x9C, bundle(0, u"rIdS", u"Daten \U0001D11E"))
                     .add(0x9C, bundle(2, u"rIdM", u"Macro"))
                     .add(0x9C, bundle(1, u"rIdD", u"Dialog"))
                     .add(0x84)
                     .bytes();
    p.extraRels = {{"rIdC", kRelNs + "chartsheet", "../charts/c.bin"},
                   {"rIdM", "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet", "m.bin"},
                   {"rIdD", kRelNs + "dialogsheet", "d.bin"}};
    p.extraParts = {{"charts/c.bin", ""}, {"bin/m.bin", ""}, {"bin/d.bin", ""}};
    p.sheet = Records().add(0x81).add(0x82).bytes();
    const std::string bytes = p.bytes();  // the archive reads from these bytes
    auto reader = openXlsb(bytes, "t.xlsb");
    EXPECT_TRUE(reader->date1904());
    std::string kinds;  // name:kind visibility
    for (const auto& s : reader->sheets())
        kinds += s.name + ":" + std::to_string(int(s.kind)) + std::to_string(int(s.visibility)) + " ";
    EXPECT_EQ(kinds, "Chart:11 Daten \xF0\x9D\x84\x9E:00 Macro:32 Dialog:21 ");
    // Worksheet 1 of the workbook is the second sheet: the chart sheet before it does not count.
    auto book = engine::makeWorkbook(std::move(reader), "t.xlsb");
    EXPECT_EQ(book->sheetCount(), 1);
    EXPECT_EQ(book->sheetName(1), "Daten \xF0\x9D\x84\x9E");
}

TEST(XlsbReader, DamagedPackagesFailWithAPlainSentence)
{
    const auto rowThenCell = [](uint32_t row, std::string cellRecord) {
        return Records().add(0x91).add(0x00, u32(row) + std::string(21, '\0')).bytes() + cellRecord;
    };
    const struct { const char* what; std::function<void(Package&)> damage; std::string message; } cases[] = {
        {"no root relationships",
         [](Package& p) { p.rootRels = rels({}); },
         "the package has no workbook part"},
        {"missing sheet part",
         [](Package& p) { p.workbook = Records().add(0x9C, bundle(0, u"rIdX", u"Gone")).bytes(); },
         "the part of the worksheet \"Gone\" is missing"},
        {"shared string out of range",
         [&](Package& p) { p.sheet = rowThenCell(0, Records().add(0x07, cell(0, 0) + u32(3)).bytes()); },
         "a cell refers to shared string 3, which does not exist"},
        {"row beyond the sheet",
         [&](Package& p) { p.sheet = rowThenCell(1048576, ""); },
         "the sheet \"Data\" has a row beyond the last row a sheet can have"},
        {"short cell record",
         [&](Package& p) { p.sheet = rowThenCell(0, Records().add(0x05, cell(0, 0) + u32(0)).bytes()); },
         "the sheet \"Data\" ends in the middle of a record"},
        {"record size of five bytes",
         [&](Package& p) { p.sheet = "\x01\xFF\xFF\xFF\xFF\x01"; },
         "the sheet \"Data\" is damaged (a record size is too long)"},
        {"entity declarations",
         [](Package& p) {
             p.rootRels = "<!DOCTYPE r [<!ENTITY a \"aaaa\">]><Relationships>&a;</Relationships>";
         },
         "declares a document type"},
    };
    for (const auto& c : cases) {
        Package p;
        p.strings = Records().add(0x13, u8(0) + wide(u"only")).bytes();
        c.damage(p);
        const std::string text = readError(openXlsb, p.bytes(), "bad.xlsb");
        EXPECT_EQ(text.rfind("Cannot read \"bad.xlsb\": ", 0), 0u) << c.what << ": " << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(text.find("Cannot"), text.rfind("Cannot")) << text;
        EXPECT_EQ(text.back(), '.') << text;
    }
}

TEST(XlsbReader, SurvivesTruncationAndFlippedBytes)
{
    Package p;
    p.strings = Records().add(0x13, u8(0) + wide(u"shared")).bytes();
    Records sheet;
    sheet.add(0x81).add(0x94, u32(0) + u32(40) + u32(0) + u32(3)).add(0x91);
    for (uint32_t row = 0; row < 40; ++row) {
        sheet.add(0x00, u32(row) + std::string(21, '\0'))
            .add(0x02, cell(0, 0) + u32((row << 2) | 2))
            .add(0x07, cell(1, 0) + u32(0))
            .add(0x06, cell(2, 0) + wide(u"inline"))
            .add(0x09, cell(3, 0) + f64(row / 3.0) + u16(0) + u32(0));
    }
    p.sheet = sheet.add(0x92).add(0x82).bytes();
    // Stored parts, so that flipped bytes reach the records rather than the deflate stream.
    const std::string bytes = p.bytes(false);
    ASSERT_NO_THROW(convertToText(openXlsb, bytes, "good.xlsb"));
    EXPECT_GT(damageAndConvert(openXlsb, bytes, 400), 100);
}

}  // namespace
}  // namespace tabulon::test
