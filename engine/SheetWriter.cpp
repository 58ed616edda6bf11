#include "SheetWriter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <unordered_map>

#include "Error.h"
#include "MemoryBudget.h"
#include "Workbook.h"
#include "csv/CsvWriter.h"

namespace tabulon::engine {

namespace {
constexpr uint32_t kProgressEvery = 4096;

// Thrown inside a pass when the cells leave the assumed range or go back to an earlier row;
// the caller then falls back to a slower but exact pass.
struct RangeMiss {};
struct OrderMiss {};

struct Bounds {
    bool any = false;
    bool ordered = true;
    CellRange range;
    uint32_t lastRow = 0;

    void add(uint32_t row, uint32_t col)
    {
        if (!any) {
            any = true;
            range = {row, col, row, col};
            lastRow = row;
            return;
        }
        if (row < lastRow)
            ordered = false;
        lastRow = row;
        range.firstRow = std::min(range.firstRow, row);
        range.lastRow = std::max(range.lastRow, row);
        range.firstCol = std::min(range.firstCol, col);
        range.lastCol = std::max(range.lastCol, col);
    }
};

// The one flag every sink of a save checks.
thread_local bool t_stopAtCalculation = false;

inline void checkCalculation(const CellData& data)
{
    if (data.needsCalculation && t_stopAtCalculation)
        throw NeedsCalculation{};
}

class RangeScan final : public CellSink {
public:
    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        checkCalculation(data);
        bounds.add(row, col);
        ++cells;
    }
    Bounds bounds;
    uint64_t cells = 0;
};

// Writes rows as they stream in, padded to a range fixed in advance.
class CsvSink final : public CellSink {
public:
    CsvSink(csv::CsvWriter& writer, const CellRenderer& renderer, CellRange range, const RowProgress* progress)
        : m_writer(writer), m_renderer(renderer), m_range(range),
          m_width(range.lastCol - range.firstCol + 1), m_progress(progress)
    {
        m_emptyRow.assign(m_width - 1, ',');
        m_emptyRow += "\r\n";
    }

    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        checkCalculation(data);
        if (row < m_range.firstRow || row > m_range.lastRow || col < m_range.firstCol || col > m_range.lastCol)
            throw RangeMiss{};
        m_bounds.add(row, col);
        if (!m_started) {
            if (row != m_range.firstRow)
                throw RangeMiss{};  // rows ascend, so the range cannot start where assumed
            m_started = true;
            emptyRows(m_range.firstRow, row);
            m_row = row;
        } else if (row != m_row) {
            if (row < m_row)
                throw OrderMiss{};
            flushRow();
            emptyRows(m_row + 1, row);
            m_row = row;
        }
        const size_t start = m_text.size();
        m_renderer.render(data, m_text);
        if (!m_entries.empty() && col <= m_entries.back().col)
            m_sorted = false;
        m_entries.push_back({col, static_cast<uint32_t>(start), static_cast<uint32_t>(m_text.size() - start)});
    }

    // Ends the sheet; throws RangeMiss when the cells did not fill the assumed range exactly.
    void finish()
    {
        if (!m_bounds.any || !(m_bounds.range == m_range))
            throw RangeMiss{};
        flushRow();
        emptyRows(m_row + 1, m_range.lastRow + 1);
    }

private:
    struct Entry {
        uint32_t col, offset, length;
    };

    void emptyRows(uint32_t from, uint32_t to)
    {
        for (uint32_t r = from; r < to; ++r) {
            m_writer.raw(m_emptyRow);
            progress();
        }
    }

    void progress()
    {
        if (m_progress && ++m_rowsDone % kProgressEvery == 0)
            (*m_progress)(m_rowsDone);
    }

    void flushRow()
    {
        if (!m_sorted) {
            // Later duplicates of a position win, as the application keeps the last one.
            std::stable_sort(m_entries.begin(), m_entries.end(),
                             [](const Entry& a, const Entry& b) { return a.col < b.col; });
        }
        uint32_t next = m_range.firstCol;
        for (size_t i = 0; i < m_entries.size(); ++i) {
            const Entry& e = m_entries[i];
            if (i + 1 < m_entries.size() && m_entries[i + 1].col == e.col)
                continue;
            m_writer.emptyFields(e.col - next);
            m_writer.field(std::string_view(m_text).substr(e.offset, e.length));
            next = e.col + 1;
        }
        m_writer.emptyFields(m_range.lastCol + 1 - next);
        m_writer.endRecord();
        m_entries.clear();
        m_text.clear();
        m_sorted = true;
        progress();
    }

    csv::CsvWriter& m_writer;
    const CellRenderer& m_renderer;
    CellRange m_range;
    uint32_t m_width;
    std::string m_emptyRow;
    Bounds m_bounds;
    bool m_started = false;
    uint32_t m_row = 0;
    std::vector<Entry> m_entries;
    std::string m_text;
    bool m_sorted = true;
    const RowProgress* m_progress;
    uint64_t m_rowsDone = 0;
};

// For sheets whose rows arrive out of order: every cell rendered, then sorted.
// The cells are held in memory, charged to the workbook's budget as they come.
class CollectSink final : public CellSink {
public:
    CollectSink(const CellRenderer& renderer, MemoryBudget& budget) : m_renderer(renderer), m_budget(budget) {}
    ~CollectSink() { m_budget.set(MemoryBudget::UnorderedRows, 0); }
    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        checkCalculation(data);
        std::string text;
        m_renderer.render(data, text);
        if (text.capacity() > 15)  // longer texts live outside their string object
            m_textBytes += text.capacity() + 1;
        const size_t capacity = cells.capacity();
        cells.push_back({row, col, std::move(text)});
        if (cells.capacity() != capacity || cells.size() % 4096 == 0)
            m_budget.set(MemoryBudget::UnorderedRows, cells.capacity() * sizeof(Cell) + m_textBytes);
    }
    struct Cell {
        uint32_t row, col;
        std::string text;
    };
    std::vector<Cell> cells;

private:
    const CellRenderer& m_renderer;
    MemoryBudget& m_budget;
    uint64_t m_textBytes = 0;
};

void writeCollected(CollectSink& collected, const CellRange& range, csv::CsvWriter& writer)
{
    auto& cells = collected.cells;
    std::stable_sort(cells.begin(), cells.end(),
                     [](const auto& a, const auto& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    size_t i = 0;
    for (uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
        uint32_t next = range.firstCol;
        while (i < cells.size() && cells[i].row == row) {
            if (i + 1 < cells.size() && cells[i + 1].row == row && cells[i + 1].col == cells[i].col) {
                ++i;
                continue;
            }
            writer.emptyFields(cells[i].col - next);
            writer.field(cells[i].text);
            next = cells[i].col + 1;
            ++i;
        }
        writer.emptyFields(range.lastCol + 1 - next);
        writer.endRecord();
    }
}

// A stored dimension is tried first only when writing to it and then finding it wrong costs
// little: a stale hint of a whole sheet (A1:XFD1048576) would write 17 GB of commas before
// the miss shows. Larger ranges are measured by a scanning pass first.
constexpr uint64_t kMaxTrustedCells = uint64_t(1) << 26;

bool plausible(const CellRange& r)
{
    return r.firstRow <= r.lastRow && r.firstCol <= r.lastCol && r.lastRow < kMaxRows && r.lastCol < kMaxColumns &&
           uint64_t(r.lastRow - r.firstRow + 1) * (r.lastCol - r.firstCol + 1) <= kMaxTrustedCells;
}

uint64_t g_csvSizeLimit = kDefaultCsvSizeLimit;

// What the CSV of a range takes at the least: a comma between fields and CR LF after each
// row, whatever the cells hold.
uint64_t leastCsvSize(const CellRange& r)
{
    return uint64_t(r.lastRow - r.firstRow + 1) * (uint64_t(r.lastCol - r.firstCol) + 2);
}

uint64_t gridCells(const CellRange& r)
{
    return uint64_t(r.lastRow - r.firstRow + 1) * (r.lastCol - r.firstCol + 1);
}

std::string cellName(uint32_t row, uint32_t col)
{
    std::string letters;
    for (uint32_t n = col + 1; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    return letters + std::to_string(row + 1);
}

// A sheet of a few cells far apart asks for gigabytes of commas. Such a CSV is refused when
// even its separators alone pass the limit and most of its fields would be empty; a sheet
// that really holds that many cells is written, however large.
void requireSensibleSize(const BookReader& reader, size_t sheetIndex, const CellRange& range, uint64_t cells,
                         const std::string& bookName)
{
    const uint64_t least = leastCsvSize(range);
    if (least <= g_csvSizeLimit || cells >= gridCells(range) / 2)
        return;
    throw Error(describe(bookName, "the worksheet \"" + reader.sheets()[sheetIndex].name + "\" would make a CSV file of at least " +
                                       bytesText(least) + ", more than the limit of " + bytesText(g_csvSizeLimit) +
                                       ", most of it empty fields (its used range " +
                                       cellName(range.firstRow, range.firstCol) + ":" + cellName(range.lastRow, range.lastCol) +
                                       " holds " + std::to_string(cells) + (cells == 1 ? " cell)" : " cells)")));
}
}  // namespace

void setCsvSizeLimit(uint64_t bytes)
{
    g_csvSizeLimit = bytes;
}

uint64_t csvSizeLimit()
{
    return g_csvSizeLimit;
}

CellRenderer::CellRenderer(const StyleTable& styles, bool date1904, MemoryBudget* budget)
    : m_general(numfmt::compile("General")), m_date1904(date1904)
{
    std::unordered_map<std::string, const numfmt::Format*> byCode;
    // The formats, the tables by cell format, and while they are built the lookup by code.
    uint64_t formatBytes = 0, lookupBytes = 0;
    auto charge = [&](bool building) {
        if (budget)
            budget->set(MemoryBudget::Formats, formatBytes + (building ? lookupBytes : 0) +
                                                   m_byXf.capacity() * sizeof(m_byXf[0]) + m_generalByXf.capacity() +
                                                   m_owned.capacity() * sizeof(m_owned[0]));
    };
    m_byXf.reserve(styles.xfFormatIds.size());
    for (uint32_t id : styles.xfFormatIds) {
        std::string code;
        if (auto it = styles.customFormats.find(id); it != styles.customFormats.end())
            code = it->second;
        else
            code = std::string(numfmt::builtinCode(id));
        bool general = code.size() == 7;
        for (size_t i = 0; general && i < 7; ++i)
            general = std::tolower(static_cast<unsigned char>(code[i])) == "general"[i];
        m_generalByXf.push_back(general);
        auto [it, inserted] = byCode.try_emplace(code, nullptr);
        if (inserted) {
            m_owned.push_back(numfmt::compile(code));
            it->second = m_owned.back().get();
            formatBytes += numfmt::footprint(*m_owned.back());
            lookupBytes += sizeof(void*) * 3 + sizeof(std::pair<const std::string, const numfmt::Format*>) +
                           (code.capacity() > 15 ? code.capacity() + 1 : 0);
            if (m_owned.size() % 1024 == 0)
                charge(true);
        }
        m_byXf.push_back(it->second);
    }
    charge(false);
}

const numfmt::Format& CellRenderer::formatOf(uint32_t style) const
{
    return style < m_byXf.size() ? *m_byXf[style] : *m_general;
}

void CellRenderer::render(const CellData& cell, std::string& out) const
{
    switch (cell.kind) {
    case CellKind::Blank:
        break;
    case CellKind::Number:
        // Whole numbers of up to 11 digits show in full under "General": the most common
        // cell of all, worth a shortcut past the format machinery.
        if ((cell.style >= m_generalByXf.size() || m_generalByXf[cell.style]) && cell.number > -1e11 &&
            cell.number < 1e11 && cell.number == static_cast<double>(static_cast<int64_t>(cell.number))) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(cell.number)).ptr;
            out.append(digits, end);
            break;
        }
        numfmt::formatNumber(formatOf(cell.style), cell.number, m_date1904, out);
        break;
    case CellKind::Text:
        numfmt::formatText(formatOf(cell.style), cell.text, out);
        break;
    case CellKind::Bool:
        out += cell.number != 0 ? "TRUE" : "FALSE";
        break;
    case CellKind::Error:
    case CellKind::Shown:
        out += cell.text;
        break;
    }
}

void writeSheetCsv(BookReader& reader, const CellRenderer& renderer, size_t sheetIndex,
                   const std::filesystem::path& target, const std::string& bookName,
                   const RowProgress& progress, bool stopAtCalculation)
{
    struct Flag {
        explicit Flag(bool on) { t_stopAtCalculation = on; }
        ~Flag() { t_stopAtCalculation = false; }
    } flag(stopAtCalculation);
    csv::CsvWriter writer(target, target.string());
    // One streaming pass over a range fixed in advance; false when the cells did not fit it.
    auto streamInto = [&](const CellRange& range) {
        try {
            CsvSink sink(writer, renderer, range, progress ? &progress : nullptr);
            reader.readSheet(sheetIndex, sink);
            sink.finish();
            writer.commit();
            return true;
        } catch (const RangeMiss&) {
        } catch (const OrderMiss&) {
        }
        writer.restart();
        return false;
    };
    // A hint whose separators alone pass the size limit is measured first: the scan counts the
    // cells, so that a sheet that is too large is refused before anything is written.
    if (auto hint = reader.dimension(sheetIndex);
        hint && plausible(*hint) && leastCsvSize(*hint) <= g_csvSizeLimit && streamInto(*hint))
        return;

    RangeScan scan;
    reader.readSheet(sheetIndex, scan);
    if (!scan.bounds.any) {
        writer.commit();  // a sheet without cells is an empty file
        return;
    }
    requireSensibleSize(reader, sheetIndex, scan.bounds.range, scan.cells, bookName);
    // A reader that streams differently on a second pass falls through to collecting.
    if (scan.bounds.ordered && streamInto(scan.bounds.range))
        return;
    CollectSink collect(renderer, reader.memory());
    reader.readSheet(sheetIndex, collect);
    Bounds bounds;
    for (const auto& c : collect.cells)
        bounds.add(c.row, c.col);
    if (bounds.any)
        writeCollected(collect, bounds.range, writer);
    writer.commit();
}

}  // namespace tabulon::engine
