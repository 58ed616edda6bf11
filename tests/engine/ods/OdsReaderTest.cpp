#include <gtest/gtest.h>

#include <chrono>

#include "Error.h"
#include "engine/ods/OdsContent.h"
#include "ReaderTestSupport.h"
#include "Workbook.h"

namespace tabulon::test {
namespace {

using engine::CellKind;

// content.xml around a body; prefixes are declared as the office suites declare them.
std::string content(const std::string& body, const std::string& styles = "")
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>)"
           R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
           R"(xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" )"
           R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
           R"(xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0" )"
           R"(xmlns:t="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
           R"(xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" office:version="1.3">)"
           "<office:automatic-styles>" + styles + "</office:automatic-styles>"
           "<office:body><office:spreadsheet>" + body + "</office:spreadsheet></office:body></office:document-content>";
}

std::string table(const std::string& name, const std::string& rows, const std::string& style = "")
{
    return "<t:table t:name=\"" + name + "\"" + (style.empty() ? "" : " t:style-name=\"" + style + "\"") + ">" +
           "<t:table-column t:number-columns-repeated=\"16384\"/>" + rows + "</t:table>";
}

std::string package(const std::string& contentXml, const std::string& manifest = "<manifest/>",
                    const std::string& stylesXml = "")
{
    ZipBuilder zip;
    zip.add("mimetype", "application/vnd.oasis.opendocument.spreadsheet", false)
        .add("content.xml", contentXml)
        .add("META-INF/manifest.xml", manifest);
    if (!stylesXml.empty())
        zip.add("styles.xml", stylesXml);
    return zip.bytes();
}

std::string oneCell(const std::string& cellXml) { return package(content(table("S", "<t:table-row>" + cellXml + "</t:table-row>"))); }

TEST(OdsReader, CorpusMatchesGoldenFiles)
{
    checkCorpusGolden(std::filesystem::path(TABULON_CORPUS_DIR) / "ods",
                      std::filesystem::path(TABULON_TEST_DIR) / "golden");
}

// Text cells are handed over as their paragraphs show them; numbers, dates and times as values
// (rendered through their data styles, General here where the cells have none).
TEST(OdsReader, CellsGiveTheirShownTextOrValue)
{
    const struct { std::string cell; std::string shown; } shown[] = {
        {"<t:table-cell><text:p>a<text:s/>b<text:s text:c=\"3\"/>c</text:p></t:table-cell>", "a b   c"},
        {"<t:table-cell><text:p>a<text:tab/>b<text:line-break/>c</text:p></t:table-cell>", "a\tb\nc"},
        {"<t:table-cell><text:p>one</text:p><text:p>two</text:p><text:p/></t:table-cell>", "one\ntwo\n"},
        // White space collapses; it is dropped at the start of a paragraph, kept as one space at its end.
        {"<t:table-cell><text:p>\n   lots   of\n\tspace  </text:p><text:p>  x </text:p></t:table-cell>", "lots of space \nx "},
        {"<t:table-cell><text:p>a <text:span>b</text:span> <text:a>link</text:a></text:p></t:table-cell>", "a b link"},
        {"<t:table-cell><text:p>x <text:s/>y</text:p></t:table-cell>", "x  y"},
        // Comments, footnote bodies and drawings are not part of the cell's text.
        {"<t:table-cell><office:annotation><text:p>note</text:p></office:annotation><text:p>cell</text:p></t:table-cell>", "cell"},
        {"<t:table-cell><text:p>A<text:note><text:note-citation>1</text:note-citation><text:note-body><text:p>foot</text:p>"
         "</text:note-body></text:note></text:p></t:table-cell>",
         "A1"},
        {"<t:table-cell><draw:frame><draw:text-box><text:p>shape</text:p></draw:text-box></draw:frame><text:p>v</text:p></t:table-cell>", "v"},
        {"<t:table-cell><text:list><text:list-item><text:p>item</text:p></text:list-item></text:list></t:table-cell>", "item"},
        // Formula results keep line ends and spaces in the string value, which the paragraphs lose.
        {"<t:table-cell office:value-type=\"string\" office:string-value=\"a&#x0d;&#x0a;b  c\"><text:p>a&#x0d;</text:p><text:p>b c</text:p></t:table-cell>",
         "a\r\nb  c"},
        {"<t:table-cell office:value-type=\"string\" office:string-value=\"only\"/>", "only"},
        // Dates before any serial number and values that do not parse keep their text.
        {"<t:table-cell office:value-type=\"date\" office:date-value=\"1899-12-29\"/>", "1899-12-29"},
        {"<t:table-cell office:value-type=\"date\" office:date-value=\"2024-02-30\"><text:p>x</text:p></t:table-cell>", "x"},
        {"<t:table-cell office:value-type=\"time\" office:time-value=\"bogus\"/>", "bogus"},
        {"<t:table-cell><text:p>&lt;&amp;&gt; \xC3\xA9\xE2\x82\xAC</text:p></t:table-cell>", "<&> \xC3\xA9\xE2\x82\xAC"},
    };
    const struct { std::string cell; CellKind kind; double number; } values[] = {
        {R"(<t:table-cell office:value-type="float" office:value="1234.5"/>)", CellKind::Number, 1234.5},
        {R"(<t:table-cell office:value-type="float" office:value="0.5"><text:p>50.0 %</text:p></t:table-cell>)", CellKind::Number, 0.5},
        {R"(<t:table-cell office:value-type="date" office:date-value="2024-02-29"/>)", CellKind::Number, 45351},
        {R"(<t:table-cell office:value-type="date" office:date-value="2024-02-29T13:05:00.5Z"/>)", CellKind::Number,
         45351 + (13 * 3600 + 5 * 60 + 0.5) / 86400},
        {R"(<t:table-cell office:value-type="date" office:date-value="1900-02-28"/>)", CellKind::Number, 59},
        {R"(<t:table-cell office:value-type="date" office:date-value="1900-03-01"/>)", CellKind::Number, 61},
        {R"(<t:table-cell office:value-type="date" office:date-value="1899-12-30T06:00:00"/>)", CellKind::Number, 0.25},
        {R"(<t:table-cell office:value-type="float" office:value="-1E-3"/>)", CellKind::Number, -0.001},
        {R"(<t:table-cell office:value-type="percentage" office:value="0.25"/>)", CellKind::Number, 0.25},
        {R"(<t:table-cell office:value-type="currency" office:currency="EUR" office:value="3"/>)", CellKind::Number, 3},
        {R"(<t:table-cell office:value-type="time" office:time-value="PT12H30M00S"/>)", CellKind::Number, 0.5 + 1.0 / 48},
        {R"(<t:table-cell office:value-type="time" office:time-value="P1DT6H"/>)", CellKind::Number, 1.25},
        {R"(<t:table-cell office:value-type="boolean" office:boolean-value="true"/>)", CellKind::Bool, 1},
        {R"(<t:table-cell office:value-type="boolean" office:boolean-value="false"/>)", CellKind::Bool, 0},
        {R"(<t:table-cell office:value-type="boolean" office:boolean-value="false"><text:p>FAUX</text:p></t:table-cell>)", CellKind::Bool, 0},
    };
    auto only = [](const std::string& cellXml) {
        const std::string bytes = oneCell(cellXml);  // the archive reads from these bytes
        auto reader = openOds(bytes, "t.ods");
        auto cells = readCells(*reader, 0);
        EXPECT_EQ(cells.size(), 1u) << cellXml;
        cells.resize(1);
        return std::pair(cells[0], reader->styles().xfFormatIds.size());
    };
    for (const auto& c : shown) {
        const auto [cell, styles] = only(c.cell);
        EXPECT_EQ(cell.kind, CellKind::Shown) << c.cell;
        EXPECT_EQ(cell.text, c.shown) << c.cell;
    }
    for (const auto& c : values) {
        const auto [cell, styles] = only(c.cell);
        EXPECT_EQ(cell.kind, c.kind) << c.cell;
        EXPECT_DOUBLE_EQ(cell.number, c.number) << c.cell;
        EXPECT_GE(cell.style, styles) << "General";
    }
}

// Numbers, dates and times show through their data styles, translated into format codes; the
// paragraphs (here in another language, or stale) are what the writing program showed.
TEST(OdsReader, DataStylesShowValuesAsTheirFormatCodes)
{
    const std::string dataStyles =
        R"(<number:number-style style:name="N0"><number:number number:min-integer-digits="1"/></number:number-style>)"
        R"(<number:number-style style:name="N1"><number:number number:decimal-places="0" number:min-integer-digits="7"/></number:number-style>)"
        R"(<number:number-style style:name="N2P0"><number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/></number:number-style>)"
        R"(<number:number-style style:name="N2"><number:text>- </number:text><number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/>)"
        R"(<style:map style:condition="value()&gt;=0" style:apply-style-name="N2P0"/></number:number-style>)"
        R"(<number:percentage-style style:name="N3"><number:number number:decimal-places="1" number:min-integer-digits="1"/><number:text>%</number:text></number:percentage-style>)"
        R"(<number:currency-style style:name="N4"><number:number number:decimal-places="2" number:min-integer-digits="1"/><number:text> </number:text><number:currency-symbol>€</number:currency-symbol></number:currency-style>)"
        R"(<number:date-style style:name="N5"><number:day number:style="long"/><number:text>/</number:text><number:month number:style="long"/><number:text>/</number:text><number:year number:style="long"/></number:date-style>)"
        R"(<number:date-style style:name="N6"><number:day-of-week number:style="long"/><number:text>, </number:text><number:month number:textual="true" number:style="long"/><number:text> </number:text><number:day/></number:date-style>)"
        R"(<number:time-style style:name="N7" number:truncate-on-overflow="false"><number:hours/><number:text>:</number:text><number:minutes number:style="long"/><number:text>:</number:text><number:seconds number:style="long"/></number:time-style>)"
        R"(<number:time-style style:name="N8"><number:hours/><number:text>:</number:text><number:minutes number:style="long"/><number:text> </number:text><number:am-pm/></number:time-style>)"
        R"(<number:number-style style:name="N9"><number:fraction number:min-integer-digits="0" number:min-numerator-digits="1" number:min-denominator-digits="1"/></number:number-style>)"
        R"(<number:number-style style:name="N10"><number:scientific-number number:decimal-places="2" number:min-integer-digits="1" number:min-exponent-digits="2"/></number:number-style>)"
        R"(<number:boolean-style style:name="N11"><number:boolean/></number:boolean-style>)"
        R"(<number:date-style style:name="N13"><number:quarter/><number:text> </number:text><number:year number:style="long"/></number:date-style>)"
        R"(<number:number-style style:name="N14"><number:number number:decimal-places="0" number:min-integer-digits="1"><number:embedded-text number:position="3">-</number:embedded-text></number:number></number:number-style>)"
        R"(<number:text-style style:name="N15P0"><number:text>big</number:text></number:text-style>)"
        R"(<number:number-style style:name="N15"><number:number number:decimal-places="0" number:min-integer-digits="1"/><style:map style:condition="value() &gt; 100" style:apply-style-name="N15P0"/></number:number-style>)"
        R"(<number:date-style style:name="N16"><number:era number:calendar="gengou" number:style="long"/><number:year number:calendar="gengou"/></number:date-style>)"
        // The accounting format as one writer stores it: three mapped sections and a text section.
        R"(<number:currency-style style:name="N17P0"><number:text> </number:text><number:currency-symbol>$</number:currency-symbol><number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/><number:text> </number:text></number:currency-style>)"
        R"(<number:currency-style style:name="N17P1"><number:text> </number:text><number:currency-symbol>$</number:currency-symbol><number:text>(</number:text><number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/><number:text>)</number:text></number:currency-style>)"
        R"(<number:currency-style style:name="N17P2"><number:text> </number:text><number:currency-symbol>$</number:currency-symbol><number:text>- </number:text></number:currency-style>)"
        R"(<number:text-style style:name="N17"><number:text> </number:text><number:text-content/><number:text> </number:text><style:map style:condition="value()&gt;0" style:apply-style-name="N17P0"/>)"
        R"(<style:map style:condition="value()&lt;0" style:apply-style-name="N17P1"/><style:map style:condition="value()=0" style:apply-style-name="N17P2"/></number:text-style>)"
        R"(<number:number-style style:name="N18"><number:scientific-number number:decimal-places="1" number:min-integer-digits="1" number:exponent-interval="3" number:min-exponent-digits="1"/></number:number-style>)"
        R"(<number:number-style style:name="N19"><number:fraction number:min-integer-digits="1" number:min-numerator-digits="2" number:denominator-value="16"/></number:number-style>)"
        R"(<number:number-style style:name="N21"><number:number number:decimal-places="2" number:min-decimal-places="1" number:min-integer-digits="1" number:display-factor="1000"/><number:text>k</number:text></number:number-style>)"
        R"(<number:number-style style:name="N22"><number:number number:decimal-places="2" number:min-integer-digits="1" number:decimal-replacement="--"/></number:number-style>)"
        R"(<number:number-style style:name="N23P0"><number:number number:decimal-places="0" number:min-integer-digits="1"/></number:number-style>)"
        R"x(<number:number-style style:name="N23"><number:text>none</number:text><style:map style:condition="is-true()" style:apply-style-name="N23P0"/></number:number-style>)x";
    std::string cellStyles;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19, 21, 22, 23})
        cellStyles += "<style:style style:name=\"ce" + std::to_string(i) + "\" style:family=\"table-cell\" "
                      "style:parent-style-name=\"Default\" style:data-style-name=\"N" + std::to_string(i) + "\"/>";
    // A common style of styles.xml, reached through the parent of an automatic one.
    cellStyles += R"(<style:style style:name="ce20" style:family="table-cell" style:parent-style-name="Money"/>)";
    const std::string stylesXml =
        R"(<office:document-styles xmlns:office="o" xmlns:style="s" xmlns:number="n"><office:styles>)"
        R"(<number:currency-style style:name="N20"><number:currency-symbol>$</number:currency-symbol>)"
        R"(<number:number number:decimal-places="2" number:min-integer-digits="1" number:grouping="true"/></number:currency-style>)"
        R"(<style:style style:name="Default" style:family="table-cell"/>)"
        R"(<style:style style:name="Money" style:family="table-cell" style:data-style-name="N20"/>)"
        R"(</office:styles></office:document-styles>)";
    const struct { const char* style; const char* type; const char* value; const char* paragraph; const char* shown; } cases[] = {
        {"ce0", "float", "office:value=\"3.3\"", "3,3", "3.3"},
        {"ce1", "float", "office:value=\"1235\"", "1,235", "0001235"},
        {"ce2", "float", "office:value=\"-1234.567\"", "", "\"- 1,234.57\""},
        {"ce2", "float", "office:value=\"5\"", "", "5.00"},
        {"ce3", "percentage", "office:value=\"0.125\"", "12,5 %", "12.5%"},
        {"ce4", "currency", "office:value=\"3\"", "3,00 €", "3.00 €"},
        {"ce5", "date", "office:date-value=\"2024-02-29\"", "", "29/02/2024"},
        {"ce6", "date", "office:date-value=\"2024-02-29\"", "", "\"Thursday, February 29\""},
        {"ce7", "time", "office:time-value=\"PT36H00M00S\"", "", "36:00:00"},
        {"ce8", "time", "office:time-value=\"PT13H05M00S\"", "", "1:05 PM"},
        {"ce9", "float", "office:value=\"12.3\"", "", "12 1/3"},
        {"ce10", "float", "office:value=\"12345\"", "", "1.23E+04"},
        {"ce11", "boolean", "office:boolean-value=\"true\"", "WAHR", "TRUE"},
        {"ce11", "float", "office:value=\"0\"", "", "FALSE"},
        {"ce13", "date", "office:date-value=\"2024-02-29\"", "Q1 2024", "Q1 2024"},  // no code shows quarters
        {"ce14", "float", "office:value=\"1234567\"", "", "1234-567"},
        {"ce15", "float", "office:value=\"150\"", "", "big"},
        {"ce15", "float", "office:value=\"5\"", "", "5"},
        {"ce16", "date", "office:date-value=\"2021-01-01\"", "", "令和3"},
        {"ce20", "currency", "office:value=\"3\"", "", "$3.00"},
        {"ce17", "currency", "office:value=\"-1234.5\"", "", "\" $(1,234.50)\""},
        {"ce17", "currency", "office:value=\"0\"", "", " $- "},
        {"ce18", "float", "office:value=\"12345\"", "", "12.3E+3"},
        {"ce19", "float", "office:value=\"2.3\"", "", "2  5/16"},
        {"ce21", "float", "office:value=\"12345\"", "", "12.35k"},
        {"ce21", "float", "office:value=\"12000\"", "", "12.0k"},
        // Parts no format code can express leave the paragraph as the writer showed it.
        {"ce22", "float", "office:value=\"3\"", "3.--", "3.--"},
        {"ce23", "float", "office:value=\"3\"", "three", "three"},
        {"ce4", "string", "office:string-value=\"text\"", "text", "text"},  // text keeps its paragraph
        {"", "float", "office:value=\"1235\"", "", "0001235"},                  // the column's default style
    };
    std::string rows, expected;
    for (const auto& c : cases) {
        rows += std::string("<t:table-row><t:table-cell") + (*c.style ? " t:style-name=\"" + std::string(c.style) + "\"" : "") +
                " office:value-type=\"" + c.type + "\" " + c.value + "><text:p>" + c.paragraph + "</text:p></t:table-cell></t:table-row>";
        expected += std::string(c.shown) + "\r\n";
    }
    const std::string body = "<t:table t:name=\"S\"><t:table-column t:default-cell-style-name=\"ce1\"/>" + rows + "</t:table>";
    EXPECT_EQ(sheetCsv(openOds, package(content(body, dataStyles + cellStyles), "<manifest/>", stylesXml)), expected);

    // Numbers count days from the null date, here 1904-01-01; dates stay the dates they are.
    const std::string from1904 =
        "<t:calculation-settings><t:null-date t:date-value=\"1904-01-01\"/></t:calculation-settings>"
        "<t:table t:name=\"S\"><t:table-row><t:table-cell t:style-name=\"ce5\" office:value-type=\"float\" "
        "office:value=\"1\"/><t:table-cell t:style-name=\"ce5\" office:value-type=\"date\" "
        "office:date-value=\"2024-02-29\"/></t:table-row></t:table>";
    EXPECT_EQ(sheetCsv(openOds, package(content(from1904, dataStyles + cellStyles))), "02/01/1904,29/02/2024\r\n");
}

TEST(OdsReader, RepeatsCoveredAndEmptyCellsMakeTheGrid)
{
    // Styled empty cells and rows repeated to the sheet's edge cost nothing and add nothing.
    const std::string rows =
        "<t:table-row t:number-rows-repeated=\"2\"><t:table-cell t:number-columns-repeated=\"16384\"/></t:table-row>"
        "<t:table-row><t:table-cell/><t:table-cell t:number-columns-spanned=\"2\" t:number-rows-spanned=\"2\">"
        "<text:p>m</text:p></t:table-cell><t:covered-table-cell/><t:table-cell t:number-columns-repeated=\"2\">"
        "<text:p>r</text:p></t:table-cell><t:table-cell t:style-name=\"x\" t:number-columns-repeated=\"16379\"/></t:table-row>"
        "<t:table-rows><t:table-row t:number-rows-repeated=\"2\"><t:covered-table-cell t:number-columns-repeated=\"2\"/>"
        "<t:covered-table-cell office:value-type=\"string\"><text:p>hidden</text:p></t:covered-table-cell>"
        "<t:table-cell office:value-type=\"float\" office:value=\"7\"><text:p>7</text:p></t:table-cell></t:table-row></t:table-rows>"
        "<t:table-row t:number-rows-repeated=\"1048571\"><t:table-cell t:number-columns-repeated=\"1024\"/></t:table-row>";
    const std::string bytes = package(content(table("Grid", rows)));
    EXPECT_EQ(sheetCsv(openOds, bytes), "m,,r,r\r\n,,7,\r\n,,7,\r\n");

    auto reader = openOds(bytes, "t.ods");
    const auto start = std::chrono::steady_clock::now();
    const auto cells = readCells(*reader, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(cells.size(), 7u);  // the covered cell with a value counts as an empty field
    // Measured while listing: the range the cells fill, so the sheet is written in one pass.
    EXPECT_EQ(reader->dimension(0), (engine::CellRange{2, 1, 4, 4}));
}

TEST(OdsReader, LargeTablesParseInTheBackground)
{
    // Tables beyond a megabyte are parsed in a second thread: the same cells, the same errors.
    std::string rows, expected;
    for (int r = 0; r < 20000; ++r) {
        const std::string n = std::to_string(r);
        rows += "<t:table-row><t:table-cell office:value-type=\"string\"><text:p>row " + n + "</text:p></t:table-cell>"
                "<t:table-cell office:value-type=\"float\" office:value=\"" + n + ".5\"><text:p>x</text:p></t:table-cell></t:table-row>";
        expected += "row " + n + "," + n + ".5\r\n";
    }
    ASSERT_GT(rows.size(), size_t(2) << 20);
    EXPECT_EQ(sheetCsv(openOds, package(content(table("Big", rows)))), expected);

    const std::string refused = rows + "<t:table-row><t:table-cell t:number-columns-repeated=\"16384\"/>"
                                       "<t:table-cell><text:p>x</text:p></t:table-cell></t:table-row>";
    const std::string text = readError(openOds, package(content(table("Big", refused))), "bad.ods");
    EXPECT_NE(text.find("a table has a cell beyond the last column a sheet can have"), std::string::npos) << text;
}

TEST(OdsReader, LongTextStopsAtTheCellCap)
{
    // Words are copied whole until the cap; the text ends one byte short of it, mid-word.
    const size_t cap = engine::OdsContent::kMaxCellText;
    const std::string first(cap / 2, 'a'), second(cap, 'b');
    const auto cells = readCells(*openOds(oneCell("<t:table-cell><text:p>  " + first + " \n " + second + " c</text:p></t:table-cell>"), "t.ods"), 0);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].text, first + " " + second.substr(0, cap - 2 - first.size()));
}

TEST(OdsReader, TablesAreMeasuredWhileListed)
{
    // A table this program refuses to read leaves the others readable and measured.
    const std::string refused =
        "<t:table-row><t:table-cell t:number-columns-repeated=\"16384\"/><t:table-cell><text:p>x</text:p></t:table-cell></t:table-row>";
    const std::string body = table("A", "<t:table-row/><t:table-row><t:table-cell/><t:table-cell><text:p>b2</text:p></t:table-cell></t:table-row>") +
                             table("Refused", refused) + "<t:table t:name=\"Empty\"/>" +
                             table("D", "<t:table-row t:number-rows-repeated=\"3\"><t:table-cell><text:p>d</text:p></t:table-cell></t:table-row>");
    auto reader = openOds(package(content(body)), "t.ods");
    ASSERT_EQ(reader->sheets().size(), 4u);
    EXPECT_EQ(reader->dimension(0), (engine::CellRange{1, 1, 1, 1}));
    EXPECT_EQ(reader->dimension(1), std::nullopt);
    EXPECT_EQ(reader->dimension(2), std::nullopt);
    EXPECT_EQ(reader->dimension(3), (engine::CellRange{0, 0, 2, 0}));
    EXPECT_EQ(readCells(*reader, 3).size(), 3u);
    EXPECT_THROW(readCells(*reader, 1), engine::Error);
}

TEST(OdsReader, ListsTablesInOrderWithHiddenOnes)
{
    const std::string styles =
        R"(<style:style style:name="ta1" style:family="table"><style:table-properties t:display="true"/></style:style>)"
        R"(<style:style style:name="ta2" style:family="table"><style:table-properties t:display="false"/></style:style>)"
        R"(<style:style style:name="ce1" style:family="table-cell"><style:table-properties t:display="false"/></style:style>)";
    const std::string body = table("First", "<t:table-row><t:table-cell><text:p>1</text:p></t:table-cell></t:table-row>", "ta1") +
                             table("Hidden \xE2\x98\x83", "<t:table-row><t:table-cell><text:p>2</text:p></t:table-cell></t:table-row>", "ta2") +
                             table("Empty", "", "ce1") + "<t:named-expressions/>";
    const std::string bytes = package(content(body, styles));
    auto reader = openOds(bytes, "t.ods");
    std::string listed;  // name:visibility
    for (const auto& s : reader->sheets())
        listed += s.name + ":" + std::to_string(int(s.visibility)) + " ";
    EXPECT_EQ(listed, "First:0 Hidden \xE2\x98\x83:1 Empty:0 ");
    EXPECT_EQ(convertToText(openOds, bytes, "t.ods"), "== 1 First\n1\r\n== 2 Hidden \xE2\x98\x83\n2\r\n== 3 Empty\n");
}

TEST(OdsReader, EachTableIsReadAloneInAnyOrder)
{
    // Comments, other elements and a self-closing table around the tables; with 24 MB of
    // comments between them the reader's copy of the part no longer fits in memory.
    auto body = [](const std::string& filler) {
        return "<!-- a -->" + table("A", "<t:table-row><t:table-cell><text:p>a1</text:p></t:table-cell></t:table-row>") +
               "<t:named-expressions/><!-- b -->" +
               table("B", "<t:table-row/><t:table-row><t:table-cell/><t:table-cell office:value-type=\"float\" "
                          "office:value=\"2\"><text:p>2</text:p></t:table-cell></t:table-row>") +
               "<t:table t:name=\"C\"/>" + filler +
               table("D", "<t:table-row t:number-rows-repeated=\"2\"><t:table-cell><text:p>d &amp; <text:s text:c=\"2\"/>e"
                          "</text:p></t:table-cell></t:table-row>");
    };
    std::string filler;
    for (int i = 0; i < 3; ++i)
        filler += "<!--" + std::string(8 << 20, 'x') + "-->";
    const std::string expected = "== 1 A\na1\r\n== 2 B\n2\r\n== 3 C\n== 4 D\nd &   e\r\nd &   e\r\n";
    for (const bool large : {false, true}) {
        // Stored, not deflated: the zip layer refuses parts that inflate that much.
        const std::string bytes = ZipBuilder().add("content.xml", content(body(large ? filler : "")), false).bytes();
        EXPECT_EQ(convertToText(openOds, bytes, "t.ods"), expected) << large;
        auto reader = openOds(bytes, "t.ods");
        const auto d = readCells(*reader, 3);
        EXPECT_EQ(d.size(), 2u);
        EXPECT_EQ(readCells(*reader, 1).size(), 1u);
        EXPECT_EQ(readCells(*reader, 0).at(0).text, "a1");
        EXPECT_EQ(readCells(*reader, 3), d);
        EXPECT_TRUE(readCells(*reader, 2).empty());
    }
}

TEST(OdsReader, BadPackagesFailWithAPlainSentence)
{
    const std::string manyX =
        "<t:table-row t:number-rows-repeated=\"999999999\"><t:table-cell t:number-columns-repeated=\"999999999\" "
        "office:value-type=\"string\"><text:p>X</text:p></t:table-cell></t:table-row>";
    std::string manySpaces;
    for (int i = 0; i < 100; ++i)
        manySpaces += "<t:table-cell><text:p><text:s text:c=\"1000000\"/></text:p></t:table-cell>";
    const std::string longRepeated = "<t:table-row t:number-rows-repeated=\"1000\"><t:table-cell t:number-columns-repeated=\"1000\">"
                                     "<text:p>" + std::string(2000, 'x') + "</text:p></t:table-cell></t:table-row>";
    const struct { const char* what; std::string bytes; std::string message; } cases[] = {
        {"encrypted", package(content(""), "<manifest:encryption-data/>"), "the workbook is password-protected"},
        {"text document", package(R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"><office:body><office:text/></office:body></office:document-content>)"),
         "the document is not a spreadsheet"},
        {"no content", ZipBuilder().add("mimetype", "application/vnd.oasis.opendocument.spreadsheet").bytes(),
         "the package has no content.xml part"},
        {"broken XML", package(content(table("S", "<t:table-row>"))), "the part content.xml is damaged"},
        {"document type", package("<!DOCTYPE x [<!ENTITY a \"b\">]>" + content("")), "declares a document type"},
        {"document type in styles.xml", package(content(""), "<manifest/>", "<!DOCTYPE x [<!ENTITY a \"b\">]><x/>"),
         "styles.xml"},
        {"huge repeat", package(content(table("S", manyX))), "its tables repeat cells more often than this program accepts"},
        {"spaces from text:s", package(content(table("S", "<t:table-row>" + manySpaces + "</t:table-row>"))),
         "its cells repeat spaces more often than this program accepts"},
        {"long text repeated", package(content(table("S", longRepeated))),
         "its tables repeat cells more often than this program accepts"},
        {"cell beyond the last row",
         package(content(table("S", "<t:table-row t:number-rows-repeated=\"1048576\"/><t:table-row><t:table-cell><text:p>x</text:p></t:table-cell></t:table-row>"))),
         "a table has a cell beyond the last row a sheet can have"},
        {"cell beyond the last column",
         package(content(table("S", "<t:table-row><t:table-cell t:number-columns-repeated=\"16384\"/><t:table-cell><text:p>x</text:p></t:table-cell></t:table-row>"))),
         "a table has a cell beyond the last column a sheet can have"},
    };
    for (const auto& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string text = readError(openOds, c.bytes, "bad.ods");  // "no error" fails the first check
        EXPECT_EQ(text.rfind("Cannot read \"bad.ods\": ", 0), 0u) << c.what << ": " << text;
        EXPECT_NE(text.find(c.message), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(text.find("Cannot"), text.rfind("Cannot")) << text;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
    }
}

TEST(OdsReader, SurvivesTruncationAndFlippedBytes)
{
    std::string rows;
    for (int r = 0; r < 30; ++r)
        rows += "<t:table-row t:number-rows-repeated=\"2\"><t:table-cell office:value-type=\"float\" office:value=\"" +
                std::to_string(r) + "\"><text:p>" + std::to_string(r) +
                "</text:p></t:table-cell><t:table-cell t:number-columns-repeated=\"3\"><text:p>a<text:s t:c=\"2\"/>b</text:p>"
                "</t:table-cell><t:covered-table-cell/></t:table-row>";
    const std::string bytes = ZipBuilder()
                                  .add("mimetype", "application/vnd.oasis.opendocument.spreadsheet", false)
                                  .add("content.xml", content(table("A", rows) + table("B", rows)), false)
                                  .bytes();
    ASSERT_NO_THROW(convertToText(openOds, bytes, "good.ods"));
    EXPECT_GT(damageAndConvert(openOds, bytes, 400), 100);
}

}  // namespace

// The caps on repeated cells hold for the workbook, not for each table: three tables of four
// million repeated cells each pass one by one, and the third is refused. Reading a table a
// second time does not count it twice.
TEST(OdsReader, RepeatedCellsAreCountedPerWorkbook)
{
    const std::string rows = "<t:table-row t:number-rows-repeated=\"1000\"><t:table-cell t:number-columns-repeated=\"4000\" "
                             "office:value-type=\"string\"><text:p>x</text:p></t:table-cell></t:table-row>";
    const std::string bytes = package(content(table("A", rows) + table("B", rows) + table("C", rows)));
    ASSERT_LT(bytes.size(), 2000u);
    TempDir dir;
    PeakMemoryGrowth memory;
    auto book = engine::makeWorkbook(openOds(bytes, "tables.ods"), "tables.ods");
    for (int position : {1, 2, 1})
        book->saveAsCsv(dir / "sheet.csv", position);
    EXPECT_EQ(std::filesystem::file_size(dir / "sheet.csv"), 1000u * 8001u);
    const auto start = std::chrono::steady_clock::now();
    try {
        book->saveAsCsv(dir / "third.csv", 3);
        ADD_FAILURE() << "no error";
    } catch (const engine::Error& e) {
        EXPECT_STREQ(e.what(), "Cannot read \"tables.ods\": its tables repeat cells more often than this program accepts "
                               "(12000000 or more cells) (part content.xml).");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "third.csv"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LT(memory.bytes(), uint64_t(256) << 20);
}

// Two cells at the corners, the gap made of repeat counts: refused by its size, at once.
TEST(OdsReader, CornerCellsDoNotWriteGigabytes)
{
    const std::string rows =
        "<t:table-row><t:table-cell><text:p>a</text:p></t:table-cell></t:table-row>"
        "<t:table-row t:number-rows-repeated=\"1048574\"><t:table-cell t:number-columns-repeated=\"16384\"/></t:table-row>"
        "<t:table-row><t:table-cell t:number-columns-repeated=\"16383\"/><t:table-cell><text:p>b</text:p></t:table-cell>"
        "</t:table-row>";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readError(openOds, package(content(table("Corners", rows))), "corners.ods"),
              "Cannot read \"corners.ods\": the worksheet \"Corners\" would make a CSV file of at least 16 GiB, more "
              "than the limit of 1 GiB, most of it empty fields (its used range A1:XFD1048576 holds 2 cells).");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace tabulon::test
