#include "XlsbReader.h"

#include <cstring>

#include "../ErrorLiterals.h"
#include "../Error.h"
#include "../io/Package.h"
#include "../io/Zip.h"
#include "RecordStream.h"

namespace tabulon::engine {
namespace {

// Record types of the binary workbook format.
enum : uint32_t {
    kRowHdr = 0x00,
    kCellBlank = 0x01,
    kCellRk = 0x02,
    kCellError = 0x03,
    kCellBool = 0x04,
    kCellReal = 0x05,
    kCellSt = 0x06,
    kCellIsst = 0x07,
    kFmlaString = 0x08,
    kFmlaNum = 0x09,
    kFmlaBool = 0x0A,
    kFmlaError = 0x0B,
    kSstItem = 0x13,
    kFmt = 0x2C,
    kXf = 0x2F,
    kCellRString = 0x3E,
    kBeginSheetData = 0x91,
    kEndSheetData = 0x92,
    kWsDim = 0x94,
    kWbProp = 0x99,
    kBundleSh = 0x9C,
    kBeginCellXfs = 0x269,
    kEndCellXfs = 0x26A,
};

// Bounds on the strings and styles held in memory, far beyond real workbooks.
constexpr size_t kMaxSharedStringBytes = size_t(1) << 30;
constexpr size_t kMaxSharedStrings = size_t(1) << 26;
constexpr size_t kMaxFormatBytes = size_t(16) << 20;
constexpr size_t kMaxCellFormats = size_t(1) << 22;

SheetKind kindOf(std::string_view kind)
{
    if (kind == "chartsheet")
        return SheetKind::Chart;
    if (kind == "dialogsheet")
        return SheetKind::Dialog;
    if (kind == "xlMacrosheet" || kind == "xlIntlMacrosheet")
        return SheetKind::Macro;
    return SheetKind::Worksheet;
}

class XlsbReader final : public BookReader {
public:
    explicit XlsbReader(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip))
    {
        m_memory.setBookName(m_zip->displayName());
        const std::string main = findWorkbookPart(*m_zip).path;
        if (main.empty())
            fail("not a workbook this program can read (the package has no workbook part)");
        const auto rels = readRelationships(*m_zip, main);
        readWorkbook(*findPart(*m_zip, main), rels);
        if (const Relationship* styles = findRelationship(rels, "styles"))
            if (const auto part = findPart(*m_zip, styles->target))
                readStyles(*part);
        m_memory.set(MemoryBudget::Styles, styleTableBytes(m_styles));
        if (const Relationship* strings = findRelationship(rels, "sharedStrings"))
            if (const auto part = findPart(*m_zip, strings->target))
                readStrings(*part);
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return m_date1904; }
    const StyleTable& styles() const override { return m_styles; }

    std::optional<CellRange> dimension(size_t sheetIndex) override
    {
        if (!m_parts.at(sheetIndex))
            return std::nullopt;
        RecordStream records(*m_zip, *m_parts[sheetIndex], sheetWhat(sheetIndex));
        while (records.next()) {
            if (records.type() == kBeginSheetData || records.type() == kRowHdr)
                break;
            if (records.type() == kWsDim) {
                auto c = records.body();
                CellRange r;
                r.firstRow = c.u32();
                r.lastRow = c.u32();
                r.firstCol = c.u32();
                r.lastCol = c.u32();
                return r;
            }
        }
        return std::nullopt;
    }

    void readSheet(size_t sheetIndex, CellSink& sink) override
    {
        if (!m_parts.at(sheetIndex))
            return;
        RecordStream records(*m_zip, *m_parts[sheetIndex], sheetWhat(sheetIndex));
        std::optional<uint32_t> row;
        std::string text;
        CellData cell;
        while (records.next()) {
            const uint32_t type = records.type();
            if (type == kEndSheetData)
                break;
            if (type == kRowHdr) {
                row = records.body().u32();
                if (*row >= kMaxRows)
                    records.fail("has a row beyond the last row a sheet can have");
                continue;
            }
            const bool isCell = (type >= kCellBlank && type <= kFmlaError) || type == kCellRString;
            if (!isCell || !row)
                continue;
            const uint32_t col = readCell(type, records.body(), cell, text);
            if (col >= kMaxColumns)
                records.fail("has a cell beyond the last column a sheet can have");
            // An empty cell in the default format carries nothing of its own and is not part
            // of the used range, as in the other formats.
            if (cell.kind == CellKind::Blank && cell.style == 0)
                continue;
            sink.cell(*row, col, cell);
        }
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw Error(describe(m_zip->displayName(), what)); }


    std::string sheetWhat(size_t sheetIndex) const { return "the sheet \"" + m_sheets[sheetIndex].name + "\""; }

    // Fills `cell` from a cell record and returns its column.
    uint32_t readCell(uint32_t type, ByteCursor c, CellData& cell, std::string& text) const
    {
        const uint32_t col = c.u32();
        cell = CellData{};
        cell.style = c.u32() & 0xFFFFFF;
        text.clear();
        switch (type) {
        case kCellBlank:
            break;
        case kCellRk:
            cell.kind = CellKind::Number;
            cell.number = decodeRk(c.u32());
            break;
        case kCellError:
        case kFmlaError:
            cell.kind = CellKind::Error;
            cell.text = binaryErrorLiteral(c.u8());
            break;
        case kCellBool:
        case kFmlaBool:
            cell.kind = CellKind::Bool;
            cell.number = c.u8() != 0 ? 1 : 0;
            break;
        case kCellReal:
        case kFmlaNum:
            cell.kind = CellKind::Number;
            cell.number = c.f64();
            break;
        case kCellSt:
        case kFmlaString:
            cell.kind = CellKind::Text;
            readWideString(c, text);
            cell.text = text;
            break;
        case kCellRString:
            cell.kind = CellKind::Text;
            c.u8();  // rich-text and phonetic flags: the runs after the text are not needed
            readWideString(c, text);
            cell.text = text;
            break;
        case kCellIsst: {
            const uint32_t index = c.u32();
            if (index >= m_stringEnds.size())
                fail("a cell refers to shared string " + std::to_string(index) + ", which does not exist");
            const size_t begin = index == 0 ? 0 : m_stringEnds[index - 1];
            cell.kind = CellKind::Text;
            cell.text = std::string_view(m_strings).substr(begin, m_stringEnds[index] - begin);
            break;
        }
        }
        return col;
    }

    void readWorkbook(uint64_t part, const std::vector<Relationship>& rels)
    {
        RecordStream records(*m_zip, part, "the workbook part");
        while (records.next()) {
            if (records.type() == kWbProp) {
                m_date1904 = (records.body().u32() & 1) != 0;
            } else if (records.type() == kBundleSh) {
                SheetInfo info;
                std::string relId;
                {
                    auto c = records.body();
                    const uint32_t state = c.u32();
                    info.visibility = state == 1 ? SheetVisibility::Hidden
                                      : state == 2 ? SheetVisibility::VeryHidden
                                                   : SheetVisibility::Visible;
                    // The names follow the tab id; some writers put 4 more bytes before them.
                    for (size_t start : {size_t(8), size_t(12)}) {
                        try {
                            c.seek(start);
                            relId.clear();
                            if (c.u32() != 0xFFFFFFFF) {
                                c.seek(start);
                                readWideString(c, relId);
                            }
                            info.name = readWideString(c);
                            if (c.atEnd())
                                break;
                        } catch (const Error&) {
                            if (start == 12)
                                throw;
                        }
                    }
                }
                std::optional<uint64_t> sheetPart;
                if (const Relationship* rel = relationshipWithId(rels, relId)) {
                    info.kind = kindOf(rel->type);
                    sheetPart = findPart(*m_zip, rel->target);
                }
                if (!sheetPart && info.kind == SheetKind::Worksheet)
                    fail("the part of the worksheet \"" + info.name + "\" is missing");
                m_sheets.push_back(std::move(info));
                m_parts.push_back(sheetPart);
            }
        }
    }

    void readStyles(uint64_t part)
    {
        RecordStream records(*m_zip, part, "the styles part");
        bool inCellXfs = false;
        size_t formatBytes = 0;
        while (records.next()) {
            if (formatBytes > kMaxFormatBytes || m_styles.xfFormatIds.size() > kMaxCellFormats)
                fail("the styles part is larger than this program accepts");
            switch (records.type()) {
            case kFmt:
            {
                auto c = records.body();
                const uint16_t id = c.u16();
                std::string& code = m_styles.customFormats[id];
                formatBytes -= code.size();
                code = readWideString(c);
                formatBytes += code.size();
                break;
            }
            case kBeginCellXfs:
                inCellXfs = true;
                break;
            case kEndCellXfs:
                inCellXfs = false;
                break;
            case kXf:
                if (inCellXfs) {
                    auto c = records.body();
                    c.u16();  // parent style
                    m_styles.xfFormatIds.push_back(c.u16());
                }
                break;
            }
        }
    }

    void readStrings(uint64_t part)
    {
        RecordStream records(*m_zip, part, "the shared strings part");
        while (records.next()) {
            if (records.type() != kSstItem)
                continue;
            auto c = records.body();
            c.u8();  // rich-text and phonetic flags: runs and phonetic text follow the plain text
            readWideString(c, m_strings);
            m_stringEnds.push_back(m_strings.size());
            if (m_strings.size() > kMaxSharedStringBytes || m_stringEnds.size() > kMaxSharedStrings)
                fail("the shared strings are larger than this program accepts");
            if (m_stringEnds.size() % 4096 == 0)
                chargeStrings();
        }
        chargeStrings();
    }

    void chargeStrings()
    {
        m_memory.set(MemoryBudget::SharedStrings, m_strings.capacity() + m_stringEnds.capacity() * sizeof(size_t));
    }

    std::unique_ptr<ZipArchive> m_zip;
    std::vector<SheetInfo> m_sheets;
    std::vector<std::optional<uint64_t>> m_parts;
    bool m_date1904 = false;
    StyleTable m_styles;
    std::string m_strings;               // every shared string, back to back
    std::vector<size_t> m_stringEnds;    // where each ends in m_strings
};

}  // namespace

std::unique_ptr<BookReader> openXlsbReader(std::unique_ptr<ZipArchive> zip)
{
    return std::make_unique<XlsbReader>(std::move(zip));
}

std::unique_ptr<BookReader> openXlsbReader(const std::filesystem::path& file)
{
    return openXlsbReader(ZipArchive::openFile(file));
}

}  // namespace tabulon::engine
