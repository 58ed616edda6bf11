#include "OoxmlReader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <thread>

#include "../Error.h"
#include "../CellPipe.h"
#include "../io/Package.h"
#include "../io/XmlScanner.h"
#include "OoxmlSheet.h"

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

class OoxmlReader final : public BookReader {
public:
    explicit OoxmlReader(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip)), m_file(m_zip->displayName())
    {
        m_memory.setBookName(m_file);
        const std::string workbook = findWorkbookPart(*m_zip).path;
        if (workbook.empty())
            fail("not a workbook this program can read (the package has no workbook part)");
        const auto rels = readRelationships(*m_zip, workbook);
        readWorkbook(workbook, rels);
        if (const Relationship* styles = findRelationship(rels, "styles"))
            m_stylesPart = styles->target;
        if (const Relationship* strings = findRelationship(rels, "sharedStrings"))
            m_stringsPart = strings->target;
        if (!m_stylesPart.empty()) {
            readStyles();
            m_memory.set(MemoryBudget::Styles, styleTableBytes(m_styles));
        }
        if (!m_stringsPart.empty())
            readSharedStrings();
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return m_date1904; }
    const FormulaFacts& formulaFacts() const override { return m_facts; }
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
            if (x.name() == "calcPr") {
                if (auto v = x.attribute("fullCalcOnLoad"))
                    m_facts.calculateAll = ooxml::isTrue(*v);
            } else if (x.name() == "definedName") {
                readDefinedName(x);
            } else if (x.name() == "workbookPr") {
                if (auto v = x.attribute("date1904"))
                    m_date1904 = ooxml::isTrue(*v);
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

    // <definedName name=".." localSheetId="..">formula</definedName>; hidden built-in names
    // (_xlnm.Print_Area, ...) are kept too: formulas rarely use them, and they do no harm.
    void readDefinedName(XmlScanner& x)
    {
        DefinedName name;
        if (auto v = x.attribute("name"))
            XmlScanner::decode(*v, name.name);
        if (auto v = x.attribute("localSheetId")) {
            uint32_t sheet = 0;
            if (ooxml::parseUnsigned(*v, sheet))
                name.sheet = sheet;
        }
        const uint32_t depth = x.depth();
        if (x.selfClosing()) {
            x.skipElement();
            return;
        }
        for (;;) {
            const Token t = x.next();
            if (t == Token::Text) {
                x.appendText(name.body);
                if (name.body.size() > 65536)
                    fail("a defined name is longer than this program accepts");
            } else if (t == Token::EndTag && x.depth() < depth) {
                break;
            } else if (t == Token::StartTag) {
                x.skipElement();
            } else if (t == Token::End) {
                fail("the workbook part ends early");
            }
        }
        if (!name.name.empty())
            m_facts.names.push_back(std::move(name));
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
                if (idText && code && ooxml::parseUnsigned(*idText, id)) {
                    std::string decoded;
                    XmlScanner::decode(*code, decoded);
                    ooxml::decodeEscapes(decoded);
                    m_styles.customFormats[id] = std::move(decoded);
                }
            } else if (x.name() == "cellXfs") {
                cellXfsDepth = x.depth();
            } else if (x.name() == "xf" && cellXfsDepth && x.depth() == cellXfsDepth + 1) {
                uint32_t id = 0;
                if (auto v = x.attribute("numFmtId"))
                    ooxml::parseUnsigned(*v, id);
                if (m_styles.xfFormatIds.size() >= kMaxStyles)
                    fail("the styles part holds more cell formats than this program accepts");
                m_styles.xfFormatIds.push_back(id);
            }
        }
    }

    void readSharedStrings()
    {
        const auto index = findPart(m_stringsPart);
        if (!index)
            return;
        const uint64_t stated = m_zip->statedSize(*index);
        std::string& text = m_strings.text;
        text.reserve(static_cast<size_t>(std::min<uint64_t>(stated, uint64_t(256) << 20)));
        auto parse = [&](XmlScanner& x) {
            for (Token t; (t = x.next()) != Token::End;) {
                if (t != Token::StartTag || x.name() != "si")
                    continue;
                const size_t start = text.size();
                ooxml::collectText(x, text, "the shared strings part");
                ooxml::decodeEscapes(text, start);
                if (text.size() > kMaxSharedStringBytes || m_strings.size() >= kMaxSharedStrings)
                    fail("the shared strings part holds more text than this program accepts");
                m_strings.ends.push_back(static_cast<uint32_t>(text.size()));
                if (m_strings.ends.size() % 4096 == 0)
                    chargeStrings();
            }
        };
        withPart(*index, m_stringsPart, parse);
        if (text.capacity() > text.size() + (text.size() >> 3) + 4096)
            text.shrink_to_fit();
        chargeStrings();
    }

    void chargeStrings()
    {
        m_memory.set(MemoryBudget::SharedStrings,
                     m_strings.text.capacity() + m_strings.ends.capacity() * sizeof(m_strings.ends[0]));
    }

    // Runs `parse` over a part, streaming it (UTF-8) or, for UTF-16 parts, converted whole.
    // With `headOnly` a large part is inflated a little at a time, for callers that stop early.
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
        if (stated <= kWholeUpTo) {
            // Small parts inflate whole, once for the dimension and the cells, and scan in memory.
            if (m_wholeIndex != index) {
                m_wholeIndex.reset();
                m_whole = m_zip->readAll(index, kWholeUpTo);
                m_wholeIndex = index;
            }
            std::string converted;
            XmlScanner x(utf8Document(m_whole, converted), m_file, partName);
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

    struct Sheet {
        std::string part;
    };

    std::unique_ptr<ZipArchive> m_zip;
    std::string m_file;
    std::vector<SheetInfo> m_sheets;
    std::vector<Sheet> m_parts;
    bool m_date1904 = false;
    FormulaFacts m_facts;
    StyleTable m_styles;
    std::string m_stylesPart, m_stringsPart;
    ooxml::SharedStrings m_strings;
    // The last small part inflated whole (a sheet's dimension is read just before its cells).
    mutable std::string m_whole;
    mutable std::optional<uint64_t> m_wholeIndex;
};

std::optional<CellRange> OoxmlReader::dimension(size_t sheetIndex)
{
    if (sheetIndex >= m_sheets.size() || m_sheets[sheetIndex].kind != SheetKind::Worksheet)
        return std::nullopt;
    const uint64_t index = sheetPart(sheetIndex);
    std::optional<CellRange> range;
    // Only the head of a large part is read: the dimension comes before the cells. A small
    // part is inflated whole and kept for reading the cells; when that fails, reading the
    // cells reports it.
    try {
        withPart(index, m_parts[sheetIndex].part, [&](XmlScanner& x) {
            try {
                for (Token t; (t = x.next()) != Token::End;) {
                    if (t != Token::StartTag)
                        continue;
                    if (x.name() == "sheetData")
                        return;
                    if (x.name() != "dimension")
                        continue;
                    if (auto ref = x.attribute("ref"))
                        range = ooxml::parseRangeRef(*ref);
                    return;
                }
            } catch (const Error&) {
                // A damaged head: no hint; reading the cells will report the damage.
            }
        }, true);
    } catch (const Error&) {
        if (m_zip->statedSize(index) > kWholeUpTo)
            throw;
    }
    return range;
}

void OoxmlReader::readSheet(size_t sheetIndex, CellSink& sink)
{
    if (sheetIndex >= m_sheets.size() || m_sheets[sheetIndex].kind != SheetKind::Worksheet)
        return;
    const uint64_t index = sheetPart(sheetIndex);
    auto parse = [this, sheetIndex, index](CellSink& to) {
        withPart(index, m_parts[sheetIndex].part, [&](XmlScanner& x) {
            for (Token t; (t = x.next()) != Token::End;) {
                if (t == Token::StartTag && x.name() == "sheetData") {
                    ooxml::readSheetData(x, to, {m_file, m_sheets[sheetIndex].name, m_strings, m_date1904});
                    return;  // what follows the cells (merges, margins, ...) does not show
                }
            }
        });
    };
    // Formulas travel by pointer, which the pipe between threads does not carry.
    if (m_zip->statedSize(index) <= kWholeUpTo || sink.wantsFormulas()) {
        parse(sink);
        return;
    }
    // Large sheets: a second thread parses (while a third inflates, see withPart), and this
    // one renders and writes. Parsing and inflating take about as long as rendering and
    // writing, so on two cores the work splits about evenly.
    parseInBackground(parse, sink, m_strings.text);
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
