#include "OdsContent.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include "../Error.h"
#include "../io/Zip.h"

namespace tabulon::engine {
namespace {

constexpr char kSeparator = '|';
constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kStyleNs = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
constexpr std::string_view kDrawNs = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr size_t kChunk = 64 * 1024;

struct Name {
    std::string_view ns, local;
};

Name split(const char* name)
{
    const std::string_view full(name);
    const size_t bar = full.rfind(kSeparator);
    if (bar == std::string_view::npos)
        return {{}, full};
    return {full.substr(0, bar), full.substr(bar + 1)};
}

bool is(const Name& n, std::string_view ns, std::string_view local) { return n.ns == ns && n.local == local; }

// A repeat count: at least 1; absurd values are cut to a size no sheet reaches.
uint32_t repeatCount(const char* text)
{
    uint64_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
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

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Callbacks {
    static void XMLCALL start(void* data, const XML_Char* name, const XML_Char** attrs)
    {
        guard(data, [&](OdsContent& c) { c.start(name, attrs); });
    }
    static void XMLCALL end(void* data, const XML_Char* name)
    {
        guard(data, [&](OdsContent& c) { c.end(name); });
    }
    static void XMLCALL characters(void* data, const XML_Char* text, int length)
    {
        guard(data, [&](OdsContent& c) { c.characters(text, length); });
    }
    // Entity declarations are how XML bombs expand; OpenDocument parts never need them.
    static void XMLCALL doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        guard(data, [&](OdsContent& c) { c.refuse("the part declares a document type, which OpenDocument parts never do"); });
    }
    static void XMLCALL entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                               const XML_Char*, const XML_Char*)
    {
        guard(data, [&](OdsContent& c) { c.refuse("the part declares an entity, which OpenDocument parts never do"); });
    }

    // No exception may cross expat's C frames: keep the first and stop the parser.
    template <class F>
    static void guard(void* data, F&& f)
    {
        auto* self = static_cast<std::pair<OdsContent*, XML_Parser>*>(data);
        try {
            f(*self->first);
        } catch (const std::bad_alloc&) {
            self->first->refuse("there is not enough memory to read it");
        }
        if (self->first->stopped())
            XML_StopParser(self->second, XML_FALSE);
    }
};

}  // namespace

void OdsContent::refuse(std::string problem)
{
    if (m_problem.empty())
        m_problem = std::move(problem);
}

void OdsContent::run(const ZipArchive& zip, uint64_t part, std::optional<size_t> target, CellSink* sink)
{
    m_target = target;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreateNS(nullptr, kSeparator), XML_ParserFree);
    if (!parser)
        throw std::bad_alloc();
    std::pair<OdsContent*, XML_Parser> context(this, parser.get());
    XML_SetUserData(parser.get(), &context);
    XML_SetElementHandler(parser.get(), Callbacks::start, Callbacks::end);
    XML_SetCharacterDataHandler(parser.get(), Callbacks::characters);
    XML_SetStartDoctypeDeclHandler(parser.get(), Callbacks::doctype);
    XML_SetEntityDeclHandler(parser.get(), Callbacks::entity);

    auto stream = zip.stream(part);
    std::string buffer(kChunk, '\0');
    for (;;) {
        const size_t n = stream->read(buffer.data(), buffer.size());
        const auto status = XML_Parse(parser.get(), buffer.data(), static_cast<int>(n), n == 0);
        if (!m_problem.empty())
            zip.fail(m_problem, part);
        if (status != XML_STATUS_OK && !m_targetDone)
            zip.fail("the part content.xml is not well-formed XML (" +
                         std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
                         std::to_string(XML_GetCurrentLineNumber(parser.get())) + ")",
                     std::nullopt);
        if (sink)
            deliver(*sink);
        if (n == 0 || m_targetDone)
            break;
    }
}

void OdsContent::start(const char* rawName, const char** attrs)
{
    ++m_depth;
    if (!m_problem.empty())
        return;
    const Name name = split(rawName);

    if (m_cellDepth >= 0) {
        // Inside a cell: only its paragraphs matter.
        if (m_skipDepth >= 0)
            return;
        if (is(name, kOfficeNs, "annotation") || is(name, kTextNs, "note-body") || is(name, kTextNs, "ruby-text") ||
            name.ns == kDrawNs || is(name, kTableNs, "table")) {
            m_skipDepth = m_depth;
            return;
        }
        if (m_paragraphDepth < 0 && (is(name, kTextNs, "p") || is(name, kTextNs, "h"))) {
            // White space at the end of the previous paragraph is dropped.
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
        if (is(name, kTextNs, "s")) {
            uint64_t count = 1;
            for (size_t i = 0; attrs[i]; i += 2)
                if (is(split(attrs[i]), kTextNs, "c"))
                    count = repeatCount(attrs[i + 1]);
            addSpaces(count, ' ');
        } else if (is(name, kTextNs, "tab")) {
            addSpaces(1, '\t');
        } else if (is(name, kTextNs, "line-break")) {
            addSpaces(1, '\n');
        }
        return;
    }

    if (is(name, kStyleNs, "style")) {
        m_styleName.clear();
        bool table = false;
        for (size_t i = 0; attrs[i]; i += 2) {
            const Name a = split(attrs[i]);
            if (is(a, kStyleNs, "name"))
                m_styleName = attrs[i + 1];
            else if (is(a, kStyleNs, "family"))
                table = std::strcmp(attrs[i + 1], "table") == 0;
        }
        if (!table)
            m_styleName.clear();
        return;
    }
    if (is(name, kStyleNs, "table-properties") && !m_styleName.empty()) {
        for (size_t i = 0; attrs[i]; i += 2)
            if (is(split(attrs[i]), kTableNs, "display") && std::strcmp(attrs[i + 1], "false") == 0)
                m_hiddenStyles.push_back(m_styleName);
        return;
    }
    if (is(name, kOfficeNs, "spreadsheet")) {
        m_sawSpreadsheet = true;
        if (m_spreadsheetDepth < 0)
            m_spreadsheetDepth = m_depth;
        return;
    }
    if (m_spreadsheetDepth < 0)
        return;
    if (is(name, kTableNs, "table") && m_tableDepth < 0) {
        Table table;
        for (size_t i = 0; attrs[i]; i += 2) {
            const Name a = split(attrs[i]);
            if (is(a, kTableNs, "name"))
                table.name = attrs[i + 1];
            else if (is(a, kTableNs, "style-name"))
                table.styleName = attrs[i + 1];
        }
        m_tableDepth = m_depth;
        m_inTarget = m_target && *m_target == m_tables.size();
        m_tables.push_back(std::move(table));
        m_rowIndex = 0;
        return;
    }
    if (!m_inTarget)
        return;
    if (is(name, kTableNs, "table-row")) {
        m_rowRepeat = 1;
        for (size_t i = 0; attrs[i]; i += 2)
            if (is(split(attrs[i]), kTableNs, "number-rows-repeated"))
                m_rowRepeat = repeatCount(attrs[i + 1]);
        m_row.runs.clear();
        m_row.text.clear();
        m_colIndex = 0;
        return;
    }
    if (is(name, kTableNs, "table-cell"))
        startCell(attrs, false);
    else if (is(name, kTableNs, "covered-table-cell"))
        startCell(attrs, true);
}

void OdsContent::startCell(const char** attrs, bool covered)
{
    m_cellDepth = m_depth;
    m_covered = covered;
    m_colRepeat = 1;
    m_valueType.clear();
    m_value.clear();
    m_dateValue.clear();
    m_timeValue.clear();
    m_boolValue.clear();
    m_stringValue.clear();
    m_hasStringValue = false;
    m_hasParagraph = false;
    m_text.clear();
    for (size_t i = 0; attrs[i]; i += 2) {
        const Name a = split(attrs[i]);
        if (is(a, kTableNs, "number-columns-repeated"))
            m_colRepeat = repeatCount(attrs[i + 1]);
        else if (a.ns != kOfficeNs)
            continue;
        else if (a.local == "value-type")
            m_valueType = attrs[i + 1];
        else if (a.local == "value")
            m_value = attrs[i + 1];
        else if (a.local == "date-value")
            m_dateValue = attrs[i + 1];
        else if (a.local == "time-value")
            m_timeValue = attrs[i + 1];
        else if (a.local == "boolean-value")
            m_boolValue = attrs[i + 1];
        else if (a.local == "string-value") {
            m_stringValue = attrs[i + 1];
            m_hasStringValue = true;
        }
    }
}

void OdsContent::addText(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        // Paragraph text collapses white space as HTML does; text:s, text:tab and
        // text:line-break stand for the spaces, tabs and breaks that are meant.
        if (isSpace(text[i])) {
            if (!m_paragraphStart)
                m_pendingSpace = true;
            continue;
        }
        if (m_text.size() + 2 > kMaxCellText)
            return;
        if (m_pendingSpace)
            m_text += ' ';
        m_pendingSpace = false;
        m_paragraphStart = false;
        m_text += text[i];
    }
}

void OdsContent::addSpaces(uint64_t count, char c)
{
    if (m_pendingSpace && m_text.size() < kMaxCellText)
        m_text += ' ';
    m_pendingSpace = false;
    m_paragraphStart = false;
    const size_t room = kMaxCellText - std::min(kMaxCellText, m_text.size());
    m_text.append(static_cast<size_t>(std::min<uint64_t>(count, room)), c);
}

void OdsContent::characters(const char* text, int length)
{
    if (m_problem.empty() && m_paragraphDepth >= 0 && m_skipDepth < 0)
        addText(text, static_cast<size_t>(length));
}

void OdsContent::endCell()
{
    Run run{static_cast<uint32_t>(std::min<uint64_t>(m_colIndex, kMaxColumns)), m_colRepeat, CellKind::Shown, 0, 0, 0};
    const uint64_t col = m_colIndex;
    m_colIndex += m_colRepeat;
    const bool hasValue = !m_valueType.empty() && m_valueType != "void";
    if (!hasValue && !m_hasParagraph)
        return;  // an empty cell, perhaps styled: it does not extend the used range
    if (m_covered) {
        // Hidden under a merged cell: the merged area shows only its first cell's value.
        run.kind = CellKind::Blank;
    } else if (m_valueType == "boolean" && !m_boolValue.empty()) {
        // The stored text follows the writer's language ("FAUX", "WAHR"); CSV files say TRUE/FALSE.
        run.kind = CellKind::Bool;
        run.number = (m_boolValue == "true" || m_boolValue == "1") ? 1 : 0;
    } else if (m_valueType == "string" && m_hasStringValue) {
        // The exact text, where the paragraphs may have lost line ends and runs of spaces
        // to white-space collapsing (formula results are stored this way).
        run.kind = CellKind::Shown;
        m_text = m_stringValue.substr(0, kMaxCellText);
    } else if (m_hasParagraph) {
        run.kind = CellKind::Shown;
    } else if (m_valueType == "float" || m_valueType == "percentage" || m_valueType == "currency") {
        if (auto number = parseNumber(m_value)) {
            run.kind = CellKind::Number;
            run.number = *number;
        } else {
            m_text = m_value;
        }
    } else if (m_valueType == "date") {
        m_text = m_dateValue;
    } else if (m_valueType == "time") {
        if (auto days = parseDuration(m_timeValue)) {
            run.kind = CellKind::Number;
            run.number = *days;
        } else {
            m_text = m_timeValue;
        }
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
    if (run.kind == CellKind::Shown) {
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
        uint64_t cells = 0;
        for (const Run& run : m_row.runs)
            cells += run.count;
        if (repeat > 1 || cells > m_row.runs.size()) {
            m_repeatedCells += cells * repeat;
            if (m_repeatedCells > kMaxRepeatedCells) {
                refuse("a table repeats its cells more often than this program accepts (" +
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

void OdsContent::end(const char* rawName)
{
    const int depth = m_depth--;
    if (!m_problem.empty())
        return;
    if (m_cellDepth >= 0) {
        if (depth == m_skipDepth)
            m_skipDepth = -1;
        else if (depth == m_paragraphDepth)
            m_paragraphDepth = -1;
        else if (depth == m_cellDepth) {
            m_cellDepth = -1;
            endCell();
        }
        return;
    }
    if (depth == m_tableDepth) {
        m_tableDepth = -1;
        if (m_inTarget)
            m_targetDone = true;
        m_inTarget = false;
        return;
    }
    if (depth == m_spreadsheetDepth) {
        m_spreadsheetDepth = -1;
        return;
    }
    if (m_inTarget && is(split(rawName), kTableNs, "table-row"))
        endRow();
    else if (is(split(rawName), kStyleNs, "style"))
        m_styleName.clear();
}

void OdsContent::deliver(CellSink& sink)
{
    CellData cell;
    for (const Row& row : m_queue) {
        for (uint32_t r = 0; r < row.repeat; ++r) {
            for (const Run& run : row.runs) {
                cell.kind = run.kind;
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
