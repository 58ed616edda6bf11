#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Hand-assembled .xls files, for the records no writer at hand produces.
namespace tabulon::test::xls {

std::string u16(uint16_t v);
std::string u32(uint32_t v);
std::string f64(double v);
// A BIFF8 string body: flags byte then the characters, 8-bit when they all fit.
std::string chars8(std::string_view latin1);

struct Record { uint16_t type; std::string body; };
std::string record(uint16_t type, std::string_view body);

// Cell records of BIFF5/8 (row, column, XF index first).
Record number(uint16_t row, uint16_t col, double v, uint16_t xf = 15);
Record labelSst(uint16_t row, uint16_t col, uint32_t index, uint16_t xf = 15);
// A formula with the 8 bytes of its cached value (no parsed expression is needed).
Record formula(uint16_t row, uint16_t col, std::string_view value8, uint16_t xf = 15);
std::string formulaTagged(uint8_t type, uint8_t value = 0);  // 0 string, 1 bool, 2 error, 3 empty

struct Sheet {
    std::string name;  // BIFF8: Latin-1 only; BIFF5: the code page's bytes
    std::vector<Record> records;  // between the sheet's BOF and EOF
    uint8_t state = 0, type = 0;  // BOUNDSHEET visibility and sheet type
    uint16_t bofType = 0x0010;
};

// A BIFF8 (or BIFF5) workbook stream: BOF, `globals`, one BOUNDSHEET per sheet, EOF, then
// the sheets. `globals` usually holds XF, FORMAT, SST records; 16 default XFs come first.
std::string workbookStream(const std::vector<Record>& globals, const std::vector<Sheet>& sheets, bool biff5 = false);

// A compound file holding the given streams at the root; streams under 4096 bytes go to the
// mini stream, as writers do.
std::string compoundFile(const std::vector<std::pair<std::string, std::string>>& streams, int sectorShift = 9);

// Inserts a FILEPASS record for RC4 with `password` after the stream's BOF, moves the sheet
// offsets and encrypts, as a protected workbook is saved.
std::string encryptRc4(const std::string& workbook, std::u16string_view password);

}  // namespace tabulon::test::xls
