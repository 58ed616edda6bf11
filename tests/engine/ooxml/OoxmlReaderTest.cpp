#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <chrono>
#include <map>

#include "ReaderTestSupport.h"
#include "engine/Error.h"
#include "engine/MemoryBudget.h"
#include "engine/Workbook.h"

namespace tabulon::test {
namespace {

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string rel(const std::string& id, const std::string& type, const std::string& target, const std::string& ns = kRel)
{
    return "<Relationship Id=\"" + id + "\" Type=\"" + ns + "/" + type + "\" Target=\"" + target + "\"/>";
}

std::string worksheet(const std::string& cells, const std::string& head = "")
{
    return "<worksheet xmlns=\"" + kMain + "\">" + head + "<sheetData>" + cells + "</sheetData></worksheet>";
}

// A package with one worksheet (xl/worksheets/sheet1.xml), styles and shared strings; `parts`
// replaces or adds parts, and an empty text leaves a part out.
std::string package(std::map<std::string, std::string> parts)
{
    std::map<std::string, std::string> all = {
        {"[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
        {"_rels/.rels", "<Relationships>" + rel("rId1", "officeDocument", "xl/workbook.xml") + "</Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                                "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships>" + rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                                           rel("rId2", "styles", "styles.xml") +
                                           rel("rId3", "sharedStrings", "sharedStrings.xml") + "</Relationships>"},
        {"xl/styles.xml", "<styleSheet xmlns=\"" + kMain +
                              "\"><numFmts><numFmt numFmtId=\"164\" formatCode=\"0.00;&quot;neg &quot;0.00\"/></numFmts>"
                              "<cellStyleXfs><xf numFmtId=\"10\"/></cellStyleXfs>"
                              "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"14\"/>"
                              "<xf numFmtId=\"49\" quotePrefix=\"1\"/><xf numFmtId=\"22\"/></cellXfs>"
                              "<dxfs><dxf><numFmt numFmtId=\"164\" formatCode=\"&quot;dxf&quot;\"/></dxf></dxfs></styleSheet>"},
        {"xl/sharedStrings.xml", "<sst xmlns=\"" + kMain +
                                     "\"><si><t>plain</t></si><si><r><t>ri</t></r><r><rPr/><t>ch</t></r>"
                                     "<rPh sb=\"0\" eb=\"1\"><t>PHONETIC</t></rPh><phoneticPr fontId=\"1\"/></si>"
                                     "<si><t>a,b \"q\"_x000D__x000A_x_x005F_x0041_</t></si><si/></sst>"},
    };
    for (auto& [name, text] : parts)
        all[name] = text;
    ZipBuilder zip;
    for (const auto& [name, text] : all)
        if (!text.empty())
            zip.add(name, text);
    return zip.bytes();
}

std::string csvOf(const std::string& bytes, int position = 1) { return sheetCsv(openXlsx, bytes, position); }

// Compares with tests/engine/ooxml/golden/<name>.csv.
void expectGoldenCsv(const std::string& name, const std::string& csv)
{
    test::expectGolden(std::filesystem::path(TABULON_GOLDEN_DIR) / (name + ".csv"), csv);
}

std::string errorOf(const std::string& bytes) { return readError(openXlsx, bytes, "book.xlsx"); }

}  // namespace

TEST(OoxmlReader, CellTypesAndFormats)
{
    const std::string cells =
        "<row r=\"2\">"
        "<c r=\"B2\"><v>42</v></c><c r=\"C2\" s=\"1\"><v>-3.14159</v></c><c r=\"D2\" s=\"2\"><v>44197.5</v></c>"
        "<c r=\"E2\" t=\"s\"><v>0</v></c><c r=\"F2\" t=\"s\"><v>1</v></c><c r=\"G2\" t=\"s\"><v>2</v></c>"
        "<c r=\"H2\" t=\"s\"><v>3</v></c></row>"
        "<row r=\"3\"><c r=\"B3\" t=\"b\"><v>1</v></c><c r=\"C3\" t=\"b\"><v>0</v></c><c r=\"D3\" t=\"e\"><v>#DIV/0!</v></c>"
        "<c r=\"E3\" t=\"str\"><f>CONCAT(\"a\",\"b\")</f><v>a&amp;b</v></c><c r=\"F3\"><f>1+1</f><v>2</v></c>"
        "<c r=\"G3\"><f>NOW()</f></c><c r=\"H3\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c></row>"
        "<row r=\"4\"><c r=\"B4\" t=\"d\" s=\"2\"><v>2021-03-01</v></c><c r=\"C4\" t=\"d\" s=\"4\"><v>1900-01-01T06:00:00</v></c>"
        "<c r=\"D4\" t=\"d\" s=\"4\"><v>1900-03-01T18:30:00Z</v></c><c r=\"E4\" s=\"3\" t=\"s\"><v>0</v></c>"
        "<c r=\"F4\"><v> 1E-400 </v></c><c r=\"G4\"><v>1e400</v></c><c r=\"H4\" s=\"1\"/></row>"
        "<row r=\"6\"><c r=\"I6\" s=\"99\"><v>0.5</v></c><c r=\"J6\"/></row>";  // style out of range; bare cell
    expectGoldenCsv("cell_types", csvOf(package({{"xl/worksheets/sheet1.xml", worksheet(cells)}})));
}

// Producers other than the office application: no shared strings or styles, inline strings
// only, no references, no dimension, prefixes, strict namespaces, odd relationship targets.
TEST(OoxmlReader, OtherProducers)
{
    const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships";
    const std::string noReferences =
        worksheet("<row><c t=\"inlineStr\"><is><t>a</t></is></c><c><v>1</v></c><c r=\"E1\"><v>5</v></c><c><v>6</v></c></row>"
                  "<row/><row><c><v>3</v></c></row><row r=\"7\"><c r=\"B7\"><v>7</v></c></row>");
    const std::string prefixed =
        "<x:worksheet xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"><x:dimension ref=\"C3:D4\"/><x:sheetData>"
        "<x:row x:r=\"3\"><x:c r=\"C3\" t=\"inlineStr\"><x:is><x:t>strict</x:t></x:is></x:c></x:row>"
        "<x:row r=\"4\"><x:c r=\"D4\"><x:v>4</x:v></x:c><x:c r=\"C4\"><x:v>3</x:v></x:c></x:row></x:sheetData></x:worksheet>";
    const struct {
        const char* name;
        std::map<std::string, std::string> parts;
        std::string csv;
    } cases[] = {
        {"no references, no styles, no shared strings",
         {{"xl/worksheets/sheet1.xml", noReferences}, {"xl/styles.xml", ""}, {"xl/sharedStrings.xml", ""}},
         "a,1,,,5,6\r\n,,,,,\r\n3,,,,,\r\n,,,,,\r\n,,,,,\r\n,,,,,\r\n,7,,,,\r\n"},
        {"strict, prefixed, absolute and backslashed targets",
         {{"_rels/.rels", "<Relationships>" + rel("rId1", "officeDocument", "/xl/workbook.xml", strictRel) + "</Relationships>"},
          {"xl/_rels/workbook.xml.rels",
           "<Relationships>" + rel("rId1", "worksheet", "..\\xl\\sheets\\s%201.xml", strictRel) + "</Relationships>"},
          {"xl/sheets/s 1.xml", prefixed}},
         "strict,\r\n3,4\r\n"},
        {"no package relationships: the content types lead to the workbook",
         {{"_rels/.rels", ""},
          {"[Content_Types].xml",
           "<Types><Override PartName=\"/xl/workbook.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>"},
          {"xl/worksheets/sheet1.xml", worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")}},
         "1\r\n"},
        {"stale dimension",
         {{"xl/worksheets/sheet1.xml", worksheet("<row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"D2\"><v>2</v></c></row>",
                                                 "<dimension ref=\"A1:Z99\"/>")}},
         "1,,2\r\n"},
        {"empty sheet", {{"xl/worksheets/sheet1.xml", worksheet("", "<dimension ref=\"A1\"/>")}}, ""},
        {"empty styled cells extend the range; unstyled ones do not",
         {{"xl/worksheets/sheet1.xml",
           worksheet("<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"C1\" s=\"1\"/><c r=\"XFD1\" s=\"0\"/></row>"
                     "<row r=\"1048576\"><c r=\"A1048576\"/></row>")}},
         "1,,\r\n"},
        {"UTF-16 parts",
         {{"xl/workbook.xml", std::string("\xFF\xFE", 2) + [] {
               const std::string s = "<workbook xmlns:r=\"r\"><sheets><sheet name=\"W\" r:id=\"rId1\"/></sheets></workbook>";
               std::string u;
               for (char c : s)
                   u += std::string(1, c) + '\0';
               return u;
           }()},
          {"xl/worksheets/sheet1.xml", worksheet("<row><c t=\"s\"><v>0</v></c></row>")}},
         "plain\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csvOf(package(c.parts)), c.csv) << c.name;
}

TEST(OoxmlReader, SheetListAndDateSystem)
{
    const std::string workbook =
        "<workbook xmlns:r=\"" + kRel + "\"><workbookPr date1904=\"true\"/><sheets>"
        "<sheet name=\"Chart\" r:id=\"rId5\"/><sheet name=\"One &amp; only\" r:id=\"rId1\"/>"
        "<sheet name=\"Hidden\" state=\"hidden\" r:id=\"rId2\"/><sheet name=\"Dialog\" r:id=\"rId6\"/>"
        "<sheet name=\"Very\" state=\"veryHidden\" r:id=\"rId3\"/><sheet name=\"Macro\" r:id=\"rId7\"/></sheets></workbook>";
    const std::string rels = "<Relationships>" + rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                             rel("rId2", "worksheet", "worksheets/sheet1.xml") + rel("rId3", "worksheet", "worksheets/sheet1.xml") +
                             rel("rId5", "chartsheet", "chartsheets/sheet1.xml") + rel("rId6", "dialogsheet", "d.xml") +
                             rel("rId7", "xlMacrosheet", "m.xml") + rel("rId2", "styles", "styles.xml") +
                             rel("rId8", "sharedStrings", "sharedStrings.xml") + "</Relationships>";
    const std::string cells = "<row r=\"1\"><c r=\"A1\" s=\"2\"><v>0</v></c><c r=\"B1\" t=\"d\" s=\"2\"><v>1904-01-02</v></c></row>";
    const std::string bytes = package({{"xl/workbook.xml", workbook}, {"xl/_rels/workbook.xml.rels", rels},
                                       {"xl/worksheets/sheet1.xml", worksheet(cells)}});
    auto reader = openXlsx(bytes, "book.xlsx");
    EXPECT_TRUE(reader->date1904());
    std::string kinds;
    for (const auto& s : reader->sheets())
        kinds += s.name + ":" + std::to_string(int(s.kind)) + std::to_string(int(s.visibility)) + " ";
    EXPECT_EQ(kinds, "Chart:10 One & only:00 Hidden:01 Dialog:20 Very:02 Macro:30 ");
    EXPECT_EQ(convertToText(openXlsx, bytes, "book.xlsx"),
              "== 1 One & only\n1/1/1904,1/2/1904\r\n== 2 Hidden\n1/1/1904,1/2/1904\r\n== 3 Very\n1/1/1904,1/2/1904\r\n");
}

TEST(OoxmlReader, BadInputEndsInAPlainError)
{
    auto sheet = [](const std::string& xml) { return package({{"xl/worksheets/sheet1.xml", xml}}); };
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        {sheet(worksheet("<row><c t=\"s\"><v>4</v></c></row>")), "refers to shared string 4, which does not exist"},
        {sheet(worksheet("<row><c t=\"s\"><v>-1</v></c></row>")), "refers to shared string -1"},
        {sheet(worksheet("<row><c r=\"A1048577\"><v>1</v></c></row>")), "has a cell reference outside the sheet"},
        {sheet(worksheet("<row><c r=\"XFE1\"><v>1</v></c></row>")), "has a cell reference outside the sheet"},
        {sheet(worksheet("<row r=\"99999999999\"/>")), "has a row number outside the sheet"},
        {sheet(worksheet("<row><c r=\"XFD1\"><v>1</v></c><c><v>2</v></c></row>")), "more columns than a sheet can hold"},
        {sheet("<!DOCTYPE x [<!ENTITY a \"aaaa\">]>" + worksheet("")), "declares a document type or entities"},
        {sheet(worksheet("<row><c><v>1</v></c>").substr(0, 80)), "the part xl/worksheets/sheet1.xml is damaged"},
        {package({{"xl/worksheets/sheet1.xml", ""}}), "the sheet \"Data\" is missing from the package"},
        {package({{"xl/workbook.xml", ""}}), "the package has no workbook part"},
        {package({{"xl/workbook.xml", "<document/>"}}), "its main part is not a workbook"},
        {package({{"xl/workbook.xml", "<workbook><sheets/></workbook>"}}), "the workbook has no sheets"},
    };
    for (const auto& c : cases) {
        const std::string message = errorOf(c.bytes);
        EXPECT_EQ(message.rfind("Cannot read \"book.xlsx\": ", 0), 0u) << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
}

// A2 and XFD1048576 (with a stored dimension to match, or none) ask for 17 GB of commas;
// the sheet is refused at once. Through the shared-data builder the sheet's bytes are
// listed under a thousand names; that package is refused as it is opened.
TEST(OoxmlReader, HostilePackagesAreRefusedEarly)
{
    const std::string corners = "<row r=\"2\"><c r=\"A2\"><v>1</v></c></row>"
                                "<row r=\"1048576\"><c r=\"XFD1048576\"><v>2</v></c></row>";
    for (const std::string head : {"", "<dimension ref=\"A2:XFD1048576\"/>"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(errorOf(package({{"xl/worksheets/sheet1.xml", worksheet(corners, head)}})),
                  "Cannot read \"book.xlsx\": the worksheet \"Data\" would make a CSV file of at least 16 GiB, more "
                  "than the limit of 1 GiB, most of it empty fields (its used range A2:XFD1048576 holds 2 cells).");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }

    std::vector<std::string> names = {"xl/worksheets/sheet1.xml"};
    for (int i = 2; i <= 1000; ++i)
        names.push_back("xl/worksheets/sheet" + std::to_string(i) + ".xml");
    const std::string shared = sharedDataZip(names, worksheet(std::string(100000, ' ')));
    EXPECT_EQ(errorOf(shared), "Cannot read \"book.xlsx\": the file is damaged (two parts share their data).");
}

// One memory budget counts the workbook's shared strings and the cells of a sheet whose rows
// come out of order (with the formats and styles): beyond it the workbook is refused with a
// sentence, soon after the limit is passed. The limit is lowered here to keep the inputs small.
TEST(OoxmlReader, OneMemoryBudgetPerWorkbook)
{
    struct LimitBack {
        LimitBack() { engine::MemoryBudget::setDefaultLimit(uint64_t(16) << 20); }
        ~LimitBack() { engine::MemoryBudget::setDefaultLimit(engine::MemoryBudget::kDefaultLimit); }
    } limitBack;

    std::string strings = "<sst xmlns=\"" + kMain + "\">";
    uint32_t seed = 1;
    for (int i = 0; i < 1800; ++i) {
        strings += "<si><t>";
        for (int k = 0; k < 10000; ++k) {
            seed = seed * 1103515245 + 12345;
            strings += static_cast<char>('a' + (seed >> 16) % 26);
        }
        strings += "</t></si>";
    }
    strings += "</sst>";
    std::string rows;
    for (int r = 300; r >= 1; --r) {  // from the last row to the first
        rows += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < 26 * 40; ++c)
            rows += "<c><v>" + std::to_string(c) + "</v></c>";
        rows += "</row>";
    }
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"18 MB of shared strings",
         package({{"xl/sharedStrings.xml", strings}, {"xl/worksheets/sheet1.xml", worksheet("<row><c t=\"s\"><v>0</v></c></row>")}}),
         "its shared strings take "},
        {"312,000 cells out of order", package({{"xl/worksheets/sheet1.xml", worksheet(rows)}}),
         "the rows of a worksheet stored out of order take "},
    };
    for (const auto& c : cases) {
        PeakMemoryGrowth memory;
        const auto start = std::chrono::steady_clock::now();
        const std::string message = errorOf(c.bytes);
        EXPECT_EQ(message.rfind("Cannot read \"book.xlsx\": it needs more memory than one workbook may use (16 MiB): ", 0),
                  0u)
            << c.what << ": " << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
        EXPECT_LT(memory.bytes(), uint64_t(128) << 20) << c.what;
    }
    // Under the default limit both convert.
    engine::MemoryBudget::setDefaultLimit(engine::MemoryBudget::kDefaultLimit);
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c.bytes), "no error") << c.what;
}

// A workbook written by libxlsxwriter: what the application's own files look like.
TEST(OoxmlReader, XlsxwriterWorkbook)
{
    TempDir dir;
    const std::string path = (dir / "book.xlsx").string();
    lxw_workbook* wb = workbook_new(path.c_str());
    lxw_worksheet* first = workbook_add_worksheet(wb, "Mixed, \"quoted\"");
    lxw_worksheet* hidden = workbook_add_worksheet(wb, "Zürich");
    lxw_format* money = workbook_add_format(wb);
    format_set_num_format(money, "#,##0.00");
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy-mm-dd hh:mm");
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    worksheet_write_string(first, 1, 1, "a,b", nullptr);
    worksheet_write_string(first, 1, 2, "say \"hi\"\nbye", nullptr);
    worksheet_write_string(first, 1, 3, "日本語", nullptr);
    worksheet_write_number(first, 2, 1, 1234567.891, money);
    worksheet_write_number(first, 2, 2, 45000.75, date);
    worksheet_write_boolean(first, 2, 3, 1, nullptr);
    worksheet_write_formula_num(first, 3, 1, "=B3*2", nullptr, 2469135.782);
    worksheet_write_formula_str(first, 3, 2, "=\"x\"&\"y\"", nullptr, "xy");
    worksheet_write_blank(first, 5, 4, bold);
    worksheet_merge_range(first, 4, 1, 4, 3, "merged", bold);
    worksheet_write_number(hidden, 0, 0, 0.1 + 0.2, nullptr);
    worksheet_hide(hidden);
    ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    expectGoldenCsv("xlsxwriter", convertToText(openXlsx, readFile(path), "book.xlsx"));
}

// Sheets too large to inflate whole stream from a second thread; a wrong dimension makes the
// writer abandon a pass midway, and damage surfaces from that thread as the usual error.
TEST(OoxmlReader, LargeSheetsStreamInTheBackground)
{
    std::string cells, expected;
    for (int r = 1; r <= 60000; ++r) {
        const std::string n = std::to_string(r);
        cells += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\" t=\"s\"><v>" +
                 std::to_string(r % 2) + "</v></c><c r=\"C" + n + "\"><f>A" + n + "</f><v>" + n + ".5</v></c></row>";
        expected += n + "," + (r % 2 ? "rich" : "plain") + "," + n + ".5\r\n";
    }
    const std::string xml = worksheet(cells, "<dimension ref=\"A1:C59999\"/>");
    ASSERT_GT(xml.size(), size_t(4) << 20);
    const std::string bytes = package({{"xl/worksheets/sheet1.xml", xml}});
    EXPECT_EQ(csvOf(bytes), expected);

    // Cut the sheet's packed data short: the zip directory stays, the part is truncated.
    const std::string packed = package({{"xl/worksheets/sheet1.xml", xml.substr(0, xml.size() - 5000)}});
    const std::string message = errorOf(packed);
    EXPECT_NE(message.find("the part xl/worksheets/sheet1.xml is damaged (it ends early)"), std::string::npos) << message;
    std::string flipped = bytes;
    const size_t at = bytes.find("xl/worksheets/sheet1.xml") + 100000;  // inside its packed data
    flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
    EXPECT_NE(errorOf(flipped).find("Cannot read \"book.xlsx\": "), std::string::npos);
}

TEST(OoxmlReader, DamagedPackagesFailCleanly)
{
    const std::string cells =
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>2</v></c><c r=\"B1\" s=\"2\"><v>44197</v></c><c r=\"C1\" t=\"inlineStr\"><is><t>x</t></is></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"b\"><v>1</v></c><c r=\"B2\"><f>A1</f><v>3</v></c></row>";
    const std::string bytes = package({{"xl/worksheets/sheet1.xml", worksheet(cells, "<dimension ref=\"A1:C2\"/>")}});
    const int failures = damageAndConvert(openXlsx, bytes, 300);
    EXPECT_GT(failures, 200);  // almost every damage is detected: checksums guard the parts
}

}  // namespace tabulon::test
