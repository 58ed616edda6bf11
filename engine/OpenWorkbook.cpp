#include <cstring>
#include <fstream>
#include <mutex>
#include <new>

#include "BookReader.h"
#include "Error.h"
#include "Recalc.h"
#include "SheetWriter.h"
#include "Workbook.h"
#include "io/Package.h"
#include "io/Zip.h"
#include "ooxml/OoxmlReader.h"
#include "xlsb/XlsbReader.h"

namespace tabulon::engine {
namespace {

// Process-wide settings, constructed on first use (they may be set during static
// initialisation of other files, tests for example).
struct Settings {
    std::mutex mutex;
    NoticeHandler notice;
    VolatileSources sources;
};

Settings& settings()
{
    static Settings s;
    return s;
}

void notice(const std::string& sentence)
{
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    if (s.notice)
        s.notice(sentence);
}

class BookWorkbook final : public Workbook {
public:
    BookWorkbook(std::unique_ptr<BookReader> reader, std::string name) : m_reader(std::move(reader)), m_name(std::move(name))
    {
        const auto& sheets = m_reader->sheets();
        for (size_t i = 0; i < sheets.size(); ++i)
            if (sheets[i].kind == SheetKind::Worksheet)
                m_worksheets.push_back(i);
    }

    int sheetCount() const override
    {
        requireOpen();
        return static_cast<int>(m_worksheets.size());
    }

    std::string sheetName(int position) const override { return m_reader->sheets()[index(position)].name; }

    void selectSheet(int position) override
    {
        index(position);
        m_selected = position;
    }

    void saveAsCsv(const std::filesystem::path& target, std::optional<int> position,
                   const RowProgress& progress) override
    {
        const size_t sheet = index(position.value_or(m_selected));
        asEngineError(m_name, [&] {
            if (!m_renderer)
                m_renderer = std::make_unique<CellRenderer>(m_reader->styles(), m_reader->date1904(), &m_reader->memory());
            if (m_recalc == Recalc::Unknown && m_reader->formulaFacts().calculateAll)
                calculate();
            if (m_recalc == Recalc::Done) {
                writeSheetCsv(*m_calculated, *m_renderer, sheet, target, m_name, progress);
                if (const uint64_t n = m_calculated->uncalculated(sheet))
                    notice("\"" + m_name + "\", sheet \"" + m_reader->sheets()[sheet].name + "\": " + std::to_string(n) +
                           (n == 1 ? " formula" : " formulas") + " could not be calculated and had no stored result.");
                return;
            }
            try {
                // The fast path: stored results, streamed. A formula the application would
                // calculate on opening stops it, and the workbook is calculated instead.
                writeSheetCsv(*m_reader, *m_renderer, sheet, target, m_name, progress, m_recalc == Recalc::Unknown);
            } catch (const NeedsCalculation&) {
                calculate();
                saveAsCsv(target, position, progress);
            }
        });
    }

    void close() override
    {
        m_calculated.reset();
        m_renderer.reset();
        m_reader.reset();
    }

private:
    void requireOpen() const
    {
        if (!m_reader)
            throw Error("The workbook \"" + m_name + "\" is already closed.");
    }

    size_t index(int position) const
    {
        requireOpen();
        if (position < 1 || static_cast<size_t>(position) > m_worksheets.size())
            throw Error("\"" + m_name + "\" has no worksheet " + std::to_string(position) + " (it has " +
                        std::to_string(m_worksheets.size()) + ").");
        return m_worksheets[static_cast<size_t>(position - 1)];
    }

    // Reads the whole workbook into the formula model and calculates it; beyond the model's
    // bounds the stored results stand.
    void calculate()
    {
        VolatileSources sources;
        {
            std::lock_guard lock(settings().mutex);
            sources = settings().sources;
        }
        const bool d1904 = m_reader->date1904();
        m_calculated = RecalcReader::build(*m_reader, RecalcLimits{}, sources.now ? sources.now(d1904) : serialNow(d1904),
                                           sources.random);
        if (m_calculated) {
            m_recalc = Recalc::Done;
        } else {
            m_recalc = Recalc::TooLarge;
            notice("\"" + m_name + "\" is too large to recalculate; its formulas show their stored results.");
        }
    }

    enum class Recalc { Unknown, Done, TooLarge };
    Recalc m_recalc = Recalc::Unknown;
    std::unique_ptr<RecalcReader> m_calculated;
    std::unique_ptr<BookReader> m_reader;
    std::string m_name;
    std::vector<size_t> m_worksheets;
    int m_selected = 1;
    std::unique_ptr<CellRenderer> m_renderer;
};

enum class Family { Unknown, CompoundFile, Zip, BiffStream };

Family sniff(const unsigned char* b, size_t n)
{
    static const unsigned char cfb[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (n >= 8 && std::memcmp(b, cfb, 8) == 0)
        return Family::CompoundFile;
    if (n >= 4 && b[0] == 'P' && b[1] == 'K' && ((b[2] == 3 && b[3] == 4) || (b[2] == 5 && b[3] == 6)))
        return Family::Zip;
    // A stand-alone BIFF2 to BIFF4 worksheet or workbook starts with its BOF record.
    if (n >= 4 && b[1] <= 0x08 && b[0] == 0x09 && (b[1] == 0x00 || b[1] == 0x02 || b[1] == 0x04 || b[1] == 0x08))
        return Family::BiffStream;
    return Family::Unknown;
}

std::unique_ptr<BookReader> openZipFamily(const std::filesystem::path& file)
{
    auto zip = ZipArchive::openFile(file);
    if (zip->find("[Content_Types].xml")) {
        if (findWorkbookPart(*zip).binary)
            return openXlsbReader(std::move(zip));
        return openOoxmlReader(std::move(zip));
    }
    if (zip->find("content.xml") || zip->find("mimetype"))
        return openOdsReader(file);
    // Some producers leave out the content types; the relationships still lead to the workbook.
    if (zip->find("_rels/.rels"))
        return openOoxmlReader(std::move(zip));
    throw Error(describe(file.string(), "not a workbook this program can read (a zip package without workbook parts)"));
}

}  // namespace

void setVolatileSourcesForTests(VolatileSources sources)
{
    std::lock_guard lock(settings().mutex);
    settings().sources = std::move(sources);
}

void setNoticeHandler(NoticeHandler handler)
{
    std::lock_guard lock(settings().mutex);
    settings().notice = std::move(handler);
}

std::unique_ptr<Workbook> makeWorkbook(std::unique_ptr<BookReader> reader, std::string displayName)
{
    return std::make_unique<BookWorkbook>(std::move(reader), std::move(displayName));
}

std::unique_ptr<Workbook> openWorkbook(const std::filesystem::path& file)
{
    const std::string name = file.string();
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status))
        throw Error(cannotOpen(name, "the file does not exist"));
    if (!std::filesystem::is_regular_file(status))
        throw Error(cannotOpen(name, "it is not a file"));
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw Error(cannotOpen(name, "the file cannot be read (permission denied?)"));
    unsigned char head[8] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const size_t got = static_cast<size_t>(in.gcount());
    in.close();

    auto reader = asEngineError(name, [&]() -> std::unique_ptr<BookReader> {
        switch (sniff(head, got)) {
        case Family::CompoundFile:
        case Family::BiffStream:
            return openXlsReader(file);
        case Family::Zip:
            return openZipFamily(file);
        case Family::Unknown:
            break;
        }
        throw Error(cannotOpen(name, "not a workbook this program can read"));
    });
    return makeWorkbook(std::move(reader), name);
}

}  // namespace tabulon::engine
