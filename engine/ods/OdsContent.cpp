#include "OdsContent.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>

#include "../Error.h"
#include "../io/Zip.h"

namespace tabulon::engine {
namespace {

// A repeat count: at least 1; absurd values are cut to a size no sheet reaches.
uint32_t repeatCount(std::string_view text)
{
    uint64_t value = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFu)
            return 0xFFFFFFFFu;
    }
    return value == 0 ? 1 : static_cast<uint32_t>(value);
}

std::optional<double> parseNumber(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr == text.data())
        return std::nullopt;
    return value;
}

// An ISO 8601 duration such as "PT12H30M00S" or "-P1DT2H", in days.
std::optional<double> parseDuration(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() != 'P')
        return std::nullopt;
    text.remove_prefix(1);
    double days = 0;
    bool inTime = false;
    while (!text.empty()) {
        if (text.front() == 'T') {
            inTime = true;
            text.remove_prefix(1);
            continue;
        }
        double value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec != std::errc() || result.ptr == text.data() || result.ptr == text.data() + text.size())
            return std::nullopt;
        const char unit = *result.ptr;
        text.remove_prefix(static_cast<size_t>(result.ptr - text.data()) + 1);
        if (unit == 'D' && !inTime)
            days += value;
        else if (unit == 'H' && inTime)
            days += value / 24;
        else if (unit == 'M' && inTime)
            days += value / 1440;
        else if (unit == 'S' && inTime)
            days += value / 86400;
        else
            return std::nullopt;
    }
    return negative ? -days : days;
}

// An ISO 8601 date or date and time ("2024-02-29", "2024-02-29T13:05:00.5") as a serial
// day number of the 1900 date system, in which 1 is 1900-01-01 and the nonexistent
// 1900-02-29 is 60 (times of day alone, stored on 1899-12-30, come out as fractions of a
// day), or of the 1904 date system, in which 0 is 1904-01-01.
std::optional<double> parseDate(std::string_view text, bool date1904)
{
    auto number = [&](size_t at, size_t width, int& out) {
        if (at + width > text.size())
            return false;
        out = 0;
        for (size_t i = at; i < at + width; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!number(0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' || !number(5, 2, month) ||
        !number(8, 2, day) || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    static constexpr int kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (day > kMonthDays[month - 1] || (month == 2 && day == 29 && !leap))
        return std::nullopt;
    double fraction = 0;
    if (text.size() > 10) {
        if (text[10] != 'T' || text.size() < 19 || text[13] != ':' || text[16] != ':' || !number(11, 2, hour) ||
            !number(14, 2, minute) || !number(17, 2, second) || hour > 24 || minute > 59 || second > 60)
            return std::nullopt;
        if (text.size() > 19) {
            // Fractions of a second; a time zone is ignored, as the application ignores it.
            size_t end = 19;
            if (text[19] == '.' || text[19] == ',') {
                end = 20;
                while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                    ++end;
                double sub = 0;
                std::from_chars(text.data() + 20, text.data() + end, sub);
                if (end > 20)
                    fraction = sub / std::pow(10.0, double(end - 20));
            }
            if (end < text.size() && text[end] != 'Z' && text[end] != '+' && text[end] != '-')
                return std::nullopt;
        }
    }
    // Days from 1970-01-01 (proleptic Gregorian), then from 1899-12-30.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = int64_t(era) * 146097 + doe - 719468 + 25569 - (date1904 ? 1462 : 0);
    if (days < 0)
        return std::nullopt;  // before any serial: the stored text stays
    const double time = (hour * 3600.0 + minute * 60.0 + second + fraction) / 86400.0;
    if (date1904)
        return double(days) + time;
    if (days == 0)
        return time;
    // Serials below 61 count from 1899-12-31, as the 1900 date system takes 1900 for a leap year.
    return double(days < 61 ? days - 1 : days) + time;
}

bool isErrorLiteral(std::string_view text)
{
    for (std::string_view literal : {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA"})
        if (text == literal)
            return true;
    return false;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct ZipSource final : ByteSource {
    explicit ZipSource(ZipStream& stream) : stream(stream) {}
    size_t read(char* buffer, size_t capacity) override { return stream.read(buffer, capacity); }
    ZipStream& stream;
};

}  // namespace

uint32_t OdsContent::styleOf(std::string_view cellStyle)
{
    if (!m_styles)
        return OdsStyles::kGeneral;
    if (!m_haveLastStyle || cellStyle != m_lastStyleName) {
        m_haveLastStyle = true;
        m_lastStyleName = cellStyle;
        m_lastStyle = m_styles->xfOf(cellStyle);
    }
    return m_lastStyle;
}

void OdsContent::refuse(std::string problem)
{
    if (m_measure && m_inTarget) {
        m_measureBroken = true;
        return;
    }
    if (m_problem.empty())
        m_problem = std::move(problem);
}

void OdsContent::run(const ZipArchive& zip, uint64_t part, std::optional<size_t> target, CellSink* sink,
                     ByteSource* source)
{
    m_target = target;
    std::unique_ptr<ZipStream> stream;
    std::optional<ZipSource> zipSource;
    if (!source) {
        stream = zip.stream(part);
        source = &zipSource.emplace(*stream);
    }
    // Prefixes are not resolved: OpenDocument names its elements by distinct local names.
    XmlScanner x(*source, zip.displayName(), zip.partName(part));
    for (XmlScanner::Token t; (m_tokenBegin = x.offset(), t = x.next()) != XmlScanner::Token::End;) {
        if (t == XmlScanner::Token::StartTag) {
            start(x);
        } else if (t == XmlScanner::Token::EndTag) {
            end(x.name());
            if (sink && !m_queue.empty())
                deliver(*sink);
            else if (m_measure && !m_queue.empty())
                measure();
            if (m_tableClosed) {
                m_tableClosed = false;
                m_tables.back().end = x.offset();
            }
        } else if (m_paragraphDepth >= 0 && m_skipDepth < 0) {
            m_decoded.clear();
            x.appendText(m_decoded);
            addText(m_decoded.data(), m_decoded.size());
        } else if (m_collect && m_collect->wantsText()) {
            m_decoded.clear();
            x.appendText(m_decoded);
            m_collect->text(m_decoded);
        }
        if (!m_problem.empty())
            zip.fail(m_problem, part);
        if (m_targetDone)
            break;
    }
}

void OdsContent::start(XmlScanner& x)
{
    ++m_depth;
    const std::string_view name = x.name();
    const auto& attrs = x.attributes();
    if (m_collect && m_spreadsheetDepth < 0)
        m_collect->start(x);
    auto value = [&](const XmlScanner::Attribute& a) -> const std::string& {
        m_decoded.clear();
        XmlScanner::decode(a.value, m_decoded);
        return m_decoded;
    };

    if (m_cellDepth >= 0) {
        // Inside a cell: only its paragraphs matter. Comments, footnote bodies, ruby text,
        // drawings and nested tables are not part of the cell's text.
        if (m_skipDepth >= 0)
            return;
        if (name == "annotation" || name == "note-body" || name == "ruby-text" || name == "table" ||
            x.qualifiedName().starts_with("draw:")) {
            m_skipDepth = m_depth;
            return;
        }
        if (m_paragraphDepth < 0 && (name == "p" || name == "h")) {
            m_pendingSpace = false;
            if (m_hasParagraph)
                addSpaces(1, '\n');
            m_hasParagraph = true;
            m_paragraphDepth = m_depth;
            m_paragraphStart = true;
            return;
        }
        if (m_paragraphDepth < 0)
            return;
        if (name == "s") {
            uint64_t count = 1;
            for (const auto& a : attrs)
                if (a.name == "c")
                    count = repeatCount(value(a));
            addSpaces(count, ' ');
        } else if (name == "tab") {
            addSpaces(1, '\t');
        } else if (name == "line-break") {
            addSpaces(1, '\n');
        }
        return;
    }

    if (name == "style") {
        m_styleName.clear();
        bool table = false;
        for (const auto& a : attrs) {
            if (a.name == "name")
                m_styleName = value(a);
            else if (a.name == "family")
                table = value(a) == "table";
        }
        if (!table)
            m_styleName.clear();
        return;
    }
    if (name == "table-properties" && !m_styleName.empty()) {
        for (const auto& a : attrs)
            if (a.name == "display" && value(a) == "false")
                m_hiddenStyles.push_back(m_styleName);
        return;
    }
    if (name == "null-date" && m_spreadsheetDepth >= 0 && m_tableDepth < 0) {
        // The day that numbers count from; the application knows 1899-12-30 and 1904-01-01.
        for (const auto& a : attrs)
            if (a.name == "date-value")
                m_sawNullDate1904 = value(a).starts_with("1904-01-01");
        return;
    }
    if (name == "spreadsheet") {
        m_sawSpreadsheet = true;
        if (m_spreadsheetDepth < 0)
            m_spreadsheetDepth = m_depth;
        return;
    }
    if (m_spreadsheetDepth < 0)
        return;
    if (name == "table" && m_tableDepth < 0) {
        Table table;
        for (const auto& a : attrs) {
            if (a.name == "name")
                table.name = value(a);
            else if (a.name == "style-name")
                table.styleName = value(a);
        }
        table.begin = m_tokenBegin;
        m_inTarget = m_target ? *m_target == m_tables.size() : m_measure;
        m_tables.push_back(std::move(table));
        m_rowIndex = 0;
        if (m_measure) {
            // Each table is measured within the limits that reading it alone has.
            m_measureBroken = false;
            m_repeatedCells = m_repeatedText = m_generatedText = 0;
        }
        if (!m_inTarget) {
            // Listing tables or reading another one: this table's rows are not needed.
            x.skipElement();
            m_tables.back().end = x.offset();
            --m_depth;
            return;
        }
        m_tableDepth = m_depth;
        m_columnStyles.clear();
        m_columnCount = 0;
        return;
    }
    if (!m_inTarget)
        return;
    if (name == "table-column") {
        uint64_t repeat = 1;
        uint32_t style = OdsStyles::kGeneral;
        for (const auto& a : attrs) {
            if (a.name == "number-columns-repeated")
                repeat = repeatCount(value(a));
            else if (a.name == "default-cell-style-name")
                style = styleOf(value(a));
        }
        if (m_columnCount < kMaxColumns) {
            m_columnCount += repeat;
            m_columnStyles.emplace_back(m_columnCount, style);
        }
        return;
    }
    if (name == "table-row") {
        m_rowRepeat = 1;
        m_rowHasStyle = false;
        for (const auto& a : attrs) {
            if (a.name == "number-rows-repeated")
                m_rowRepeat = repeatCount(value(a));
            else if (a.name == "default-cell-style-name") {
                m_rowStyle = styleOf(value(a));
                m_rowHasStyle = true;
            }
        }
        m_row.runs.clear();
        m_row.text.clear();
        m_colIndex = 0;
        return;
    }
    if (name == "table-cell")
        startCell(x, false);
    else if (name == "covered-table-cell")
        startCell(x, true);
}

void OdsContent::startCell(XmlScanner& x, bool covered)
{
    m_cellDepth = m_depth;
    m_covered = covered;
    m_colRepeat = 1;
    m_valueType.clear();
    m_refinedType.clear();
    m_value.clear();
    m_dateValue.clear();
    m_timeValue.clear();
    m_boolValue.clear();
    m_stringValue.clear();
    m_hasStringValue = false;
    m_hasCellStyle = false;
    m_hasFormula = false;
    m_hasParagraph = false;
    m_text.clear();
    for (const auto& a : x.attributes()) {
        std::string* target = nullptr;
        if (a.name == "formula") {
            m_hasFormula = true;
            continue;
        }
        if (a.name == "style-name") {
            m_decoded.clear();
            XmlScanner::decode(a.value, m_decoded);
            m_cellStyle = styleOf(m_decoded);
            m_hasCellStyle = true;
            continue;
        }
        if (a.name == "number-columns-repeated") {
            m_decoded.clear();
            XmlScanner::decode(a.value, m_decoded);
            m_colRepeat = repeatCount(m_decoded);
            continue;
        }
        // office:value-type comes first; a second value-type (calcext:) refines it: an
        // error is stored as an empty string with the error literal as its paragraph.
        if (a.name == "value-type")
            target = m_valueType.empty() ? &m_valueType : &m_refinedType;
        else if (a.name == "value")
            target = &m_value;
        else if (a.name == "date-value")
            target = &m_dateValue;
        else if (a.name == "time-value")
            target = &m_timeValue;
        else if (a.name == "boolean-value")
            target = &m_boolValue;
        else if (a.name == "string-value") {
            target = &m_stringValue;
            m_hasStringValue = true;
        }
        if (target) {
            target->clear();
            XmlScanner::decode(a.value, *target);
        }
    }
}

void OdsContent::addText(const char* text, size_t length)
{
    for (size_t i = 0; i < length;) {
        // Paragraph text collapses white space as HTML does; text:s, text:tab and
        // text:line-break stand for the spaces, tabs and breaks that are meant.
        if (isSpace(text[i])) {
            if (!m_paragraphStart)
                m_pendingSpace = true;
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < length && !isSpace(text[end]))
            ++end;
        if (m_text.size() + 2 > kMaxCellText)
            return;
        if (m_pendingSpace)
            m_text += ' ';
        m_pendingSpace = false;
        m_paragraphStart = false;
        // A word at a time; the text stops short of the cap as it would a character at a time.
        const size_t room = kMaxCellText - 1 - std::min(kMaxCellText - 1, m_text.size());
        const size_t take = std::min(end - i, std::max<size_t>(room, 1));
        m_text.append(text + i, take);
        if (take < end - i)
            return;
        i = end;
    }
}

void OdsContent::addSpaces(uint64_t count, char c)
{
    if (m_pendingSpace && m_text.size() < kMaxCellText)
        m_text += ' ';
    m_pendingSpace = false;
    m_paragraphStart = false;
    const size_t room = kMaxCellText - std::min(kMaxCellText, m_text.size());
    const size_t add = static_cast<size_t>(std::min<uint64_t>(count, room));
    // <text:s text:c="1000000"/> is a few bytes that write a megabyte: bound the total.
    m_generatedText += add;
    if (m_generatedText > kMaxGeneratedText) {
        refuse("its cells repeat spaces more often than this program accepts");
        return;
    }
    m_text.append(add, c);
}

void OdsContent::endCell()
{
    Run run{static_cast<uint32_t>(std::min<uint64_t>(m_colIndex, kMaxColumns)), m_colRepeat, CellKind::Shown,
            OdsStyles::kGeneral, 0, 0, 0};
    const uint64_t col = m_colIndex;
    m_colIndex += m_colRepeat;
    const bool hasValue = !m_valueType.empty() && m_valueType != "void";
    if (!hasValue && !m_hasParagraph)
        return;  // an empty cell, perhaps styled: it does not extend the used range
    // The cell's style, else the row's default, else the column's.
    uint32_t style = m_cellStyle;
    if (!m_hasCellStyle) {
        style = m_rowHasStyle ? m_rowStyle : OdsStyles::kGeneral;
        if (!m_rowHasStyle) {
            const auto it = std::upper_bound(m_columnStyles.begin(), m_columnStyles.end(), col,
                                             [](uint64_t c, const auto& entry) { return c < entry.first; });
            if (it != m_columnStyles.end())
                style = it->second;
            else if (m_styles)
                style = m_styles->xfOf({});
        }
    }
    // A number, date or time shows through its data style, as the application shows it; the
    // stored paragraph is what the writing program showed, in its own language. A style no
    // format code can express leaves the paragraph as it is.
    std::optional<double> number;
    if (m_valueType == "float" || m_valueType == "percentage" || m_valueType == "currency")
        number = parseNumber(m_value);
    else if (m_valueType == "date")
        number = parseDate(m_dateValue, m_date1904);
    else if (m_valueType == "time")
        number = parseDuration(m_timeValue);
    const bool keepParagraph = m_hasParagraph && style == OdsStyles::kUntranslated;
    if (m_covered) {
        // Hidden under a merged cell: the merged area shows only its first cell's value.
        run.kind = CellKind::Blank;
    } else if (m_refinedType == "error" || (m_hasFormula && m_hasParagraph && isErrorLiteral(m_text))) {
        // Some writers store a formula's error as the value 0 with the error as its text.
        run.kind = CellKind::Error;
    } else if (m_valueType == "boolean" && !m_boolValue.empty()) {
        // The stored text follows the writer's language ("FAUX", "WAHR"); CSV files say TRUE/FALSE.
        run.kind = CellKind::Bool;
        run.number = (m_boolValue == "true" || m_boolValue == "1") ? 1 : 0;
    } else if (number && !keepParagraph) {
        run.kind = CellKind::Number;
        run.number = *number;
        run.style = style == OdsStyles::kUntranslated ? OdsStyles::kGeneral : style;
    } else if (m_valueType == "string" && m_hasStringValue) {
        // The exact text, where the paragraphs may have lost line ends and runs of spaces
        // to white-space collapsing (formula results are stored this way).
        run.kind = CellKind::Shown;
        m_text = m_stringValue.substr(0, kMaxCellText);
    } else if (m_hasParagraph) {
        run.kind = CellKind::Shown;
    } else if (m_valueType == "float" || m_valueType == "percentage" || m_valueType == "currency") {
        m_text = m_value;
    } else if (m_valueType == "date") {
        m_text = m_dateValue;
    } else if (m_valueType == "time") {
        m_text = m_timeValue;
    } else {
        m_text = m_stringValue;
    }
    if (col >= kMaxColumns) {
        refuse("a table has a cell beyond the last column a sheet can have");
        return;
    }
    if (m_rowIndex >= kMaxRows) {
        refuse("a table has a cell beyond the last row a sheet can have");
        return;
    }
    run.count = static_cast<uint32_t>(std::min<uint64_t>(m_colRepeat, kMaxColumns - col));
    if (run.kind == CellKind::Shown || run.kind == CellKind::Error) {
        run.textBegin = m_row.text.size();
        run.textSize = m_text.size();
        m_row.text += m_text;
    }
    m_row.runs.push_back(run);
}

void OdsContent::endRow()
{
    if (!m_row.runs.empty()) {
        const uint32_t repeat = static_cast<uint32_t>(std::min<uint64_t>(m_rowRepeat, kMaxRows - m_rowIndex));
        uint64_t cells = 0, textBytes = 0;
        for (const Run& run : m_row.runs) {
            cells += run.count;
            textBytes += uint64_t(run.count) * run.textSize;
        }
        if (repeat > 1 || cells > m_row.runs.size()) {
            m_repeatedCells += cells * repeat;
            m_repeatedText += textBytes * repeat;
            if (m_repeatedCells > kMaxRepeatedCells || m_repeatedText > kMaxRepeatedText) {
                refuse("its tables repeat cells more often than this program accepts (" +
                       std::to_string(m_repeatedCells) + " or more cells)");
                return;
            }
        }
        m_row.row = static_cast<uint32_t>(m_rowIndex);
        m_row.repeat = repeat;
        m_queue.push_back(std::move(m_row));
        m_row = Row{};
    }
    m_rowIndex += m_rowRepeat;
}

void OdsContent::end(std::string_view name)
{
    const int depth = m_depth--;
    if (m_collect && m_spreadsheetDepth < 0)
        m_collect->end(name);
    if (m_cellDepth >= 0) {
        if (depth == m_skipDepth)
            m_skipDepth = -1;
        else if (depth == m_paragraphDepth) {
            // A space at the end of a paragraph is kept; only leading ones are dropped.
            if (m_pendingSpace && m_text.size() < kMaxCellText)
                m_text += ' ';
            m_pendingSpace = false;
            m_paragraphDepth = -1;
        }
        else if (depth == m_cellDepth) {
            m_cellDepth = -1;
            endCell();
        }
        return;
    }
    if (depth == m_tableDepth) {
        m_tableDepth = -1;
        if (m_inTarget && !m_measure)
            m_targetDone = true;
        if (m_measure) {
            m_tableClosed = true;
            if (m_measureBroken)
                m_tables.back().range.reset();
        }
        m_inTarget = false;
        return;
    }
    if (depth == m_spreadsheetDepth) {
        m_spreadsheetDepth = -1;
        return;
    }
    if (m_inTarget && name == "table-row")
        endRow();
    else if (name == "style")
        m_styleName.clear();
}

// What deliver() would give a sink, as a range.
void OdsContent::measure()
{
    std::optional<CellRange>& range = m_tables.back().range;
    for (const Row& row : m_queue) {
        for (const Run& run : row.runs) {
            const CellRange cells{row.row, run.col, row.row + row.repeat - 1, run.col + run.count - 1};
            if (!range) {
                range = cells;
                continue;
            }
            range->firstRow = std::min(range->firstRow, cells.firstRow);
            range->firstCol = std::min(range->firstCol, cells.firstCol);
            range->lastRow = std::max(range->lastRow, cells.lastRow);
            range->lastCol = std::max(range->lastCol, cells.lastCol);
        }
    }
    m_queue.clear();
}

void OdsContent::deliver(CellSink& sink)
{
    CellData cell;
    for (const Row& row : m_queue) {
        for (uint32_t r = 0; r < row.repeat; ++r) {
            for (const Run& run : row.runs) {
                cell.kind = run.kind;
                cell.style = run.style;
                cell.number = run.number;
                cell.text = std::string_view(row.text).substr(run.textBegin, run.textSize);
                for (uint32_t c = 0; c < run.count; ++c)
                    sink.cell(row.row + r, run.col + c, cell);
            }
        }
    }
    m_queue.clear();
}

}  // namespace tabulon::engine
