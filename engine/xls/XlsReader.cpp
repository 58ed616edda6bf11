#include "XlsReader.h"

#include <cmath>
#include <cstring>

#include "../ErrorLiterals.h"
#include "../Error.h"
#include "../io/Cfb.h"
#include "XlsCrypto.h"
#include "XlsText.h"

namespace tabulon::engine {
namespace {
using xls::Codepage;
using xls::Rc4Decryptor;
using xls::SegmentReader;
using xls::Truncated;

enum Record : uint16_t {
    kBof = 0x0809,
    kBof4 = 0x0409,
    kBof3 = 0x0209,
    kBof2 = 0x0009,
    kEof = 0x000A,
    kFilePass = 0x002F,
    kCodepage = 0x0042,
    kDateMode = 0x0022,
    kFormat = 0x041E,
    kFormat2 = 0x001E,
    kXf = 0x00E0,
    kXf4 = 0x0443,
    kXf3 = 0x0243,
    kBoundSheet = 0x0085,
    kSst = 0x00FC,
    kContinue = 0x003C,
    kWsBool = 0x0081,
    kDimensions = 0x0200,
    kDimensions2 = 0x0000,
    kLabelSst = 0x00FD,
    kLabel = 0x0204,
    kRString = 0x00D6,
    kNumber = 0x0203,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kBoolErr = 0x0205,
    kBlank = 0x0201,
    kMulBlank = 0x00BE,
    kFormula = 0x0006,
    kFormula3 = 0x0206,
    kFormula4 = 0x0406,
    kString = 0x0207,
    // BIFF2 cell records carry a 3-byte attribute block instead of an XF index.
    kBlank2 = 0x0001,
    kInteger2 = 0x0002,
    kNumber2 = 0x0003,
    kLabel2 = 0x0004,
    kBoolErr2 = 0x0005,
    kString2 = 0x0007,
    // Records that stay in the clear in an encrypted stream.
    kUsrExcl = 0x0194,
    kFileLock = 0x0195,
    kInterfaceHdr = 0x00E1,
    kRrdInfo = 0x0196,
    kRrdHead = 0x0138,
};

enum class Biff { V2 = 2, V3 = 3, V4 = 4, V5 = 5, V8 = 8 };

// Substream types of a BOF record.
constexpr uint16_t kGlobalsType = 0x0005, kModuleType = 0x0006, kSheetType = 0x0010, kChartType = 0x0020,
                   kMacroType = 0x0040, kWorkspaceType = 0x0100;

bool isBof(uint16_t type) { return type == kBof || type == kBof4 || type == kBof3 || type == kBof2; }

// Reads records one by one from a stream, decrypting their bodies when the file is protected.
class RecordReader {
public:
    RecordReader(const ByteStream& stream, const Rc4Decryptor* decryptor)
        : m_stream(stream), m_buffer(new uint8_t[65536]),
          m_decryptor(decryptor ? std::make_unique<Rc4Decryptor>(*decryptor) : nullptr)
    {
    }

    void seek(uint64_t offset)
    {
        m_next = offset;
        m_unread = false;
    }
    void setDecryptor(const Rc4Decryptor& d) { m_decryptor = std::make_unique<Rc4Decryptor>(d); }

    // False at the end of the stream; a record cut off by the end counts as the end.
    bool next()
    {
        if (m_unread) {
            m_unread = false;
            return true;
        }
        uint8_t head[4];
        if (m_stream.read(m_next, head, 4) < 4)
            return false;
        m_type = static_cast<uint16_t>(head[0] | (head[1] << 8));
        m_size = static_cast<uint16_t>(head[2] | (head[3] << 8));
        if (m_stream.read(m_next + 4, m_buffer.get(), m_size) < m_size)
            return false;
        m_offset = m_next;
        m_next += 4 + uint64_t(m_size);
        if (m_decryptor)
            decrypt();
        return true;
    }
    void unread() { m_unread = true; }

    uint16_t type() const { return m_type; }
    uint64_t offset() const { return m_offset; }
    std::string_view body() const { return {reinterpret_cast<const char*>(m_buffer.get()), m_size}; }
    const uint8_t* data() const { return m_buffer.get(); }
    size_t size() const { return m_size; }

private:
    void decrypt()
    {
        switch (m_type) {
        case kBof:
        case kFilePass:
        case kUsrExcl:
        case kFileLock:
        case kInterfaceHdr:
        case kRrdInfo:
        case kRrdHead:
            return;
        case kBoundSheet:
            // The sheet's stream position stays readable.
            if (m_size > 4)
                m_decryptor->apply(m_offset + 8, m_buffer.get() + 4, m_size - 4u);
            return;
        default:
            m_decryptor->apply(m_offset + 4, m_buffer.get(), m_size);
        }
    }

    const ByteStream& m_stream;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::unique_ptr<Rc4Decryptor> m_decryptor;
    uint64_t m_next = 0;
    uint64_t m_offset = 0;
    uint16_t m_type = 0;
    uint16_t m_size = 0;
    bool m_unread = false;
};

// Moves to the next record of the current substream, stepping over the substreams embedded
// in it (a chart inside a sheet). False at the substream's EOF (then `ended` is set) or at
// the end of the stream.
bool nextInSubstream(RecordReader& r, bool& ended)
{
    int depth = 0;
    while (r.next()) {
        const uint16_t type = r.type();
        if (isBof(type)) {
            ++depth;
        } else if (type == kEof) {
            if (depth == 0) {
                ended = true;
                return false;
            }
            --depth;
        } else if (depth == 0) {
            return true;
        }
    }
    return false;
}

// Little-endian fields of one record body; throws Truncated past its end.
class Fields {
public:
    Fields(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t size() const { return m_size; }
    void need(size_t end) const
    {
        if (end > m_size)
            throw Truncated{};
    }
    uint8_t u8(size_t at) const
    {
        need(at + 1);
        return m_data[at];
    }
    uint16_t u16(size_t at) const
    {
        need(at + 2);
        return static_cast<uint16_t>(m_data[at] | (m_data[at + 1] << 8));
    }
    uint32_t u32(size_t at) const
    {
        need(at + 4);
        uint32_t v;
        std::memcpy(&v, m_data + at, 4);
        return v;
    }
    double f64(size_t at) const
    {
        need(at + 8);
        double v;
        std::memcpy(&v, m_data + at, 8);
        return v;
    }
    std::string_view from(size_t at) const
    {
        need(at);
        return {reinterpret_cast<const char*>(m_data + at), m_size - at};
    }

private:
    const uint8_t* m_data;
    size_t m_size;
};

// The built-in formats of BIFF2 and BIFF3, whose numbering differs from later versions;
// files normally store them all as FORMAT records, which replace these by position.
constexpr std::string_view kOldBuiltins[] = {
    "General", "0", "0.00", "#,##0", "#,##0.00", "\"$\"#,##0_);(\"$\"#,##0)", "\"$\"#,##0_);[Red](\"$\"#,##0)",
    "\"$\"#,##0.00_);(\"$\"#,##0.00)", "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)", "0%", "0.00%", "0.00E+00",
    "m/d/yy", "d-mmm-yy", "d-mmm", "mmm-yy", "h:mm AM/PM", "h:mm:ss AM/PM", "h:mm", "h:mm:ss", "m/d/yy h:mm"};

class XlsBook final : public BookReader {
public:
    XlsBook(std::shared_ptr<const FileBytes> file, std::string name, std::u16string_view password)
        : m_file(std::move(file)), m_name(std::move(name)), m_password(password.empty() ? xls::kDefaultPassword : password)
    {
        m_memory.setBookName(m_name);
        try {
            openStream();
            readGlobals();
            m_memory.set(MemoryBudget::Styles, styleTableBytes(m_styles));
        } catch (const Truncated&) {
            fail("the workbook ends in the middle of a record");
        }
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return m_date1904; }
    const StyleTable& styles() const override { return m_styles; }

    std::optional<CellRange> dimension(size_t sheetIndex) override
    {
        try {
            size_t budget = kHeadRecords;
            return scanHead(sheetIndex, budget).dimension;
        } catch (const Truncated&) {
            return std::nullopt;
        } catch (const Error&) {
            return std::nullopt;  // readSheet reports the problem
        }
    }

    void readSheet(size_t sheetIndex, CellSink& sink) override
    {
        if (sheetIndex >= m_sheets.size())
            fail("there is no sheet " + std::to_string(sheetIndex + 1));
        try {
            SheetReader(*this, sheetIndex, sink).run();
        } catch (const Truncated&) {
            fail("worksheet \"" + m_sheets[sheetIndex].name + "\" ends in the middle of a record");
        }
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw Error(describe(m_name, what)); }

    void openStream()
    {
        if (CompoundFile::hasSignature(*m_file)) {
            CompoundFile cfb(m_file, m_name);
            if (cfb.hasStream("EncryptionInfo") || cfb.hasStream("EncryptedPackage"))
                fail("the workbook is password-protected");
            if (auto s = cfb.stream("Workbook")) {
                m_stream = std::move(*s);
                m_workbookStream = true;
            } else if (auto b = cfb.stream("Book")) {
                m_stream = std::move(*b);
            } else {
                fail("it holds no workbook (a compound file without a workbook stream)");
            }
        } else {
            m_stream = ByteStream::whole(m_file);
        }
    }

    // The workbook-wide records: version, sheets, code page, date system, formats, strings.
    void readGlobals()
    {
        RecordReader r(m_stream, nullptr);
        r.seek(0);
        if (!r.next() || !isBof(r.type()))
            fail("it is not a workbook (the workbook stream does not start with a header record)");
        Fields bof(r.data(), r.size());
        const uint16_t substream = bof.size() >= 4 ? bof.u16(2) : kGlobalsType;
        switch (r.type()) {
        case kBof: {
            const uint16_t version = bof.size() >= 2 ? bof.u16(0) : 0;
            if (version == 0x0600)
                m_biff = Biff::V8;
            else if (version == 0x0500)
                m_biff = Biff::V5;
            else
                m_biff = bof.size() >= 16 || (m_workbookStream && bof.size() != 8) ? Biff::V8 : Biff::V5;
            break;
        }
        case kBof4: m_biff = Biff::V4; break;
        case kBof3: m_biff = Biff::V3; break;
        default: m_biff = Biff::V2; break;
        }
        const bool singleSheet = substream != kGlobalsType;
        if (singleSheet && substream == kWorkspaceType)
            fail("it is a BIFF" + std::to_string(static_cast<int>(m_biff)) +
                 " workbook of several sheets in one stream, a kind this program cannot read");
        if (m_biff == Biff::V2) {
            for (uint32_t i = 0; i < 64; ++i)
                m_styles.xfFormatIds.push_back(i);  // BIFF2 cells name their format directly
        }
        if (m_biff <= Biff::V3)
            for (uint32_t i = 0; i < std::size(kOldBuiltins); ++i)
                m_styles.customFormats[i] = std::string(kOldBuiltins[i]);

        struct RawSheet {
            uint32_t offset;
            uint8_t state, type;
            std::string name;  // UTF-8 for BIFF8, code page bytes before
        };
        std::vector<RawSheet> rawSheets;
        std::vector<std::pair<uint32_t, std::string>> rawFormats;
        uint32_t formatCount = 0;
        bool ended = false;
        while (nextInSubstream(r, ended)) {
            const uint16_t type = r.type();
            Fields f(r.data(), r.size());
            switch (type) {
            case kFilePass: {
                if (m_biff != Biff::V8)
                    fail("the workbook is password-protected");
                m_decryptor = Rc4Decryptor::create(r.body(), m_password);
                if (!m_decryptor)
                    fail("the workbook is password-protected");
                r.setDecryptor(*m_decryptor);
                break;
            }
            case kCodepage:
                m_codepage.set(f.u16(0));
                break;
            case kDateMode:
                m_date1904 = f.u16(0) != 0;
                break;
            case kFormat:
            case kFormat2: {
                if (m_biff == Biff::V8) {
                    // Some writers store malformed codes; such a record is left out, so the
                    // id keeps its built-in code.
                    try {
                        const uint16_t id = f.u16(0);
                        SegmentReader s(f.from(4));
                        std::string code;
                        s.unicodeString(f.u16(2), code);
                        m_styles.customFormats[id] = std::move(code);
                    } catch (const Truncated&) {
                    }
                } else if (m_biff == Biff::V5) {
                    const uint8_t cch = f.u8(2);
                    rawFormats.emplace_back(f.u16(0), std::string(f.from(3).substr(0, cch)));
                } else {
                    // Before BIFF5 a format's id is its position among the FORMAT records.
                    const size_t at = m_biff == Biff::V4 ? 2 : 0;
                    const uint8_t cch = f.u8(at);
                    rawFormats.emplace_back(formatCount++, std::string(f.from(at + 1).substr(0, cch)));
                }
                break;
            }
            case kXf:
                if (m_biff >= Biff::V5)
                    m_styles.xfFormatIds.push_back(f.u16(2));
                break;
            case kXf4:
            case kXf3:
                if (m_biff == Biff::V3 || m_biff == Biff::V4)
                    m_styles.xfFormatIds.push_back(f.u8(1));
                break;
            case kBoundSheet: {
                if (singleSheet || m_biff < Biff::V5)
                    break;
                RawSheet sheet{f.u32(0), f.u8(4), f.u8(5), {}};
                const uint8_t cch = f.u8(6);
                if (m_biff == Biff::V8) {
                    SegmentReader s(f.from(7));
                    s.unicodeString(cch, sheet.name);
                } else {
                    sheet.name = std::string(f.from(7).substr(0, cch));
                }
                rawSheets.push_back(std::move(sheet));
                break;
            }
            case kSst:
                if (m_biff == Biff::V8)
                    readSst(r);
                break;
            default:
                break;
            }
        }

        if (!ended)
            fail("the file is cut short (it ends inside the workbook's header records)");
        for (auto& [id, bytes] : rawFormats) {
            std::string code;
            m_codepage.append(bytes, code);
            m_styles.customFormats[id] = std::move(code);
        }
        if (singleSheet) {
            SheetInfo info;
            info.name = std::filesystem::path(std::u8string(m_name.begin(), m_name.end())).stem().string();
            info.kind = substream == kChartType ? SheetKind::Chart
                        : substream == kMacroType ? SheetKind::Macro
                                                  : SheetKind::Worksheet;
            m_sheets.push_back(std::move(info));
            m_offsets.push_back(0);
            return;
        }
        for (auto& raw : rawSheets) {
            SheetInfo info;
            if (m_biff == Biff::V8)
                info.name = std::move(raw.name);
            else
                m_codepage.append(raw.name, info.name);
            const uint8_t state = raw.state & 3;
            info.visibility = state == 0 ? SheetVisibility::Visible
                              : state == 2 ? SheetVisibility::VeryHidden
                                           : SheetVisibility::Hidden;
            switch (raw.type) {
            case 0: info.kind = SheetKind::Worksheet; break;
            case 2: info.kind = SheetKind::Chart; break;
            case 6: info.kind = SheetKind::Module; break;
            default: info.kind = SheetKind::Macro; break;
            }
            m_sheets.push_back(std::move(info));
            m_offsets.push_back(raw.offset);
        }
        // Dialog sheets are worksheets with a flag, and the sheet's own header has the last
        // word on what it is.
        // A budget keeps a file with very many sheet entries from taking long here.
        size_t budget = 64 * kHeadRecords;
        for (size_t i = 0; i < m_sheets.size() && budget > 0; ++i) {
            if (m_sheets[i].kind != SheetKind::Worksheet)
                continue;
            try {
                const Head head = scanHead(i, budget);
                if (head.dialog)
                    m_sheets[i].kind = SheetKind::Dialog;
                else if (head.type == kChartType)
                    m_sheets[i].kind = SheetKind::Chart;
                else if (head.type == kMacroType)
                    m_sheets[i].kind = SheetKind::Macro;
                else if (head.type == kModuleType)
                    m_sheets[i].kind = SheetKind::Module;
            } catch (const Error&) {
            } catch (const Truncated&) {
            }
        }
    }

    // The shared-string table: an SST record and the CONTINUE records after it.
    void readSst(RecordReader& r)
    {
        std::vector<std::string> parts{std::string(r.body())};
        while (r.next()) {
            if (r.type() != kContinue) {
                r.unread();
                break;
            }
            parts.emplace_back(r.body());
        }
        std::vector<std::string_view> views(parts.begin(), parts.end());
        SegmentReader s(std::move(views));
        m_sstOffsets.assign(1, 0);
        m_sstText.clear();
        try {
            s.skip(8);  // total and unique counts: only hints, some writers get them wrong
            while (!s.atEnd()) {
                const uint16_t cch = s.u16();
                s.unicodeString(cch, m_sstText);
                m_sstOffsets.push_back(static_cast<uint32_t>(m_sstText.size()));
                if (m_sstText.size() > UINT32_MAX / 2)
                    break;
                if (m_sstOffsets.size() % 4096 == 0)
                    chargeStrings(parts);
            }
        } catch (const Truncated&) {
            // A table cut short keeps the strings before the cut.
        }
        parts.clear();
        parts.shrink_to_fit();
        chargeStrings(parts);
    }

    // The table as read, and the raw records it is read from while they are held.
    void chargeStrings(const std::vector<std::string>& parts)
    {
        uint64_t bytes = m_sstText.capacity() + m_sstOffsets.capacity() * sizeof(uint32_t);
        for (const auto& part : parts)
            bytes += part.capacity();
        m_memory.set(MemoryBudget::SharedStrings, bytes);
    }

    std::string_view sstString(uint32_t index) const
    {
        if (uint64_t(index) + 1 >= m_sstOffsets.size())
            return {};
        return std::string_view(m_sstText).substr(m_sstOffsets[index], m_sstOffsets[index + 1] - m_sstOffsets[index]);
    }

    // Records before DIMENSIONS: settings, page set-up and up to 256 column records.
    static constexpr size_t kHeadRecords = 1024;

    struct Head {
        uint16_t type = kSheetType;
        bool dialog = false;
        std::optional<CellRange> dimension;
    };

    // Reads a sheet's first records, up to its DIMENSIONS record or first cell.
    Head scanHead(size_t sheetIndex, size_t& budget) const
    {
        Head head;
        RecordReader r(m_stream, m_decryptor.get());
        r.seek(m_offsets.at(sheetIndex));
        if (!r.next() || !isBof(r.type()))
            fail("sheet \"" + m_sheets[sheetIndex].name + "\" cannot be found in the file");
        Fields bof(r.data(), r.size());
        if (bof.size() >= 4)
            head.type = bof.u16(2);
        for (size_t i = 0; i < kHeadRecords && budget > 0 && r.next(); ++i, --budget) {
            const uint16_t type = r.type();
            Fields f(r.data(), r.size());
            if (type == kWsBool) {
                head.dialog = f.size() >= 1 && (f.u8(0) & 0x10) != 0;
            } else if (type == kDimensions || (type == kDimensions2 && m_biff == Biff::V2)) {
                uint32_t firstRow, lastRow;
                size_t at;
                if (m_biff == Biff::V8) {
                    firstRow = f.u32(0);
                    lastRow = f.u32(4);
                    at = 8;
                } else {
                    firstRow = f.u16(0);
                    lastRow = f.u16(2);
                    at = 4;
                }
                const uint32_t firstCol = f.u16(at), lastCol = f.u16(at + 2);
                if (lastRow > firstRow && lastCol > firstCol)
                    head.dimension = CellRange{firstRow, firstCol, lastRow - 1, lastCol - 1};
                break;
            } else if (type == kEof || isBof(type) || isCell(type)) {
                break;
            }
        }
        return head;
    }

    static bool isCell(uint16_t type)
    {
        switch (type) {
        case kLabelSst: case kLabel: case kRString: case kNumber: case kRk: case kMulRk: case kBoolErr:
        case kBlank: case kMulBlank: case kFormula: case kFormula3: case kFormula4:
            return true;
        default:
            return false;
        }
    }

    // Streams one sheet's cells to a sink.
    class SheetReader {
    public:
        SheetReader(const XlsBook& book, size_t index, CellSink& sink)
            : m_book(book), m_index(index), m_sink(sink), m_reader(book.m_stream, book.m_decryptor.get()),
              m_v2(book.m_biff == Biff::V2), m_v8(book.m_biff == Biff::V8)
        {
        }

        void run()
        {
            m_reader.seek(m_book.m_offsets[m_index]);
            if (!m_reader.next() || !isBof(m_reader.type()))
                m_book.fail("sheet \"" + m_book.m_sheets[m_index].name + "\" cannot be found in the file");
            bool ended = false;
            while (nextInSubstream(m_reader, ended))
                record(m_reader.type());
            // Cells up to the cut went out already; the save fails rather than pass for whole.
            if (!ended)
                m_book.fail("worksheet \"" + m_book.m_sheets[m_index].name + "\" is cut short (the file ends inside it)");
            flushPending();
        }

    private:
        void emit(uint32_t row, uint32_t col, CellKind kind, uint32_t style, double number = 0,
                  std::string_view text = {})
        {
            if (col >= kMaxColumns || row >= kMaxRows)
                return;
            if (kind == CellKind::Number && !std::isfinite(number)) {
                // No cell holds infinity or NaN; a damaged value shows as the error it would give.
                kind = CellKind::Error;
                text = "#NUM!";
            }
            CellData d;
            d.kind = kind;
            d.style = style;
            d.number = number;
            d.text = text;
            m_sink.cell(row, col, d);
        }

        // A formula whose text result is in the STRING record that follows it.
        void flushPending()
        {
            if (m_pending) {
                m_pending = false;
                emit(m_pendingRow, m_pendingCol, CellKind::Text, m_pendingStyle);
            }
        }

        // BIFF2 cells: the number format's index is in the attribute block's second byte.
        static uint32_t attrStyle(const Fields& f) { return f.u8(5) & 0x3F; }

        void record(uint16_t type)
        {
            const Fields f(m_reader.data(), m_reader.size());
            if (m_v2) {
                switch (type) {
                case kBlank2:
                    flushPending();
                    emit(f.u16(0), f.u16(2), CellKind::Blank, attrStyle(f));
                    return;
                case kInteger2:
                    flushPending();
                    emit(f.u16(0), f.u16(2), CellKind::Number, attrStyle(f), f.u16(7));
                    return;
                case kNumber2:
                    flushPending();
                    emit(f.u16(0), f.u16(2), CellKind::Number, attrStyle(f), f.f64(7));
                    return;
                case kLabel2: {
                    flushPending();
                    const uint8_t cch = f.u8(7);
                    m_text.clear();
                    const std::string_view bytes = f.from(8);
                    if (bytes.size() < cch)
                        throw Truncated{};
                    m_book.m_codepage.append(bytes.substr(0, cch), m_text);
                    emit(f.u16(0), f.u16(2), CellKind::Text, attrStyle(f), 0, m_text);
                    return;
                }
                case kBoolErr2:
                    flushPending();
                    boolErr(f.u16(0), f.u16(2), attrStyle(f), f.u8(7), f.u8(8));
                    return;
                case kFormula:
                    flushPending();
                    formula(f.u16(0), f.u16(2), attrStyle(f), f, 7);
                    return;
                case kString2: {
                    if (!m_pending)
                        return;
                    const uint8_t cch = f.u8(0);
                    const std::string_view bytes = f.from(1);
                    if (bytes.size() < cch)
                        throw Truncated{};
                    m_text.clear();
                    m_book.m_codepage.append(bytes.substr(0, cch), m_text);
                    m_pending = false;
                    emit(m_pendingRow, m_pendingCol, CellKind::Text, m_pendingStyle, 0, m_text);
                    return;
                }
                default:
                    return;
                }
            }
            switch (type) {
            case kLabelSst:
                flushPending();
                emit(f.u16(0), f.u16(2), CellKind::Text, f.u16(4), 0, m_book.sstString(f.u32(6)));
                return;
            case kNumber:
                flushPending();
                emit(f.u16(0), f.u16(2), CellKind::Number, f.u16(4), f.f64(6));
                return;
            case kRk:
                flushPending();
                emit(f.u16(0), f.u16(2), CellKind::Number, f.u16(4), decodeRk(f.u32(6)));
                return;
            case kMulRk: {
                flushPending();
                const uint32_t row = f.u16(0), first = f.u16(2);
                const size_t count = f.size() >= 6 ? (f.size() - 6) / 6 : 0;
                for (size_t i = 0; i < count; ++i)
                    emit(row, first + static_cast<uint32_t>(i), CellKind::Number, f.u16(4 + 6 * i),
                         decodeRk(f.u32(6 + 6 * i)));
                return;
            }
            case kBlank:
                flushPending();
                emit(f.u16(0), f.u16(2), CellKind::Blank, f.u16(4));
                return;
            case kMulBlank: {
                flushPending();
                const uint32_t row = f.u16(0), first = f.u16(2);
                const size_t count = f.size() >= 6 ? (f.size() - 6) / 2 : 0;
                for (size_t i = 0; i < count; ++i)
                    emit(row, first + static_cast<uint32_t>(i), CellKind::Blank, f.u16(4 + 2 * i));
                return;
            }
            case kBoolErr:
                flushPending();
                boolErr(f.u16(0), f.u16(2), f.u16(4), f.u8(6), f.u8(7));
                return;
            case kLabel:
            case kRString: {
                flushPending();
                m_text.clear();
                const uint16_t cch = f.u16(6);
                if (m_v8) {
                    SegmentReader s(f.from(8));
                    s.unicodeString(cch, m_text);
                } else {
                    const std::string_view bytes = f.from(8);
                    if (bytes.size() < cch)
                        throw Truncated{};
                    m_book.m_codepage.append(bytes.substr(0, cch), m_text);
                }
                emit(f.u16(0), f.u16(2), CellKind::Text, f.u16(4), 0, m_text);
                return;
            }
            case kFormula:
            case kFormula3:
            case kFormula4:
                flushPending();
                formula(f.u16(0), f.u16(2), f.u16(4), f, 6);
                return;
            case kString:
                if (m_pending)
                    formulaString(f);
                return;
            default:
                return;
            }
        }

        void boolErr(uint32_t row, uint32_t col, uint32_t style, uint8_t value, uint8_t isError)
        {
            if (isError)
                emit(row, col, CellKind::Error, style, 0, binaryErrorLiteral(value));
            else
                emit(row, col, CellKind::Bool, style, value ? 1 : 0);
        }

        // A formula's cached result: a number, or a tagged value whose high bytes are 0xFFFF.
        void formula(uint32_t row, uint32_t col, uint32_t style, const Fields& f, size_t at)
        {
            f.need(at + 8);
            if (f.u16(at + 6) != 0xFFFF) {
                emit(row, col, CellKind::Number, style, f.f64(at));
                return;
            }
            switch (f.u8(at)) {
            case 0:
                m_pending = true;
                m_pendingRow = row;
                m_pendingCol = col;
                m_pendingStyle = style;
                return;
            case 1: emit(row, col, CellKind::Bool, style, f.u8(at + 2) ? 1 : 0); return;
            case 2: emit(row, col, CellKind::Error, style, 0, binaryErrorLiteral(f.u8(at + 2))); return;
            case 3: emit(row, col, CellKind::Text, style); return;  // an empty string
            default: emit(row, col, CellKind::Blank, style); return;
            }
        }

        void formulaString(const Fields& f)
        {
            m_text.clear();
            const uint16_t cch = f.u16(0);
            if (m_v8) {
                // A long result goes on in CONTINUE records.
                std::vector<std::string> parts{std::string(f.from(2))};
                while (m_reader.next()) {
                    if (m_reader.type() != kContinue) {
                        m_reader.unread();
                        break;
                    }
                    parts.emplace_back(m_reader.body());
                }
                SegmentReader s(std::vector<std::string_view>(parts.begin(), parts.end()));
                s.unicodeString(cch, m_text);
            } else {
                const std::string_view bytes = f.from(2);
                if (bytes.size() < cch)
                    throw Truncated{};
                m_book.m_codepage.append(bytes.substr(0, cch), m_text);
            }
            m_pending = false;
            emit(m_pendingRow, m_pendingCol, CellKind::Text, m_pendingStyle, 0, m_text);
        }

        const XlsBook& m_book;
        size_t m_index;
        CellSink& m_sink;
        RecordReader m_reader;
        bool m_v2, m_v8;
        std::string m_text;
        bool m_pending = false;
        uint32_t m_pendingRow = 0, m_pendingCol = 0, m_pendingStyle = 0;
    };

    std::shared_ptr<const FileBytes> m_file;
    std::string m_name;
    std::u16string m_password;
    ByteStream m_stream;
    bool m_workbookStream = false;
    Biff m_biff = Biff::V8;
    std::unique_ptr<Rc4Decryptor> m_decryptor;
    mutable Codepage m_codepage;
    std::vector<SheetInfo> m_sheets;
    std::vector<uint64_t> m_offsets;
    bool m_date1904 = false;
    StyleTable m_styles;
    std::string m_sstText;
    std::vector<uint32_t> m_sstOffsets{0};
};

}  // namespace

std::unique_ptr<BookReader> openXlsReaderFromMemory(const void* data, size_t size, std::string displayName,
                                                    std::u16string_view password)
{
    return std::make_unique<XlsBook>(FileBytes::borrow(data, size), std::move(displayName), password);
}

std::unique_ptr<BookReader> openXlsReader(const std::filesystem::path& file)
{
    const std::string name = file.string();
    return std::make_unique<XlsBook>(FileBytes::open(file, name), name, std::u16string_view{});
}

}  // namespace tabulon::engine
