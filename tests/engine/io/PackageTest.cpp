#include <gtest/gtest.h>

#include "engine/Workbook.h"
#include "engine/io/Package.h"
#include "engine/io/Zip.h"
#include "ZipBuilder.h"

namespace tabulon::test {
namespace {

using engine::resolveTarget;

const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string relationships(const std::string& entries)
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + entries +
           "</Relationships>";
}

std::string relationship(const std::string& id, const std::string& type, const std::string& target,
                         const std::string& extra = "")
{
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRel + type + "\" Target=\"" + target + "\"" + extra + "/>";
}

TEST(Package, ResolvesTargetsAgainstTheNamingPart)
{
    const struct {
        const char* source;
        const char* target;
        const char* resolved;
    } cases[] = {
        {"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"xl/workbook.xml", "/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"xl/workbook.xml", "../customXml/item1.xml", "customXml/item1.xml"},
        {"xl/workbook.xml", "../../../../escape.xml", "escape.xml"},
        {"xl/workbook.xml", "./styles.xml", "xl/styles.xml"},
        {"xl/workbook.xml", "worksheets\\sheet2.xml", "xl/worksheets/sheet2.xml"},
        {"xl/workbook.xml", "worksheets//sheet3.xml", "xl/worksheets/sheet3.xml"},
        {"xl/workbook.xml", "worksheets/sheet%201.xml", "xl/worksheets/sheet%201.xml"},
        {"xl/workbook.xml", "worksheets/sheet1.xml#range", "xl/worksheets/sheet1.xml"},
        {"", "xl/workbook.xml", "xl/workbook.xml"},
        {"", "/xl/workbook.bin", "xl/workbook.bin"},
        {"workbook.xml", "sheet.xml", "sheet.xml"},
        {"a/b/c/part.xml", "../x.xml", "a/b/x.xml"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveTarget(c.source, c.target), c.resolved) << c.source << " + " << c.target;

    EXPECT_EQ(engine::percentDecode("sheet%201%2Exml"), "sheet 1.xml");
    EXPECT_EQ(engine::percentDecode("100%"), "100%");
    EXPECT_EQ(engine::percentDecode("a%zzb%4"), "a%zzb%4");
    EXPECT_EQ(engine::relationshipsPartOf(""), "_rels/.rels");
    EXPECT_EQ(engine::relationshipsPartOf("xl/workbook.bin"), "xl/_rels/workbook.bin.rels");
}

TEST(Package, ReadsInternalRelationshipsOnly)
{
    const std::string bytes =
        ZipBuilder()
            .add("xl/_rels/workbook.xml.rels",
                 relationships(relationship("rId1", "worksheet", "worksheets/a&amp;b.xml") +
                               relationship("rId2", "hyperlink", "http://example.com/", " TargetMode=\"External\"") +
                               relationship("rId3", "hyperlink", "file:///c:/x.xlsx", " TargetMode=\"external\"") +
                               "<Relationship Id=\"rId4\" Type=\"http://purl.oclc.org/ooxml/officeDocument/"
                               "relationships/styles\" Target=\"/xl/styles.xml\"/>"))
            .bytes();
    auto zip = engine::ZipArchive::openMemory(bytes.data(), bytes.size(), "book.xlsx");
    const auto rels = engine::readRelationships(*zip, "xl/workbook.xml");
    ASSERT_EQ(rels.size(), 2u);
    EXPECT_EQ(rels[0].target, "xl/worksheets/a&b.xml");
    EXPECT_EQ(engine::relationshipWithId(rels, "rId4"), engine::findRelationship(rels, "styles"));
    EXPECT_EQ(rels[1].target, "xl/styles.xml");
    EXPECT_TRUE(engine::readRelationships(*zip, "xl/other.xml").empty());
}

TEST(Package, DecidesBetweenXmlAndBinaryWorkbooks)
{
    const std::string binaryMain = "application/vnd.ms-excel.sheet.binary.macroEnabled.main";
    const std::string xmlMain = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    const struct {
        const char* what;
        std::string types;
        std::string rootRels;
        std::string path;
        bool binary;
    } cases[] = {
        {"override", "<Override PartName=\"/xl/workbook.bin\" ContentType=\"" + binaryMain + "\"/>",
         relationships(relationship("r", "officeDocument", "xl/workbook.bin")), "xl/workbook.bin", true},
        {"default by extension", "<Default Extension=\"BIN\" ContentType=\"" + binaryMain + "\"/>",
         relationships(relationship("r", "officeDocument", "/xl/workbook.bin")), "xl/workbook.bin", true},
        {"xml main", "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + xmlMain + "\"/>",
         relationships(relationship("r", "officeDocument", "xl/workbook.xml")), "xl/workbook.xml", false},
        {"no relationships", "<Override PartName=\"/xl/workbook.bin\" ContentType=\"" + binaryMain + "\"/>", "",
         "xl/workbook.bin", true},
        {"relationship to a missing part", "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + xmlMain + "\"/>",
         relationships(relationship("r", "officeDocument", "xl/gone.xml")), "xl/workbook.xml", false},
    };
    for (const auto& c : cases) {
        ZipBuilder builder;
        builder.add("[Content_Types].xml", "<Types>" + c.types + "</Types>")
            .add("xl/workbook.bin", "")
            .add("xl/workbook.xml", "");
        if (!c.rootRels.empty())
            builder.add("_rels/.rels", c.rootRels);
        const std::string bytes = builder.bytes();
        auto zip = engine::ZipArchive::openMemory(bytes.data(), bytes.size(), "book");
        const auto main = engine::findWorkbookPart(*zip);
        EXPECT_EQ(main.path, c.path) << c.what;
        EXPECT_EQ(main.binary, c.binary) << c.what;
    }
}

// A binary record: type and size as 7-bit groups, then the body.
std::string record(uint32_t type, const std::string& body = {})
{
    std::string out;
    for (uint32_t v : {type, static_cast<uint32_t>(body.size())})
        do {
            out += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
            v >>= 7;
        } while (v);
    return out + body;
}
std::string u32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string wide(std::string_view ascii)
{
    std::string out = u32(static_cast<uint32_t>(ascii.size()));
    for (char c : ascii)
        out += std::string(1, c) + '\0';
    return out;
}

// The same one-cell workbook as .xlsx and as .xlsb, its sheet part named with a space and
// referenced percent-encoded: both formats find it through the one package layer.
TEST(Package, PercentEncodedSheetTargetsOpenInBothFormats)
{
    TempDir dir;
    const std::string workbookRels = relationships(relationship("rId1", "worksheet", "worksheets/sheet%201.xml"));
    ZipBuilder()
        .add("[Content_Types].xml", "<Types/>")
        .add("_rels/.rels", relationships(relationship("rId1", "officeDocument", "xl/workbook.xml")))
        .add("xl/workbook.xml", "<workbook xmlns:r=\"" + kRel + "\"><sheets><sheet name=\"Sheet1\" r:id=\"rId1\"/></sheets></workbook>")
        .add("xl/_rels/workbook.xml.rels", workbookRels)
        .add("xl/worksheets/sheet 1.xml", "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>7</v></c></row></sheetData></worksheet>")
        .save(dir / "book.xlsx");

    std::string binaryRels = workbookRels;
    binaryRels.replace(binaryRels.find(".xml\""), 4, ".bin");
    ZipBuilder()
        .add("[Content_Types].xml",
             "<Types><Default Extension=\"bin\" ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/></Types>")
        .add("_rels/.rels", relationships(relationship("rId1", "officeDocument", "xl/workbook.bin")))
        .add("xl/workbook.bin", record(0x9C, u32(0) + u32(1) + wide("rId1") + wide("Sheet1")))
        .add("xl/_rels/workbook.bin.rels", binaryRels)
        .add("xl/worksheets/sheet 1.bin",
             record(0x91) + record(0x00, u32(0) + std::string(17, '\0')) + record(0x02, u32(0) + u32(0) + u32((7 << 2) | 2)) +
                 record(0x92))
        .save(dir / "book.xlsb");

    for (const char* name : {"book.xlsx", "book.xlsb"}) {
        auto book = engine::openWorkbook(dir / name);
        ASSERT_EQ(book->sheetCount(), 1) << name;
        book->saveAsCsv(dir / "out.csv", 1);
        EXPECT_EQ(readFile(dir / "out.csv"), "7\r\n") << name;
    }
}

}  // namespace
}  // namespace tabulon::test
