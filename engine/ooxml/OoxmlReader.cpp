#include "OoxmlReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "../Error.h"
#include "../io/Package.h"
#include "../io/XmlScanner.h"

namespace tabulon::engine {
namespace {

using Token = XmlScanner::Token;

// Shared strings live in one arena addressed by 32-bit offsets; both caps lie far beyond
// real workbooks (a million rows of distinct text take about 30 MB).
constexpr size_t kMaxSharedStringBytes = size_t(1) << 30;
constexpr size_t kMaxSharedStrings = size_t(1) << 26;
constexpr size_t kMaxStyles = size_t(1) << 22;
// Parts larger than this (packed) are inflated by a second thread while this one parses.
constexpr uint64_t kBackgroundFrom = uint64_t(256) << 10;
// Parts up to this size (stated, inflated) are inflated whole and scanned in memory.
constexpr uint64_t kWholeUpTo = uint64_t(4) << 20;

inline std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool parseUnsigned(std::string_view s, uint32_t& out)
{
    if (s.empty() || s.size() > 10 || s[0] < '0' || s[0] > '9' || s.back() < '0' || s.back() > '9') {
        s = trimmed(s);
        if (!s.empty() && s.front() == '+')
            s.remove_prefix(1);
        if (s.empty() || s.size() > 10)
            return false;
    }
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool parseNumber(std::string_view s, double& out)
{
    // Whole numbers of up to 15 digits are exact as doubles: no need for the general parser.
    if (!s.empty() && s.size() <= 16) {
        size_t i = s[0] == '-' ? 1 : 0;
        if (i < s.size() && s.size() - i <= 15) {
            int64_t v = 0;
            size_t j = i;
            for (; j < s.size() && s[j] >= '0' && s[j] <= '9'; ++j)
                v = v * 10 + (s[j] - '0');
            if (j == s.size()) {
                out = i ? -static_cast<double>(v) : static_cast<double>(v);
                return true;
            }
        }
    }
    s = trimmed(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (end != s.data() + s.size())
        return false;
    if (ec == std::errc::result_out_of_range) {
        // Values beyond the double range are not numbers a sheet can hold; underflow is zero.
        const size_t e = s.find_first_of("eE");
        if (e == std::string_view::npos || e + 1 >= s.size() || s[e + 1] != '-')
            return false;
        out = 0;
        return true;
    }
    return ec == std::errc() && std::isfinite(out);
}

bool isTrue(std::string_view v) { return v == "1" || v == "true"; }

// Decodes the _xHHHH_ escapes of spreadsheet text in place (from `from` on): "_x000D_" is
// a CR, and "_x005F_" escapes the underscore of a literal "_xHHHH_".
void decodeEscapes(std::string& s, size_t from)
{
    if (s.find("_x", from) == std::string::npos)
        return;
    auto hexValue = [](std::string_view h, uint32_t& v) {
        v = 0;
        for (char c : h) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        return true;
    };
    std::string out;
    size_t i = from;
    out.reserve(s.size() - from);
    while (i < s.size()) {
        uint32_t cp;
        if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_' &&
            hexValue(std::string_view(s).substr(i + 2, 4), cp)) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 13 < s.size() && s[i + 7] == '_' && s[i + 8] == 'x' && s[i + 13] == '_') {
                uint32_t low;
                if (hexValue(std::string_view(s).substr(i + 9, 4), low) && low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    i += 7;
                }
            }
            std::string one;
            XmlScanner::decode("&#" + std::to_string(cp == 0 ? 0xFFFD : cp) + ";", one);
            out += one;
            i += 7;
        } else {
            out.push_back(s[i++]);
        }
    }
    s.resize(from);
    s += out;
}

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// An ISO 8601 date, date-time or time (the "d" cell type) as a serial number.
bool isoToSerial(std::string_view s, bool date1904, double& serial)
{
    auto digits = [&](size_t at, size_t n, int& v) {
        if (at + n > s.size())
            return false;
        v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            v = v * 10 + (s[i] - '0');
        }
        return true;
    };
    double days = 0;
    size_t p = 0;
    int y, mo, d;
    if (s.size() >= 10 && s[4] == '-' && digits(0, 4, y) && digits(5, 2, mo) && s[7] == '-' && digits(8, 2, d)) {
        if (mo < 1 || mo > 12 || d < 1 || d > 31)
            return false;
        const int64_t n = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
        if (date1904) {
            days = static_cast<double>(n - daysFromCivil(1904, 1, 1));
        } else {
            int64_t v = n - daysFromCivil(1899, 12, 31);
            if (v >= 60)
                ++v;  // the 1900 system counts a 29 February 1900 that never was
            days = static_cast<double>(v);
        }
        p = 10;
        if (p < s.size() && (s[p] == 'T' || s[p] == ' '))
            ++p;
    } else if (!s.empty() && s[0] == 'T') {
        p = 1;
    }
    double fraction = 0;
    if (p < s.size()) {
        int h, mi, sec = 0;
        if (!digits(p, 2, h) || p + 2 >= s.size() || s[p + 2] != ':' || !digits(p + 3, 2, mi))
            return false;
        p += 5;
        double seconds = 0;
        if (p < s.size() && s[p] == ':') {
            if (!digits(p + 1, 2, sec))
                return false;
            p += 3;
            seconds = sec;
            if (p < s.size() && s[p] == '.') {
                size_t q = p + 1;
                double scale = 0.1;
                while (q < s.size() && s[q] >= '0' && s[q] <= '9') {
                    seconds += (s[q] - '0') * scale;
                    scale /= 10;
                    ++q;
                }
                p = q;
            }
        }
        // A zone designator (Z, +hh:mm) is ignored: cells hold local times.
        if (p < s.size() && s[p] != 'Z' && s[p] != '+' && s[p] != '-')
            return false;
        if (h > 24 || mi > 59 || seconds >= 61)
            return false;
        fraction = (h * 3600 + mi * 60 + seconds) / 86400.0;
    }
    serial = days + fraction;
    return true;
}

// "AB12" as 0-based row and column; false when malformed or outside the sheet.
bool parseCellRef(std::string_view ref, uint32_t& row, uint32_t& col, bool& hasRow)
{
    const char* p = ref.data();
    const char* const end = p + ref.size();
    uint32_t c = 0;
    int letters = 0;
    for (; p < end; ++p) {
        const unsigned letter = (static_cast<unsigned char>(*p) | 0x20u) - 'a';  // either case
        if (letter >= 26)
            break;
        if (++letters > 3)
            return false;
        c = c * 26 + letter + 1;
    }
    if (letters == 0 || c > kMaxColumns)
        return false;
    col = c - 1;
    hasRow = p < end;
    if (!hasRow)
        return true;
    if (end - p > 7)
        return false;
    uint32_t r = 0;
    for (; p < end; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
        if (digit > 9)
            return false;
        r = r * 10 + digit;
    }
    if (r == 0 || r > kMaxRows)
        return false;
    row = r - 1;
    return true;
}

class OoxmlReader final : public BookReader {
public:
    explicit OoxmlReader(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip)), m_file(m_zip->displayName())
    {
        const std::string workbook = findWorkbookPart(*m_zip).path;
        if (workbook.empty())
            fail("not a workbook this program can read (the package has no workbook part)");
        const auto rels = readRelationships(*m_zip, workbook);
        readWorkbook(workbook, rels);
        if (const Relationship* styles = findRelationship(rels, "styles"))
            m_stylesPart = styles->target;
        if (const Relationship* strings = findRelationship(rels, "sharedStrings"))
            m_stringsPart = strings->target;
        if (!m_stylesPart.empty())
            readStyles();
        if (!m_stringsPart.empty())
            readSharedStrings();
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return m_date1904; }
    const StyleTable& styles() const override { return m_styles; }
    std::optional<CellRange> dimension(size_t sheetIndex) override;
    void readSheet(size_t sheetIndex, CellSink& sink) override;

private:
    [[noreturn]] void fail(const std::string& what) const { throw Error(describe(m_file, what)); }

    std::optional<uint64_t> findPart(const std::string& name) const { return engine::findPart(*m_zip, name); }

    void readWorkbook(const std::string& part, const std::vector<Relationship>& rels)
    {
        const auto index = findPart(part);
        const std::string xml = readTextPart(*m_zip, *index);
        XmlScanner x(xml, m_file, part);
        bool root = true;
        for (Token t; (t = x.next()) != Token::End;) {
            if (t != Token::StartTag)
                continue;
            if (root && x.name() != "workbook")
                fail("not a workbook this program can read (its main part is not a workbook)");
            root = false;
            if (x.name() == "workbookPr") {
                if (auto v = x.attribute("date1904"))
                    m_date1904 = isTrue(*v);
            } else if (x.name() == "sheet") {
                SheetInfo info;
                Sheet sheet;
                if (auto v = x.attribute("name"))
                    XmlScanner::decode(*v, info.name);
                if (auto v = x.attribute("state"))
                    info.visibility = *v == "hidden" ? SheetVisibility::Hidden
                                      : *v == "veryHidden" ? SheetVisibility::VeryHidden
                                                           : SheetVisibility::Visible;
                std::string id;
                if (auto v = x.attribute("id"))
                    XmlScanner::decode(*v, id);
                if (const Relationship* rel = relationshipWithId(rels, id)) {
                    sheet.part = rel->target;
                    if (rel->type == "chartsheet")
                        info.kind = SheetKind::Chart;
                    else if (rel->type == "dialogsheet")
                        info.kind = SheetKind::Dialog;
                    else if (rel->type == "xlMacrosheet" || rel->type == "xlIntlMacrosheet")
                        info.kind = SheetKind::Macro;
                }
                m_sheets.push_back(std::move(info));
                m_parts.push_back(std::move(sheet));
            }
        }
        if (m_sheets.empty())
            fail("the workbook has no sheets");
    }

    void readStyles()
    {
        const auto index = findPart(m_stylesPart);
        if (!index)
            return;  // a dangling relationship: every cell shows through "General"
        const std::string xml = readTextPart(*m_zip, *index);
        XmlScanner x(xml, m_file, m_stylesPart);
        // Only <numFmts> and <cellXfs> count: differential formats (<dxfs>) hold numFmt
        // elements too, and cell style formats hold xf elements.
        uint32_t cellXfsDepth = 0, numFmtsDepth = 0;
        for (Token t; (t = x.next()) != Token::End;) {
            if (t == Token::EndTag) {
                if (cellXfsDepth && x.depth() < cellXfsDepth)
                    cellXfsDepth = 0;
                if (numFmtsDepth && x.depth() < numFmtsDepth)
                    numFmtsDepth = 0;
                continue;
            }
            if (t != Token::StartTag)
                continue;
            if (x.name() == "numFmts") {
                numFmtsDepth = x.depth();
            } else if (x.name() == "numFmt" && numFmtsDepth && x.depth() == numFmtsDepth + 1) {
                uint32_t id = 0;
                auto idText = x.attribute("numFmtId");
                auto code = x.attribute("formatCode");
                if (idText && code && parseUnsigned(*idText, id)) {
                    std::string decoded;
                    XmlScanner::decode(*code, decoded);
                    decodeEscapes(decoded, 0);
                    m_styles.customFormats[id] = std::move(decoded);
                }
            } else if (x.name() == "cellXfs") {
                cellXfsDepth = x.depth();
            } else if (x.name() == "xf" && cellXfsDepth && x.depth() == cellXfsDepth + 1) {
                uint32_t id = 0;
                if (auto v = x.attribute("numFmtId"))
                    parseUnsigned(*v, id);
                if (m_styles.xfFormatIds.size() >= kMaxStyles)
                    fail("the styles part holds more cell formats than this program accepts");
                m_styles.xfFormatIds.push_back(id);
            }
        }
    }

    // Text of <t> elements below the current element, leaving out phonetic runs (<rPh>).
    void collectText(XmlScanner& x, std::string& out, const char* what) const
    {
        const uint32_t end = x.depth() - 1;
        uint32_t inT = 0;
        for (;;) {
            const Token t = x.next();
            if (t == Token::StartTag) {
                if (x.name() == "t")
                    inT = x.depth();
                else if (x.name() == "rPh" || x.name() == "phoneticPr")
                    x.skipElement();
            } else if (t == Token::EndTag) {
                if (x.depth() == end)
                    return;
                if (inT && x.depth() < inT)
                    inT = 0;
            } else if (t == Token::Text) {
                if (inT)
                    x.appendText(out);
                if (out.size() > kMaxSharedStringBytes)
                    fail(std::string(what) + " holds more text than this program accepts");
            } else {
                x.fail("it ends early");
            }
        }
    }

    void readSharedStrings()
    {
        const auto index = findPart(m_stringsPart);
        if (!index)
            return;
        const uint64_t stated = m_zip->statedSize(*index);
        m_strings.reserve(static_cast<size_t>(std::min<uint64_t>(stated, uint64_t(256) << 20)));
        auto parse = [&](XmlScanner& x) {
            for (Token t; (t = x.next()) != Token::End;) {
                if (t != Token::StartTag || x.name() != "si")
                    continue;
                const size_t start = m_strings.size();
                collectText(x, m_strings, "the shared strings part");
                decodeEscapes(m_strings, start);
                if (m_strings.size() > kMaxSharedStringBytes || m_stringEnds.size() >= kMaxSharedStrings)
                    fail("the shared strings part holds more text than this program accepts");
                m_stringEnds.push_back(static_cast<uint32_t>(m_strings.size()));
            }
        };
        withPart(*index, m_stringsPart, parse);
        if (m_strings.capacity() > m_strings.size() + (m_strings.size() >> 3) + 4096)
            m_strings.shrink_to_fit();
    }

    std::string_view sharedString(uint32_t i) const
    {
        const uint32_t begin = i == 0 ? 0 : m_stringEnds[i - 1];
        return std::string_view(m_strings).substr(begin, m_stringEnds[i] - begin);
    }

    // Runs `parse` over a part, streaming it (UTF-8) or, for UTF-16 parts, converted whole.
    // With `headOnly` the part is inflated a little at a time, for callers that stop early.
    template <class F>
    void withPart(uint64_t index, const std::string& partName, F&& parse, bool headOnly = false) const
    {
        struct Source final : ByteSource {
            ZipStream& s;
            size_t limit;
            char head[4];
            size_t headSize = 0, headPos = 0;
            Source(ZipStream& stream, size_t readLimit) : s(stream), limit(readLimit) {}
            size_t read(char* buffer, size_t capacity) override
            {
                if (headPos < headSize) {
                    const size_t n = std::min(capacity, headSize - headPos);
                    std::memcpy(buffer, head + headPos, n);
                    headPos += n;
                    return n;
                }
                return s.read(buffer, std::min(capacity, limit));
            }
        };
        const uint64_t stated = m_zip->statedSize(index);
        if (!headOnly && stated <= kWholeUpTo) {
            // Small parts inflate whole and scan in memory.
            const std::string xml = m_zip->readAll(index, kWholeUpTo);
            std::string converted;
            XmlScanner x(utf8Document(xml, converted), m_file, partName);
            parse(x);
            return;
        }
        auto stream = m_zip->stream(index, !headOnly && stated > kBackgroundFrom);
        Source source(*stream, headOnly ? size_t(4) << 10 : ~size_t(0));
        while (source.headSize < sizeof source.head) {
            const size_t n = stream->read(source.head + source.headSize, sizeof source.head - source.headSize);
            if (n == 0)
                break;
            source.headSize += n;
        }
        std::string storage;
        const std::string_view head(source.head, source.headSize);
        if (utf8Document(head, storage).data() == storage.data() && !storage.empty()) {
            stream.reset();
            const std::string xml = m_zip->readAll(index);
            std::string converted;
            XmlScanner x(utf8Document(xml, converted), m_file, partName);
            parse(x);
            return;
        }
        XmlScanner x(source, m_file, partName);
        parse(x);
    }

    uint64_t sheetPart(size_t sheetIndex) const
    {
        if (sheetIndex >= m_parts.size())
            fail("the workbook has no sheet " + std::to_string(sheetIndex + 1));
        const std::string& part = m_parts[sheetIndex].part;
        auto index = part.empty() ? std::nullopt : findPart(part);
        if (!index)
            fail("the sheet \"" + m_sheets[sheetIndex].name + "\" is missing from the package");
        return *index;
    }

    void parseSheetData(XmlScanner& x, CellSink& sink, const std::string& sheetName) const;

    struct Sheet {
        std::string part;
    };

    std::unique_ptr<ZipArchive> m_zip;
    std::string m_file;
    std::vector<SheetInfo> m_sheets;
    std::vector<Sheet> m_parts;
    bool m_date1904 = false;
    StyleTable m_styles;
    std::string m_stylesPart, m_stringsPart;
    std::string m_strings;
    std::vector<uint32_t> m_stringEnds;
};

std::optional<CellRange> OoxmlReader::dimension(size_t sheetIndex)
{
    if (sheetIndex >= m_sheets.size() || m_sheets[sheetIndex].kind != SheetKind::Worksheet)
        return std::nullopt;
    const uint64_t index = sheetPart(sheetIndex);
    std::optional<CellRange> range;
    // Only the head of the part is read: the dimension comes before the cells.
    withPart(index, m_parts[sheetIndex].part, [&](XmlScanner& x) {
        try {
            for (Token t; (t = x.next()) != Token::End;) {
                if (t != Token::StartTag)
                    continue;
                if (x.name() == "sheetData")
                    return;
                if (x.name() != "dimension")
                    continue;
                auto ref = x.attribute("ref");
                if (!ref)
                    return;
                const size_t colon = ref->find(':');
                CellRange r;
                bool hasRow1 = false, hasRow2 = false;
                if (!parseCellRef(ref->substr(0, colon), r.firstRow, r.firstCol, hasRow1) || !hasRow1)
                    return;
                r.lastRow = r.firstRow;
                r.lastCol = r.firstCol;
                if (colon != std::string_view::npos &&
                    (!parseCellRef(ref->substr(colon + 1), r.lastRow, r.lastCol, hasRow2) || !hasRow2))
                    return;
                range = r;
                return;
            }
        } catch (const Error&) {
            // A damaged head: no hint; reading the cells will report the damage.
        }
    }, true);
    return range;
}

// Carries cells from a parsing thread to the thread that renders and writes them, in batches.
// Text of shared strings is passed by pointer (the arena does not change while a sheet is
// read); other text is copied into the batch.
class CellPipe final : public CellSink {
public:
    struct Stopped {};  // the consumer gave up: the parsing thread unwinds quietly

    explicit CellPipe(std::string_view stable) : m_stable(stable) {}

    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        Cell c{row, col, data.style, data.kind, false, data.number, nullptr, 0, static_cast<uint32_t>(data.text.size())};
        if (!data.text.empty()) {
            const std::less<const char*> before;
            if (!before(data.text.data(), m_stable.data()) &&
                !before(m_stable.data() + m_stable.size(), data.text.data() + data.text.size())) {
                c.external = data.text.data();
            } else {
                c.owned = true;
                c.offset = m_filling.text.size();
                m_filling.text.append(data.text);
            }
        }
        m_filling.cells.push_back(c);
        if (m_filling.cells.size() >= kBatchCells || m_filling.text.size() >= kBatchText)
            push();
    }

    // Producer: hands over what is left and marks the end, with the error that ended it.
    void finish(std::exception_ptr error)
    {
        if (!error && !m_filling.cells.empty()) {
            try {
                push();
            } catch (const Stopped&) {
            }
        }
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_error = error;
        m_changed.notify_all();
    }

    // Consumer: delivers every cell to `sink`; rethrows the producer's error.
    void drain(CellSink& sink)
    {
        Batch batch;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (!batch.cells.empty() || !batch.text.empty()) {
                    batch.cells.clear();
                    batch.text.clear();
                    m_free.push_back(std::move(batch));
                }
                m_changed.wait(lock, [&] { return !m_full.empty() || m_done; });
                if (m_full.empty()) {
                    if (m_error)
                        std::rethrow_exception(m_error);
                    return;
                }
                batch = std::move(m_full.front());
                m_full.pop_front();
                m_changed.notify_all();
            }
            CellData d;
            for (const Cell& c : batch.cells) {
                d.kind = c.kind;
                d.style = c.style;
                d.number = c.number;
                d.text = c.owned ? std::string_view(batch.text).substr(c.offset, c.length)
                                 : std::string_view(c.external, c.external ? c.length : 0);
                sink.cell(c.row, c.col, d);
            }
        }
    }

    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

private:
    static constexpr size_t kBatchCells = 4096;
    static constexpr size_t kBatchText = size_t(256) << 10;
    static constexpr size_t kBatches = 4;

    struct Cell {
        uint32_t row, col, style;
        CellKind kind;
        bool owned;
        double number;
        const char* external;
        size_t offset = 0;
        uint32_t length;
    };
    struct Batch {
        std::vector<Cell> cells;
        std::string text;
    };

    void push()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || m_full.size() < kBatches; });
        if (m_stopped)
            throw Stopped{};
        m_full.push_back(std::move(m_filling));
        m_filling = {};
        if (!m_free.empty()) {
            m_filling = std::move(m_free.back());
            m_free.pop_back();
        }
        m_changed.notify_all();
    }

    std::string_view m_stable;
    Batch m_filling;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_full;
    std::vector<Batch> m_free;
    bool m_done = false;
    bool m_stopped = false;
    std::exception_ptr m_error;
};

void OoxmlReader::readSheet(size_t sheetIndex, CellSink& sink)
{
    if (sheetIndex >= m_sheets.size() || m_sheets[sheetIndex].kind != SheetKind::Worksheet)
        return;
    const uint64_t index = sheetPart(sheetIndex);
    auto parse = [this, sheetIndex, index](CellSink& to) {
        withPart(index, m_parts[sheetIndex].part, [&](XmlScanner& x) {
            for (Token t; (t = x.next()) != Token::End;) {
                if (t == Token::StartTag && x.name() == "sheetData") {
                    parseSheetData(x, to, m_sheets[sheetIndex].name);
                    return;  // what follows the cells (merges, margins, ...) does not show
                }
            }
        });
    };
    if (m_zip->statedSize(index) <= kWholeUpTo) {
        parse(sink);
        return;
    }
    // Large sheets: a second thread parses (while a third inflates, see withPart), and this
    // one renders and writes. Parsing and inflating take about as long as rendering and
    // writing, so on two cores the work splits about evenly.
    CellPipe pipe(m_strings);
    std::thread parser([&] {
        std::exception_ptr error;
        try {
            parse(pipe);
        } catch (const CellPipe::Stopped&) {
        } catch (...) {
            error = std::current_exception();
        }
        pipe.finish(error);
    });
    struct Join {
        CellPipe& pipe;
        std::thread& thread;
        ~Join()
        {
            pipe.stop();
            thread.join();
        }
    } join{pipe, parser};
    pipe.drain(sink);
}

void OoxmlReader::parseSheetData(XmlScanner& x, CellSink& sink, const std::string& sheetName) const
{
    const uint32_t dataDepth = x.depth();
    auto bad = [&](const std::string& what) { fail("the worksheet \"" + sheetName + "\" " + what); };
    uint32_t row = 0;
    bool anyRow = false;
    uint32_t nextCol = 0;
    std::string value, inlineText, escaped;
    // Names with the prefix the file uses, for the scanner's shortcuts.
    std::string prefix = "\x01", cName, vName, fName;
    for (;;) {
        Token t = x.next();
        if (t == Token::End)
            x.fail("it ends early");
        if (t == Token::EndTag) {
            if (x.depth() < dataDepth)
                return;
            continue;
        }
        if (t != Token::StartTag)
            continue;
        const std::string_view name = x.name();
        if (name == "row") {
            uint32_t r = 0;
            if (auto v = x.attribute("r"); v && !v->empty()) {
                if (!parseUnsigned(*v, r) || r == 0 || r > kMaxRows)
                    bad("has a row number outside the sheet");
                row = r - 1;
            } else {
                if (anyRow && row + 1 >= kMaxRows)
                    bad("has more rows than a sheet can hold");
                row = anyRow ? row + 1 : 0;
            }
            anyRow = true;
            nextCol = 0;
            if (x.selfClosing())
                x.skipElement();
            continue;
        }
        if (name != "c") {
            x.skipElement();
            continue;
        }
        // A cell.
        uint32_t cellRow = row, col = nextCol;
        CellData cell;
        enum class Type : uint8_t { Number, Shared, String, Inline, Bool, Error, Date, Other } type = Type::Number;
        for (const auto& a : x.attributes()) {
            if (a.name == "r") {
                bool hasRow = false;
                uint32_t refRow = row;
                if (!a.value.empty()) {
                    if (!parseCellRef(a.value, refRow, col, hasRow))
                        bad("has a cell reference outside the sheet (" + std::string(a.value.substr(0, 32)) + ")");
                    if (hasRow)
                        cellRow = refRow;
                }
            } else if (a.name == "s") {
                uint32_t s = 0;
                if (parseUnsigned(a.value, s))
                    cell.style = s;
            } else if (a.name == "t") {
                const std::string_view v = a.value;
                type = v == "s"           ? Type::Shared
                       : v == "n"         ? Type::Number
                       : v == "str"       ? Type::String
                       : v == "inlineStr" ? Type::Inline
                       : v == "b"         ? Type::Bool
                       : v == "e"         ? Type::Error
                       : v == "d"         ? Type::Date
                                          : Type::Other;
            }
        }
        if (!anyRow) {
            anyRow = true;
            row = cellRow;
        }
        if (col >= kMaxColumns)
            bad("has more columns than a sheet can hold");
        nextCol = col + 1;
        row = cellRow;  // a following cell without a reference continues this one's row
        bool hasValue = false, hasInline = false, hasFormula = false;
        std::string_view raw;  // the value as written
        inlineText.clear();
        if (x.selfClosing()) {
            x.next();  // the synthesised end tag
        } else {
            const std::string_view qname = x.qualifiedName();
            if (qname.size() != prefix.size() + 1 || !qname.starts_with(prefix)) {
                prefix.assign(qname.substr(0, qname.size() - 1));
                cName = prefix + "c";
                vName = prefix + "v";
                fName = prefix + "f";
            }
            // Most cells are <c ...><v>..</v></c> or <c ...><f>..</f><v>..</v></c>.
            std::string_view formula;
            if (x.tryTextElement(fName, formula))
                hasFormula = true;
            bool done = false;
            if (x.tryTextElement(vName, raw)) {
                hasValue = true;
                done = x.tryEndTag(cName);
            } else if (hasFormula) {
                done = x.tryEndTag(cName);
            }
            if (!done) {
                value.assign(raw);
                const uint32_t cellDepth = x.depth();
                for (;;) {
                    t = x.next();
                    if (t == Token::EndTag && x.depth() < cellDepth)
                        break;
                    if (t == Token::End)
                        x.fail("it ends early");
                    if (t != Token::StartTag)
                        continue;
                    if (x.name() == "v") {
                        hasValue = true;
                        const uint32_t vDepth = x.depth();
                        for (;;) {
                            t = x.next();
                            if (t == Token::Text) {
                                x.appendText(value);
                                if (value.size() > XmlScanner::kMaxToken)
                                    x.fail("a value is larger than this program accepts");
                            } else if (t == Token::EndTag && x.depth() < vDepth) {
                                break;
                            } else if (t == Token::StartTag) {
                                x.skipElement();
                            } else if (t == Token::End) {
                                x.fail("it ends early");
                            }
                        }
                    } else if (x.name() == "is") {
                        hasInline = true;
                        collectText(x, inlineText, "a cell");
                    } else {
                        hasFormula = hasFormula || x.name() == "f";
                        x.skipElement();  // <f>, extensions
                    }
                }
                raw = value;
            } else if (raw.find_first_of("&\r") != std::string_view::npos) {
                value.clear();
                XmlScanner::decode(raw, value);
                raw = value;
            }
        }
        // An empty cell in the default format carries nothing of its own and is not part of
        // the used range (some producers store such cells up to the sheet's last one).
        if (!hasValue && !hasInline && !hasFormula && cell.style == 0)
            continue;
        // Text with _xHHHH_ escapes, decoded.
        auto text = [&](std::string_view s) -> std::string_view {
            if (s.find("_x") == std::string_view::npos)
                return s;
            escaped.assign(s);
            decodeEscapes(escaped, 0);
            return escaped;
        };
        if (type == Type::Inline || (!hasValue && hasInline)) {
            if (hasInline || hasValue) {
                cell.kind = CellKind::Text;
                cell.text = text(hasInline ? std::string_view(inlineText) : raw);
            }
        } else if (!hasValue) {
            // A stored cell without a value (formatting only, or a formula never calculated):
            // blank, but part of the used range.
        } else if (type == Type::Number) {
            if (parseNumber(raw, cell.number)) {
                cell.kind = CellKind::Number;
            } else if (!raw.empty()) {
                cell.kind = CellKind::Text;  // not a number after all: shown as stored
                cell.text = raw;
            }
        } else if (type == Type::Shared) {
            uint32_t i = 0;
            if (raw.empty()) {
                cell.kind = CellKind::Blank;
            } else if (!parseUnsigned(raw, i) || i >= m_stringEnds.size()) {
                bad("refers to shared string " + std::string(raw.substr(0, 20)) + ", which does not exist");
            } else {
                cell.kind = CellKind::Text;
                cell.text = sharedString(i);
            }
        } else if (type == Type::String || type == Type::Other) {
            cell.kind = CellKind::Text;
            cell.text = text(raw);
        } else if (type == Type::Bool) {
            double n = 0;
            cell.kind = CellKind::Bool;
            cell.number = (isTrue(raw) || (parseNumber(raw, n) && n != 0)) ? 1 : 0;
        } else if (type == Type::Error) {
            cell.kind = CellKind::Error;
            cell.text = raw;
        } else if (type == Type::Date) {
            double serial = 0;
            if (isoToSerial(raw, m_date1904, serial)) {
                cell.kind = CellKind::Number;
                cell.number = serial;
            } else {
                cell.kind = CellKind::Text;
                cell.text = raw;
            }
        }
        sink.cell(cellRow, col, cell);
    }
}

}  // namespace

std::unique_ptr<BookReader> openOoxmlReader(std::unique_ptr<ZipArchive> package)
{
    return std::make_unique<OoxmlReader>(std::move(package));
}

std::unique_ptr<BookReader> openOoxmlReader(const std::filesystem::path& file)
{
    return openOoxmlReader(ZipArchive::openFile(file));
}

}  // namespace tabulon::engine
