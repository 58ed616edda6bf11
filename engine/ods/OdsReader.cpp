#include "OdsReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "../CellPipe.h"
#include "../Error.h"
#include "../io/Zip.h"
#include "OdsContent.h"

namespace tabulon::engine {
namespace {

// Tables larger than this (inflated) are parsed in a second thread.
constexpr uint64_t kBackgroundFrom = uint64_t(1) << 20;

// A copy of the inflated content.xml, kept while the tables are listed so that each sheet is
// read from its own bytes instead of inflating and scanning the part up to it again. Small
// parts stay in memory; larger ones go to an unlinked temporary file. The zip layer caps the
// part, and so the spool. When the file cannot be written, the spool gives up and the reader
// falls back to scanning the part.
class Spool {
public:
    static constexpr size_t kMaxInMemory = size_t(16) << 20;

    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool()
    {
        if (m_file)
            std::fclose(m_file);
    }

    bool usable() const { return !m_broken; }
    uint64_t size() const { return m_size; }

    void append(const char* data, size_t size)
    {
        if (m_broken || size == 0)
            return;
        if (!m_file && m_memory.size() + size > kMaxInMemory) {
            m_file = std::tmpfile();
            if (!m_file || !write(m_memory.data(), m_memory.size())) {
                giveUp();
                return;
            }
            std::string().swap(m_memory);
        }
        if (m_file) {
            if (!write(data, size)) {
                giveUp();
                return;
            }
        } else {
            m_memory.append(data, size);
        }
        m_size += size;
    }

    // Copies up to `size` bytes from `offset`; returns how many (0 past the end or on error).
    size_t read(uint64_t offset, char* buffer, size_t size)
    {
        if (m_broken || offset >= m_size)
            return 0;
        size = static_cast<size_t>(std::min<uint64_t>(size, m_size - offset));
        if (!m_file) {
            std::memcpy(buffer, m_memory.data() + offset, size);
            return size;
        }
        // A stream that was written to must be positioned before it is read from.
        if (m_writing || m_position != offset) {
            if (!seek(offset))
                return 0;
            m_writing = false;
        }
        const size_t n = std::fread(buffer, 1, size, m_file);
        m_position = offset + n;
        return n;
    }

private:
    bool write(const char* data, size_t size)
    {
        m_writing = true;
        return std::fwrite(data, 1, size, m_file) == size;
    }
    bool seek(uint64_t offset)
    {
#if defined(_WIN32)
        const bool ok = _fseeki64(m_file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
        const bool ok = fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
        m_position = offset;
        return ok;
    }
    void giveUp()
    {
        m_broken = true;
        std::string().swap(m_memory);
        if (m_file)
            std::fclose(m_file);
        m_file = nullptr;
    }

    std::string m_memory;
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    bool m_writing = false;
    bool m_broken = false;
};

struct StreamSource final : ByteSource {
    explicit StreamSource(ZipStream& stream) : stream(stream) {}
    size_t read(char* buffer, size_t capacity) override { return stream.read(buffer, capacity); }
    ZipStream& stream;
};

// Inflates the part and copies what it reads into the spool.
class TeeSource final : public ByteSource {
public:
    TeeSource(ZipStream& stream, Spool& spool) : m_stream(stream), m_spool(spool) {}
    size_t read(char* buffer, size_t capacity) override
    {
        const size_t n = m_stream.read(buffer, capacity);
        m_spool.append(buffer, n);
        return n;
    }

private:
    ZipStream& m_stream;
    Spool& m_spool;
};

// One table's bytes from the spool inside the elements that lead to it. Tags are matched by
// local name, so the prefixes need no declarations.
class TableSource final : public ByteSource {
public:
    TableSource(Spool& spool, uint64_t begin, uint64_t end, const std::string& fileName)
        : m_spool(spool), m_position(begin), m_end(end), m_fileName(fileName)
    {
    }
    size_t read(char* buffer, size_t capacity) override
    {
        static constexpr std::string_view kHead =
            "<office:document-content><office:body><office:spreadsheet>";
        static constexpr std::string_view kTail =
            "</office:spreadsheet></office:body></office:document-content>";
        if (m_stage == 0)
            return copy(kHead, buffer, capacity);
        if (m_stage == 1) {
            if (m_position < m_end) {
                const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, m_end - m_position));
                const size_t n = m_spool.read(m_position, buffer, want);
                if (n == 0)
                    throw Error(describe(m_fileName, "the temporary copy of its content could not be read back"));
                m_position += n;
                return n;
            }
            m_stage = 2;
            m_done = 0;
        }
        return copy(kTail, buffer, capacity);
    }

private:
    size_t copy(std::string_view text, char* buffer, size_t capacity)
    {
        const size_t n = std::min(capacity, text.size() - m_done);
        std::memcpy(buffer, text.data() + m_done, n);
        m_done += n;
        if (m_done == text.size() && m_stage < 2) {
            ++m_stage;
            m_done = 0;
        }
        return n;
    }

    Spool& m_spool;
    uint64_t m_position, m_end;
    const std::string& m_fileName;
    int m_stage = 0;
    size_t m_done = 0;
};

// OpenDocument spreadsheets store each cell's value and the text the writing program showed
// for it. Numbers, dates and times are rendered through their data styles, translated into
// format codes (OdsStyles); text cells keep their paragraphs.
class OdsReader final : public BookReader {
public:
    explicit OdsReader(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip))
    {
        if (const auto manifest = m_zip->find("META-INF/manifest.xml")) {
            if (m_zip->readAll(*manifest, 16 << 20).find("encryption-data") != std::string::npos)
                fail("the workbook is password-protected");
        }
        const auto content = m_zip->find("content.xml");
        if (!content)
            fail("the package has no content.xml part");
        m_content = *content;
        if (const auto styles = m_zip->find("styles.xml"))
            readStylesPart(*styles);
        OdsContent scan;
        scan.collectStyles(&m_odsStyles);
        scan.measureTables(true);
        {
            // Inflating ahead in a second thread pays for large parts only.
            auto stream = m_zip->stream(m_content, m_zip->statedSize(m_content) > (uint64_t(4) << 20));
            TeeSource tee(*stream, m_spool);
            scan.run(*m_zip, m_content, std::nullopt, nullptr, &tee);
        }
        if (!scan.sawSpreadsheet())
            fail("the document is not a spreadsheet");
        m_odsStyles.finish(m_styles);
        m_date1904 = scan.nullDate1904();
        const std::unordered_set<std::string> hidden(scan.hiddenTableStyles().begin(), scan.hiddenTableStyles().end());
        for (const auto& table : scan.tables()) {
            SheetInfo info;
            info.name = table.name;
            if (hidden.count(table.styleName))
                info.visibility = SheetVisibility::Hidden;
            m_sheets.push_back(std::move(info));
            m_spans.emplace_back(table.begin, table.end);
            m_ranges.push_back(table.range);
        }
    }

    const std::vector<SheetInfo>& sheets() const override { return m_sheets; }
    bool date1904() const override { return m_date1904; }
    const StyleTable& styles() const override { return m_styles; }
    // Measured while the tables were listed: exact, so the sheet streams out in one pass.
    std::optional<CellRange> dimension(size_t sheetIndex) override
    {
        return sheetIndex < m_ranges.size() ? m_ranges[sheetIndex] : std::nullopt;
    }

    void readSheet(size_t sheetIndex, CellSink& sink) override
    {
        const bool spooled =
            m_spool.usable() && sheetIndex < m_spans.size() && m_spans[sheetIndex].second <= m_spool.size();
        // A table may be read more than once; each counts once towards the workbook's caps.
        m_repeats.resize(m_sheets.size());
        Repeats others;
        for (size_t i = 0; i < m_repeats.size(); ++i)
            if (i != sheetIndex) {
                others.cells += m_repeats[i].cells;
                others.text += m_repeats[i].text;
            }
        auto parse = [&](CellSink& to) {
            OdsContent content;
            content.useStyles(&m_odsStyles);
            content.useDate1904(m_date1904);
            content.countRepeatsFrom(others.cells, others.text);
            if (spooled) {
                TableSource table(m_spool, m_spans[sheetIndex].first, m_spans[sheetIndex].second, m_zip->displayName());
                content.run(*m_zip, m_content, 0, &to, &table);
            } else {
                content.run(*m_zip, m_content, sheetIndex, &to);
            }
            if (sheetIndex < m_repeats.size()) {
                Repeats& mine = m_repeats[sheetIndex];
                mine.cells = std::max(mine.cells, content.repeatedCells() - others.cells);
                mine.text = std::max(mine.text, content.repeatedText() - others.text);
            }
        };
        // Large tables: a second thread parses while this one renders and writes.
        if (!spooled || m_spans[sheetIndex].second - m_spans[sheetIndex].first > kBackgroundFrom)
            parseInBackground(parse, sink);
        else
            parse(sink);
    }

private:
    // The common and automatic styles of styles.xml, read as content.xml is (the same
    // scanner, with its limits on tokens and its refusal of entity declarations).
    void readStylesPart(uint64_t part)
    {
        auto stream = m_zip->stream(part);
        StreamSource source(*stream);
        XmlScanner x(source, m_zip->displayName(), m_zip->partName(part));
        std::string text;
        for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Token::End;) {
            if (t == XmlScanner::Token::StartTag) {
                m_odsStyles.start(x);
            } else if (t == XmlScanner::Token::EndTag) {
                m_odsStyles.end(x.name());
            } else if (m_odsStyles.wantsText()) {
                text.clear();
                x.appendText(text);
                m_odsStyles.text(text);
            }
        }
    }

    [[noreturn]] void fail(const std::string& what) const { throw Error(describe(m_zip->displayName(), what)); }

    std::unique_ptr<ZipArchive> m_zip;
    uint64_t m_content = 0;
    std::vector<SheetInfo> m_sheets;
    std::vector<std::pair<uint64_t, uint64_t>> m_spans;  // each table's bytes in the spool
    std::vector<std::optional<CellRange>> m_ranges;
    struct Repeats {
        uint64_t cells = 0, text = 0;
    };
    std::vector<Repeats> m_repeats;  // what each table's repeat counts produced
    Spool m_spool;
    OdsStyles m_odsStyles;
    bool m_date1904 = false;
    StyleTable m_styles;
};

}  // namespace

std::unique_ptr<BookReader> openOdsReader(std::unique_ptr<ZipArchive> zip)
{
    return std::make_unique<OdsReader>(std::move(zip));
}

std::unique_ptr<BookReader> openOdsReader(const std::filesystem::path& file)
{
    return openOdsReader(ZipArchive::openFile(file));
}

}  // namespace tabulon::engine
