#include "Recalc.h"

#include <chrono>
#include <ctime>
#include <unordered_map>

#include "Error.h"
#include "formula/Book.h"
#include "formula/Dates.h"

namespace tabulon::engine {

namespace {

using formula::Book;
using formula::CellType;
using formula::SourceForm;

SourceForm sourceForm(FormulaData::Form form)
{
    switch (form) {
    case FormulaData::Form::Biff8: return SourceForm::Biff8;
    case FormulaData::Form::Xlsb: return SourceForm::Xlsb;
    default: return SourceForm::A1;
    }
}

struct TooLarge {};

// Reads one worksheet into the model: every cell with its value, formulas with their
// bodies (shared groups bound to one body each).
class Collector final : public CellSink {
public:
    Collector(Book& book, uint32_t sheet, bool calculateAll, const RecalcLimits& limits)
        : m_book(book), m_sheet(sheet), m_calculateAll(calculateAll), m_limits(limits)
    {
    }

    bool wantsFormulas() const override { return true; }

    void sharedFormula(const FormulaData& group) override
    {
        const uint32_t source = groupSource(group.group);
        m_book.defineSource(source, sourceForm(group.form), std::string(group.body), std::string(group.extra), m_sheet,
                            group.range.firstRow, group.range.firstCol);
        if (group.array)
            m_book.setSourceArray(source, {group.range.firstRow, group.range.firstCol, group.range.lastRow, group.range.lastCol});
    }

    void cell(uint32_t row, uint32_t col, const CellData& data) override
    {
        CellType type = CellType::Blank;
        double number = data.number;
        switch (data.kind) {
        case CellKind::Number: type = CellType::Number; break;
        case CellKind::Text:
        case CellKind::Shown: type = CellType::Text; break;
        case CellKind::Bool: type = CellType::Bool; break;
        case CellKind::Error:
            type = CellType::Error;
            number = double(uint8_t(formula::errorFromLiteral(data.text).value_or(formula::ErrorCode::NA)));
            break;
        case CellKind::Blank: break;
        }
        m_book.addCell(m_sheet, row, col, type, number, data.text, data.style);
        if (const FormulaData* f = data.formula) {
            uint32_t source;
            if (f->kind == FormulaData::Kind::Shared) {
                source = groupSource(f->group);
            } else {
                source = m_book.addSource(sourceForm(f->form), std::string(f->body), std::string(f->extra), m_sheet, row, col);
                if (f->array)
                    m_book.setSourceArray(source, {f->range.firstRow, f->range.firstCol, f->range.lastRow, f->range.lastCol});
            }
            const bool calculate = m_calculateAll || data.needsCalculation || f->alwaysCalc;
            m_book.setFormula(source, f->hasResult, calculate);
        }
        if (m_book.cellCount() > m_limits.maxCells ||
            ((m_book.cellCount() & 0xFFFF) == 0 && m_book.memoryBytes() > m_limits.maxBytes))
            throw TooLarge{};
    }

private:
    uint32_t groupSource(uint64_t group)
    {
        auto [it, added] = m_groups.try_emplace(group, 0);
        if (added)
            it->second = m_book.addSource(SourceForm::A1, {}, {}, m_sheet, 0, 0);
        return it->second;
    }

    Book& m_book;
    uint32_t m_sheet;
    bool m_calculateAll;
    const RecalcLimits& m_limits;
    std::unordered_map<uint64_t, uint32_t> m_groups;
};

}  // namespace

RecalcReader::RecalcReader(BookReader& source) : m_source(source) {}
RecalcReader::~RecalcReader() = default;

std::unique_ptr<RecalcReader> RecalcReader::build(BookReader& source, const RecalcLimits& limits, double now,
                                                  std::function<double()> random)
{
    std::unique_ptr<RecalcReader> r(new RecalcReader(source));
    r->m_book = std::make_unique<Book>(source.date1904());
    Book& book = *r->m_book;
    book.setClock(now);
    if (random)
        book.setRandom(std::move(random));
    const auto& sheets = source.sheets();
    const FormulaFacts& facts = source.formulaFacts();
    for (const SheetInfo& s : sheets)
        r->m_bookSheet.push_back(book.addSheet(s.name));

    formula::TokenBook tokens;
    tokens.sheetsOfXti = [&facts](uint32_t xti) -> std::optional<std::pair<uint32_t, uint32_t>> {
        return xti < facts.xti.size() ? facts.xti[xti] : std::nullopt;
    };
    tokens.nameText = [&facts](uint32_t index) {
        return index >= 1 && index <= facts.names.size() ? facts.names[index - 1].name : std::string();
    };
    tokens.externalName = [&facts](uint32_t, uint32_t index) {
        return index >= 1 && index <= facts.externalNames.size() ? facts.externalNames[index - 1] : std::string();
    };
    book.setTokenBook(tokens);
    for (const DefinedName& n : facts.names) {
        const uint32_t sheet = n.sheet >= 0 && size_t(n.sheet) < sheets.size() ? uint32_t(n.sheet) : 0;
        const uint32_t src = book.addSource(sourceForm(n.form), n.body, n.extra, sheet, 0, 0);
        book.addName(n.name, n.sheet >= 0 && size_t(n.sheet) < sheets.size() ? n.sheet : -1, src);
    }
    try {
        for (size_t i = 0; i < sheets.size(); ++i) {
            if (sheets[i].kind != SheetKind::Worksheet)
                continue;
            Collector collector(book, r->m_bookSheet[i], facts.calculateAll, limits);
            source.readSheet(i, collector);
        }
    } catch (const TooLarge&) {
        return nullptr;
    }
    book.calculate();
    return r;
}

void RecalcReader::readSheet(size_t sheetIndex, CellSink& sink)
{
    if (sheetIndex >= m_bookSheet.size())
        return;
    CellData data;
    m_book->forEachCell(m_bookSheet[sheetIndex], [&](const Book::CellOut& c) {
        data.style = c.style;
        data.number = c.number;
        data.text = c.text;
        switch (c.type) {
        case CellType::Blank: data.kind = CellKind::Blank; break;
        case CellType::Number: data.kind = CellKind::Number; break;
        case CellType::Text: data.kind = CellKind::Text; break;
        case CellType::Bool: data.kind = CellKind::Bool; break;
        case CellType::Error: data.kind = CellKind::Error; break;
        }
        sink.cell(c.row, c.col, data);
    });
}

uint64_t RecalcReader::uncalculated(size_t sheetIndex) const
{
    return sheetIndex < m_bookSheet.size() ? m_book->uncalculated(m_bookSheet[sheetIndex]) : 0;
}

double serialNow(bool date1904)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    // Local wall-clock time, as the application shows it.
    const int64_t days = formula::daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) -
                         formula::daysFromCivil(1899, 12, 30);
    const double fraction = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
    return double(days) + fraction - (date1904 ? 1462 : 0);
}

}  // namespace tabulon::engine
