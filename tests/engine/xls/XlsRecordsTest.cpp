// Workbooks assembled record by record, for what writers at hand do not produce.
#include <gtest/gtest.h>

#include <limits>

#include "Error.h"
#include "ReaderTestSupport.h"
#include "Workbook.h"
#include "XlsBuilder.h"
#include "xls/XlsReader.h"

namespace tabulon::test {
namespace {
using namespace xls;

std::unique_ptr<engine::BookReader> openXls(const std::string& bytes, const std::string& name)
{
    return engine::openXlsReaderFromMemory(bytes.data(), bytes.size(), name);
}

std::string csv(const std::string& bytes, int position = 1) { return sheetCsv(openXls, bytes, position); }

std::string errorOf(const std::string& bytes, const std::string& name = "book.xls")
{
    try {
        convertToText(openXls, bytes, name);
    } catch (const engine::Error& e) {
        return e.what();
    }
    return "no error";
}

std::string sst(const std::vector<std::string>& strings)
{
    std::string body = u32(static_cast<uint32_t>(strings.size())) + u32(static_cast<uint32_t>(strings.size()));
    for (const auto& s : strings)
        body += u16(static_cast<uint16_t>(s.size())) + chars8(s);
    return body;
}

Record rk(uint16_t row, uint16_t col, uint32_t value, uint16_t xf = 15)
{
    return {0x027E, u16(row) + u16(col) + u16(xf) + u32(value)};
}

TEST(XlsRecords, CellRecordsOfEveryKind)
{
    const std::vector<Record> globals = {
        {0x041E, u16(164) + u16(5) + chars8("0.000")},
        {0x00E0, u16(0) + u16(164) + u16(1) + std::string(14, '\0')},  // XF 16
        {0x00E0, u16(0) + u16(14) + u16(1) + std::string(14, '\0')},   // XF 17
        {0x00FC, sst({"alpha", "beta"})},
    };
    const std::string mulrk = u16(2) + u16(0) + u16(15) + u32((1u << 2) | 2) + u16(15) + u32(0xFFFFFFFA) + u16(15) +
                              u32(0x3FE00001) + u16(2);
    const std::string rstring = u16(0) + u16(3) + u16(15) + u16(4) + chars8("rich") + u16(1) + u16(0) + u16(0);
    Sheet sheet{"Cells",
                {
                    {0x0200, u32(0) + u32(6) + u16(0) + u16(6) + u16(0)}, labelSst(0, 0, 0), labelSst(0, 1, 1),
                    {0x0204, u16(0) + u16(2) + u16(15) + u16(5) + chars8("label")}, {0x00D6, rstring},
                    number(1, 0, 1.5, 16), rk(1, 1, (123u << 2) | 2), rk(1, 2, (12345u << 2) | 3),
                    rk(1, 3, 0x40040000),      // 2.5 as the high half of a double
                    rk(1, 4, 0x405F4000 | 1),  // 125.0 divided by 100
                    {0x00BD, mulrk}, {0x0205, u16(3) + u16(0) + u16(15) + std::string("\1\0", 2)},
                    {0x0205, u16(3) + u16(1) + u16(15) + std::string("\x07\1", 2)}, {0x0201, u16(3) + u16(2) + u16(15)},
                    {0x00BE, u16(3) + u16(3) + u16(15) + u16(15) + u16(15) + u16(5)},
                    formula(4, 0, f64(44197), 17), formula(4, 1, formulaTagged(0)),
                    {0x04BC, std::string(10, '\0')},  // a shared formula between FORMULA and STRING
                    {0x0207, u16(12) + chars8("from formula")},
                    formula(4, 2, formulaTagged(1, 1)), formula(4, 3, formulaTagged(2, 0x2A)),
                    formula(4, 4, formulaTagged(3)),
                    // An embedded chart's substream: its records are not cells of the sheet.
                    {0x0809, u16(0x0600) + u16(0x0020) + std::string(12, '\0')}, number(9, 9, 99), {0x000A, ""},
                    formula(5, 0, formulaTagged(0)),  // its STRING record is missing
                    number(5, 1, 7), labelSst(5, 2, 99), labelSst(5, 2, 0xFFFFFFFF),  // no such shared strings
                    number(5, 3, std::numeric_limits<double>::infinity()),
                }};
    const std::string book = compoundFile({{"Workbook", workbookStream(globals, {sheet})}});
    EXPECT_EQ(csv(book), "alpha,beta,label,rich,,\r\n"
                         "1.500,123,123.45,2.5,1.25,\r\n"
                         "1,-2,0.005,,,\r\n"
                         "TRUE,#DIV/0!,,,,\r\n"
                         "1/1/2021,from formula,TRUE,#N/A,,\r\n"
                         ",7,,#NUM!,,\r\n");
}

TEST(XlsRecords, SharedStringsSplitAcrossContinueRecords)
{
    // String 1 starts 8-bit and goes on in UTF-16 after the break; string 2 has rich-text
    // runs and a phonetic block that straddle a break (no flag byte there); string 4's
    // characters break again and switch back to 8-bit; string 5 is one emoji whose UTF-16
    // surrogate pair is split by a break.
    const std::string sstBody = u32(5) + u32(5) + u16(10) + std::string("\0abcde", 6);
    const std::string cont1 = std::string("\1", 1) + std::string("f\0g\0h\0i\0j\0", 10) + u16(3) + "\x0D" + u16(2) +
                              u32(6) + std::string("\xC4\0\xD6\0\xDC\0", 6) + std::string(4, 'R');
    const std::string cont2 = std::string(4, 'R') + std::string(6, 'P') + u16(2) + chars8("ok") + u16(3) + chars8("xy");
    const std::string cont3 = std::string("\0z", 2) + u16(2) + std::string("\1\x3D\xD8", 3);
    const std::string cont4 = std::string("\1\x42\xDE", 3);
    const std::vector<Record> globals = {
        {0x00FC, sstBody}, {0x003C, cont1}, {0x003C, cont2}, {0x003C, cont3}, {0x003C, cont4}};
    Sheet sheet{"S", {labelSst(0, 0, 0), labelSst(0, 1, 1), labelSst(0, 2, 2), labelSst(0, 3, 3), labelSst(0, 4, 4)}};
    EXPECT_EQ(csv(compoundFile({{"Workbook", workbookStream(globals, {sheet})}})),
              "abcdefghij,\xC3\x84\xC3\x96\xC3\x9C,ok,xyz,\xF0\x9F\x99\x82\r\n");
}

TEST(XlsRecords, Biff5TextGoesThroughTheCodePage)
{
    const struct { uint16_t codepage; std::string bytes, utf8; } cases[] = {  // codepage 0: no CODEPAGE record
        {0, "caf\xE9", "caf\xC3\xA9"},
        {1252, "\x80 5", "\xE2\x82\xAC 5"},
        {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {10000, "\x8E", "\xC3\xA9"},
        {10029, "\x80rkusz", "\xC3\x84rkusz"},
        {932, "\x82\xA0", "\xE3\x81\x82"},
    };
    for (const auto& c : cases) {
        std::vector<Record> globals;
        if (c.codepage)
            globals.push_back({0x0042, u16(c.codepage)});
        globals.push_back({0x041E, u16(164) + std::string(1, static_cast<char>(c.bytes.size() + 2)) + "\"" + c.bytes + "\""});
        globals.push_back({0x00E0, u16(0) + u16(164) + u16(1) + std::string(10, '\0')});
        const std::string label = u16(0) + u16(0) + u16(15) + u16(static_cast<uint16_t>(c.bytes.size())) + c.bytes;
        Sheet sheet{c.bytes,
                    {{0x0204, label},
                     number(0, 1, 1, 16),
                     formula(0, 2, formulaTagged(0)),
                     {0x0207, u16(static_cast<uint16_t>(c.bytes.size())) + c.bytes}}};
        const std::string book = compoundFile({{"Book", workbookStream(globals, {sheet}, true)}});
        SCOPED_TRACE(c.codepage);
        EXPECT_EQ(convertToText(openXls, book, "b.xls"),
                  "== 1 " + c.utf8 + "\n" + c.utf8 + "," + c.utf8 + "," + c.utf8 + "\r\n");
    }
}

TEST(XlsRecords, SheetKindsVisibilityAndOrder)
{
    // Name, records, BOUNDSHEET state and type, BOF type.
    const std::vector<Sheet> sheets = {
        {"Chart", {}, 0, 2, 0x0020}, {"Data", {number(0, 0, 1)}}, {"Dialog", {{0x0081, u16(0x0010)}, number(0, 0, 2)}},
        {"Macro", {}, 0, 1, 0x0040}, {"Hidden", {number(0, 0, 3)}, 1}, {"Very", {number(0, 0, 4)}, 2},
        {"Module", {}, 0, 6, 0x0006},
    };
    const std::string book = compoundFile({{"Workbook", workbookStream({}, sheets)}});
    auto reader = openXls(book, "k.xls");
    using K = engine::SheetKind;
    using V = engine::SheetVisibility;
    const std::vector<std::pair<K, V>> expected = {{K::Chart, V::Visible},     {K::Worksheet, V::Visible},
                                                   {K::Dialog, V::Visible},    {K::Macro, V::Visible},
                                                   {K::Worksheet, V::Hidden},  {K::Worksheet, V::VeryHidden},
                                                   {K::Module, V::Visible}};
    ASSERT_EQ(reader->sheets().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reader->sheets()[i].name, sheets[i].name);
        EXPECT_EQ(reader->sheets()[i].kind, expected[i].first) << i;
        EXPECT_EQ(reader->sheets()[i].visibility, expected[i].second) << i;
    }
    EXPECT_EQ(convertToText(openXls, book, "k.xls"), "== 1 Data\n1\r\n== 2 Hidden\n3\r\n== 3 Very\n4\r\n");
}

TEST(XlsRecords, DateSystemAndDimensionHint)
{
    const std::vector<Record> globals = {{0x0022, u16(1)},
                                         {0x00E0, u16(0) + u16(14) + u16(1) + std::string(14, '\0')}};
    Sheet sheet{"D", {{0x0200, u32(2) + u32(4) + u16(1) + u16(2) + u16(0)}, number(2, 1, 0, 16), number(3, 1, 366, 16)}};
    const std::string book = compoundFile({{"Workbook", workbookStream(globals, {sheet})}});
    auto reader = openXls(book, "d.xls");
    EXPECT_TRUE(reader->date1904());
    EXPECT_EQ(reader->dimension(0), (engine::CellRange{2, 1, 3, 1}));
    EXPECT_EQ(csv(book), "1/1/1904\r\n1/1/1905\r\n");
}

// A file cut short loses cells: the save fails instead of passing for complete.
TEST(XlsRecords, CutShortStreamsFail)
{
    const std::string stream = workbookStream({}, {Sheet{"S", {number(0, 0, 1), number(1, 0, 2)}}});
    for (size_t cut : {4, 10})
        EXPECT_EQ(errorOf(stream.substr(0, stream.size() - cut)),
                  "Cannot read \"book.xls\": worksheet \"S\" is cut short (the file ends inside it).");
    EXPECT_EQ(errorOf(stream.substr(0, 200)),
              "Cannot read \"book.xls\": the file is cut short (it ends inside the workbook's header records).");
}

TEST(XlsRecords, StandaloneBiff2To4Streams)
{
    auto attr = [](uint8_t format) { return std::string("\0", 1) + std::string(1, static_cast<char>(format)) + std::string("\0", 1); };
    const std::string biff2 = record(0x0009, u16(2) + u16(0x0010)) + record(0x001E, "\x07General") +
                              record(0x001E, "\x04" "0.00") + record(0x0002, u16(0) + u16(0) + attr(0) + u16(5)) +
                              record(0x0003, u16(0) + u16(1) + attr(1) + f64(3.14159)) +
                              record(0x0004, u16(1) + u16(0) + attr(0) + "\x04" "caf\xE9") +
                              record(0x0005, u16(1) + u16(1) + attr(0) + std::string("\1\0", 2)) +
                              record(0x0006, u16(2) + u16(0) + attr(0) + formulaTagged(0) + std::string(3, '\0')) +
                              record(0x0007, "\x02ok") + record(0x000A, "");
    EXPECT_EQ(convertToText(openXls, biff2, "/data/old sheet.xls"), "== 1 old sheet\n5,3.14\r\ncaf\xC3\xA9,TRUE\r\nok,\r\n");

    const std::string biff3 = record(0x0209, u16(0) + u16(0x0010) + u16(0)) + record(0x001E, "\x07General") +
                              record(0x001E, "\x01" "0") + record(0x0243, std::string("\0\1", 2) + std::string(10, '\0')) +
                              record(0x0203, u16(0) + u16(0) + u16(0) + f64(2.7)) + record(0x000A, "");
    EXPECT_EQ(convertToText(openXls, biff3, "three.xls"), "== 1 three\n3\r\n");

    const std::string biff4book = record(0x0409, u16(0) + u16(0x0100) + u16(0)) + record(0x000A, "");
    EXPECT_EQ(errorOf(biff4book),
              "Cannot read \"book.xls\": it is a BIFF4 workbook of several sheets in one stream, a kind this "
              "program cannot read.");
}

TEST(XlsRecords, ProtectedWorkbooks)
{
    const std::vector<Record> globals = {{0x00FC, sst({"secret text"})}};
    Sheet sheet{"S", {labelSst(0, 0, 0), number(0, 1, 12.5)}};
    const std::string plain = workbookStream(globals, {sheet});
    const std::string expected = "== 1 S\nsecret text,12.5\r\n";
    ASSERT_EQ(convertToText(openXls, compoundFile({{"Workbook", plain}}), "p.xls"), expected);

    // Protected against changes only: the application's default password opens it.
    const std::string byDefault = encryptRc4(plain, u"VelvetSweatshop");
    EXPECT_EQ(byDefault.find("secret text"), std::string::npos);
    EXPECT_EQ(convertToText(openXls, compoundFile({{"Workbook", byDefault}}), "p.xls"), expected);

    const std::string protectedMessage = "Cannot read \"book.xls\": the workbook is password-protected.";
    const std::string bof = record(0x0809, u16(0x0600) + u16(0x0005) + std::string(12, '\0'));
    const std::string biff5bof = record(0x0809, u16(0x0500) + u16(0x0005) + std::string(4, '\0'));
    const std::string cases[] = {
        compoundFile({{"Workbook", encryptRc4(plain, u"other")}}),
        compoundFile({{"Workbook", bof + record(0x002F, u16(0) + u16(0x1234) + u16(0x5678)) + record(0x000A, "")}}),
        compoundFile({{"Book", biff5bof + record(0x002F, u16(0x1234) + u16(0x5678)) + record(0x000A, "")}}),
        compoundFile({{"Workbook", bof + record(0x002F, u16(1) + u16(4) + u16(4)) + record(0x000A, "")}}),
        compoundFile({{"EncryptionInfo", std::string(200, 'i')}, {"EncryptedPackage", std::string(5000, 'p')}}),
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c), protectedMessage);
}

}  // namespace
}  // namespace tabulon::test
