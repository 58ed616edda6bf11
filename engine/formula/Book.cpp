#include "Book.h"

#include <algorithm>
#include <cmath>

namespace tabulon::formula {

namespace {
constexpr uint32_t kRows = 1048576, kCols = 16384;
// Dependencies reached only while evaluating (names, INDIRECT, OFFSET) are calculated in a
// nested pass; beyond this depth of nesting they count as circular.
constexpr int kMaxNesting = 64;
constexpr int kMaxNameDepth = 16;
// Operand stack of one formula.
constexpr size_t kMaxOperands = 65536;
}  // namespace

Book::Book(bool date1904) : m_date1904(date1904) {}
Book::~Book() = default;

uint32_t Book::addSheet(std::string name)
{
    Sheet s;
    s.folded = foldCase(name);
    s.name = std::move(name);
    m_sheets.push_back(std::move(s));
    return uint32_t(m_sheets.size() - 1);
}

uint32_t Book::addSource(SourceForm form, std::string body, std::string extra, uint32_t sheet, uint32_t row, uint32_t col)
{
    m_sources.push_back(Source{form, std::move(body), std::move(extra), sheet, row, col, nullptr, false, false, {}});
    return uint32_t(m_sources.size() - 1);
}

void Book::defineSource(uint32_t source, SourceForm form, std::string body, std::string extra, uint32_t sheet, uint32_t row,
                        uint32_t col)
{
    if (source >= m_sources.size())
        return;
    Source& s = m_sources[source];
    s.form = form;
    s.body = std::move(body);
    s.extra = std::move(extra);
    s.sheet = sheet;
    s.row = row;
    s.col = col;
    s.parsed.reset();
    s.tried = false;
}

void Book::setSourceArray(uint32_t source, const ArrayRange& range)
{
    if (source >= m_sources.size())
        return;
    m_sources[source].array = true;
    m_sources[source].range = range;
}

void Book::addName(std::string_view name, int64_t sheetScope, uint32_t source)
{
    m_names[foldCase(name)].emplace_back(sheetScope, source);
}

void Book::addCell(uint32_t sheet, uint32_t row, uint32_t col, CellType type, double number, std::string_view text, uint32_t style)
{
    if (sheet >= m_sheets.size() || row >= kRows || col >= kCols)
        return;
    Sheet& s = m_sheets[sheet];
    m_lastSheet = sheet;
    if (s.cols.size() <= col)
        s.cols.resize(col + 1);
    Column& c = s.cols[col];
    Slot slot;
    slot.type = type;
    slot.number = number;
    slot.style = style;
    if (type == CellType::Text) {
        slot.text = uint32_t(m_text.size());
        slot.textLen = uint32_t(text.size());
        m_text.append(text);
    }
    if (!c.rows.empty() && c.rows.back() >= row)
        s.unordered = true;  // sorted out once loading is finished
    c.rows.push_back(row);
    c.slots.push_back(slot);
    s.order.emplace_back(col, uint32_t(c.slots.size() - 1));
    ++m_cellCount;
}

void Book::setFormula(uint32_t source, bool hasResult, bool calculate)
{
    if (m_lastSheet >= m_sheets.size() || m_sheets[m_lastSheet].order.empty() || source >= m_sources.size())
        return;
    const uint32_t sheetIndex = m_lastSheet;
    Sheet& s = m_sheets[sheetIndex];
    const auto [col, pos] = s.order.back();
    Slot& slot = s.cols[col].slots[pos];
    FormulaCell fc;
    fc.sheet = sheetIndex;
    fc.row = s.cols[col].rows[pos];
    fc.col = col;
    fc.source = source;
    fc.hasResult = hasResult;
    fc.state = calculate || !hasResult ? State::Pending : State::Stored;
    m_formulas.push_back(fc);
    slot.formula = uint32_t(m_formulas.size());
    s.cols[col].formulaPos.push_back(pos);
}

uint64_t Book::memoryBytes() const
{
    uint64_t bytes = m_text.capacity() + m_formulas.capacity() * sizeof(FormulaCell);
    for (const Source& s : m_sources)
        bytes += sizeof(Source) + s.body.capacity() + s.extra.capacity();
    for (const Sheet& s : m_sheets) {
        bytes += s.order.capacity() * sizeof(s.order[0]) + s.cols.capacity() * sizeof(Column);
        for (const Column& c : s.cols)
            bytes += c.rows.capacity() * 4 + c.slots.capacity() * sizeof(Slot) + c.formulaPos.capacity() * 4;
    }
    return bytes;
}

void Book::finishLoading()
{
    if (m_loaded)
        return;
    m_loaded = true;
    for (uint32_t si = 0; si < m_sheets.size(); ++si) {
        Sheet& s = m_sheets[si];
        if (!s.unordered)
            continue;
        // Rare: cells out of order or repeated. Sort each column by row, the later of two
        // cells at one place winning, and rebuild the reader order as row-major.
        for (uint32_t ci = 0; ci < s.cols.size(); ++ci) {
            Column& c = s.cols[ci];
            std::vector<uint32_t> idx(c.rows.size());
            for (uint32_t i = 0; i < idx.size(); ++i)
                idx[i] = i;
            std::stable_sort(idx.begin(), idx.end(), [&](uint32_t a, uint32_t b) { return c.rows[a] < c.rows[b]; });
            Column sorted;
            for (size_t k = 0; k < idx.size(); ++k) {
                if (k + 1 < idx.size() && c.rows[idx[k + 1]] == c.rows[idx[k]])
                    continue;
                sorted.rows.push_back(c.rows[idx[k]]);
                sorted.slots.push_back(c.slots[idx[k]]);
                if (sorted.slots.back().formula)
                    sorted.formulaPos.push_back(uint32_t(sorted.slots.size() - 1));
            }
            c = std::move(sorted);
        }
        s.order.clear();
        std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> all;
        for (uint32_t ci = 0; ci < s.cols.size(); ++ci)
            for (uint32_t p = 0; p < s.cols[ci].rows.size(); ++p)
                all.emplace_back(s.cols[ci].rows[p], ci, p);
        std::sort(all.begin(), all.end());
        for (const auto& [r, c, p] : all)
            s.order.emplace_back(c, p);
        s.unordered = false;
    }
}

int64_t Book::sheetByName(std::string_view name) const
{
    const std::string folded = foldCase(name);
    for (size_t i = 0; i < m_sheets.size(); ++i)
        if (m_sheets[i].folded == folded)
            return int64_t(i);
    return -1;
}

double Book::random()
{
    if (m_random)
        return m_random();
    return double(m_rng() >> 11) * 0x1.0p-53;
}

const Formula* Book::parsedSource(uint32_t index)
{
    Source& s = m_sources[index];
    if (!s.tried) {
        s.tried = true;
        ParseResult r;
        if (s.form == SourceForm::A1) {
            r = parseA1(s.body, s.sheet, s.row, s.col, [this](std::string_view n) { return sheetByName(n); });
        } else {
            r = decodeTokens(s.form == SourceForm::Biff8 ? TokenForm::Biff8 : TokenForm::Xlsb, s.body, s.extra, s.sheet,
                             s.row, s.col, m_tokenBook);
        }
        if (r.formula)
            s.parsed = std::make_shared<const Formula>(std::move(*r.formula));
        // The body is no longer needed.
        std::string().swap(s.body);
        std::string().swap(s.extra);
    }
    return s.parsed.get();
}

Book::Slot* Book::findSlot(uint32_t sheet, uint32_t row, uint32_t col)
{
    if (sheet >= m_sheets.size() || col >= m_sheets[sheet].cols.size())
        return nullptr;
    Column& c = m_sheets[sheet].cols[col];
    auto it = std::lower_bound(c.rows.begin(), c.rows.end(), row);
    if (it == c.rows.end() || *it != row)
        return nullptr;
    return &c.slots[size_t(it - c.rows.begin())];
}

Value Book::slotValue(const Slot& s) const
{
    switch (s.type) {
    case CellType::Blank: return Value();
    case CellType::Number: return Value::number(s.number);
    case CellType::Bool: return Value::boolean(s.number != 0);
    case CellType::Error: return Value::error(ErrorCode(uint8_t(s.number)));
    case CellType::Text: return Value::text(std::string(m_text, s.text, s.textLen));
    }
    return Value();
}

void Book::storeValue(Slot& slot, const Value& v)
{
    switch (v.type()) {
    case Value::Type::Number:
        if (!std::isfinite(v.asNumber())) {
            slot.type = CellType::Error;
            slot.number = double(uint8_t(ErrorCode::Num));
        } else {
            slot.type = CellType::Number;
            slot.number = v.asNumber() == 0 ? 0.0 : v.asNumber();  // no negative zero
        }
        break;
    case Value::Type::Bool:
        slot.type = CellType::Bool;
        slot.number = v.asBool() ? 1 : 0;
        break;
    case Value::Type::Error:
        slot.type = CellType::Error;
        slot.number = double(uint8_t(v.asError()));
        break;
    case Value::Type::Text:
        slot.type = CellType::Text;
        slot.text = uint32_t(m_text.size());
        slot.textLen = uint32_t(std::min<size_t>(v.asText().size(), 32767 * 4));
        m_text.append(v.asText(), 0, slot.textLen);
        break;
    default:  // blank: a formula shows 0
        slot.type = CellType::Number;
        slot.number = 0;
        break;
    }
}

Value Book::cell(uint32_t sheet, uint32_t row, uint32_t col)
{
    Slot* s = findSlot(sheet, row, col);
    if (!s)
        return Value();
    if (s->formula) {
        FormulaCell& fc = m_formulas[s->formula - 1];
        if (fc.state == State::Pending)
            ensure(s->formula - 1);
        if (fc.state == State::InProgress) {
            // Its value is needed while it is being calculated: a cycle. Every formula on
            // the stack from that one up takes part and shows 0, as in the application.
            markCircular(s->formula - 1);
            return Value::number(0);
        }
        if (fc.state == State::Pending)
            return Value::number(0);  // beyond the nesting bound of dynamic references
        s = findSlot(sheet, row, col);
    }
    return slotValue(*s);
}

void Book::forEachCell(const Area& a, const CellVisitor& visit)
{
    for (uint32_t sheet = a.sheetFirst; sheet <= a.sheetLast && sheet < m_sheets.size(); ++sheet) {
        Sheet& s = m_sheets[sheet];
        // Row by row across the columns: a merge over the columns' sorted rows.
        const uint32_t lastCol = std::min<uint32_t>(a.colLast, uint32_t(s.cols.size()) ? uint32_t(s.cols.size() - 1) : 0);
        if (s.cols.empty() || a.colFirst > lastCol)
            continue;
        if (a.colFirst == lastCol) {
            Column& c = s.cols[lastCol];
            size_t p = size_t(std::lower_bound(c.rows.begin(), c.rows.end(), a.rowFirst) - c.rows.begin());
            for (; p < c.rows.size() && c.rows[p] <= a.rowLast; ++p) {
                const uint32_t row = c.rows[p];
                Value v = c.slots[p].formula ? cell(sheet, row, lastCol) : slotValue(c.slots[p]);
                if (!visit(sheet, row, lastCol, v))
                    return;
            }
            continue;
        }
        std::vector<size_t> cursor(lastCol - a.colFirst + 1);
        for (uint32_t c = a.colFirst; c <= lastCol; ++c) {
            const Column& col = s.cols[c];
            cursor[c - a.colFirst] = size_t(std::lower_bound(col.rows.begin(), col.rows.end(), a.rowFirst) - col.rows.begin());
        }
        for (;;) {
            uint32_t row = UINT32_MAX;
            for (uint32_t c = a.colFirst; c <= lastCol; ++c) {
                const Column& col = s.cols[c];
                const size_t p = cursor[c - a.colFirst];
                if (p < col.rows.size() && col.rows[p] <= a.rowLast)
                    row = std::min(row, col.rows[p]);
            }
            if (row == UINT32_MAX)
                break;
            for (uint32_t c = a.colFirst; c <= lastCol; ++c) {
                size_t& p = cursor[c - a.colFirst];
                const Column& col = s.cols[c];
                if (p < col.rows.size() && col.rows[p] == row) {
                    Value v = col.slots[p].formula ? cell(sheet, row, c) : slotValue(col.slots[p]);
                    ++p;
                    if (!visit(sheet, row, c, v))
                        return;
                }
            }
        }
    }
}

Value Book::definedName(std::string_view name)
{
    auto it = m_names.find(foldCase(name));
    if (it == m_names.end() || m_nameDepth >= kMaxNameDepth)
        return Value::error(ErrorCode::Name);
    // The sheet's own name first, then the workbook's.
    uint32_t source = UINT32_MAX;
    for (const auto& [scope, src] : it->second)
        if (scope == int64_t(m_cur.sheet))
            source = src;
    if (source == UINT32_MAX)
        for (const auto& [scope, src] : it->second)
            if (scope < 0)
                source = src;
    if (source == UINT32_MAX)
        return Value::error(ErrorCode::Name);
    const Formula* f = parsedSource(source);
    if (!f || f->unsupported)
        return Value::error(ErrorCode::Name);
    ++m_nameDepth;
    // Names keep their result as it is (a reference stays a reference).
    Position saved = m_cur;
    Value v = run(*f, m_cur.sheet, m_cur.row, m_cur.col, m_cur.array);
    m_cur = saved;
    --m_nameDepth;
    return v;
}

bool Book::resolveArea(const Token& t, const Position& at, Area& area) const
{
    auto coord = [](int64_t v, bool rel, int64_t base, uint32_t limit, uint32_t& out) {
        int64_t x = rel ? base + v : v;
        if (x < 0 || x >= int64_t(limit))
            return false;
        out = uint32_t(x);
        return true;
    };
    if (!coord(t.row1, t.flags & RowFirstRel, at.row, kRows, area.rowFirst) ||
        !coord(t.col1, t.flags & ColFirstRel, at.col, kCols, area.colFirst) ||
        !coord(t.row2, t.flags & RowLastRel, at.row, kRows, area.rowLast) ||
        !coord(t.col2, t.flags & ColLastRel, at.col, kCols, area.colLast))
        return false;
    if (area.rowFirst > area.rowLast)
        std::swap(area.rowFirst, area.rowLast);
    if (area.colFirst > area.colLast)
        std::swap(area.colFirst, area.colLast);
    if (t.flags & SheetGiven) {
        area.sheetFirst = t.sheet1;
        area.sheetLast = t.sheet2;
    } else {
        area.sheetFirst = area.sheetLast = at.sheet;
    }
    return area.sheetLast < m_sheets.size() && area.sheetFirst <= area.sheetLast;
}

void Book::collectDependencies(const Formula& f, const Position& at, int depth, std::vector<uint32_t>& out)
{
    for (const Token& t : f.tokens) {
        if (t.op == Op::Name && depth < kMaxNameDepth) {
            auto it = m_names.find(f.texts[t.index]);
            if (it != m_names.end())
                for (const auto& [scope, src] : it->second)
                    if (scope < 0 || scope == int64_t(at.sheet))
                        if (const Formula* nf = parsedSource(src))
                            collectDependencies(*nf, at, depth + 1, out);
            continue;
        }
        if (t.op != Op::Ref)
            continue;
        Area a;
        if (!resolveArea(t, at, a))
            continue;
        for (uint32_t sheet = a.sheetFirst; sheet <= a.sheetLast; ++sheet) {
            Sheet& s = m_sheets[sheet];
            const uint32_t lastCol = std::min<uint32_t>(a.colLast, uint32_t(s.cols.size()));
            for (uint32_t ci = a.colFirst; ci < lastCol + (a.colLast < s.cols.size() ? 1 : 0) && ci < s.cols.size(); ++ci) {
                Column& c = s.cols[ci];
                auto settled = [&](uint32_t pos) {
                    const State st = m_formulas[c.slots[pos].formula - 1].state;
                    return st == State::Done || st == State::Stored;
                };
                while (c.settledUpTo < c.formulaPos.size() && settled(c.formulaPos[c.settledUpTo]))
                    ++c.settledUpTo;
                if (c.settledUpTo == c.formulaPos.size())
                    continue;
                auto first = std::lower_bound(c.formulaPos.begin() + ptrdiff_t(c.settledUpTo), c.formulaPos.end(), a.rowFirst,
                                              [&](uint32_t pos, uint32_t row) { return c.rows[pos] < row; });
                for (auto it = first; it != c.formulaPos.end() && c.rows[*it] <= a.rowLast; ++it) {
                    const uint32_t fi = c.slots[*it].formula - 1;
                    const State st = m_formulas[fi].state;
                    // Formulas under way are left to the evaluation: a range that holds the
                    // formula itself is circular only if its value is read (INDEX(A:A, 2) in
                    // A5 is not).
                    if (st == State::Pending)
                        out.push_back(fi);
                }
            }
        }
    }
}

void Book::markCircular(uint32_t formulaIndex)
{
    m_formulas[formulaIndex].circular = true;
    for (size_t k = m_stack.size(); k-- > 0;) {
        m_formulas[m_stack[k].formula].circular = true;
        if (m_stack[k].formula == formulaIndex)
            break;
    }
}

void Book::ensure(uint32_t start)
{
    if (m_formulas[start].state != State::Pending)
        return;
    if (m_nesting >= kMaxNesting)
        return;  // seen by the caller as still pending: treated like a circular reference
    ++m_nesting;
    const size_t base = m_stack.size();
    m_stack.push_back({start, false});
    while (m_stack.size() > base) {
        const uint32_t fi = m_stack.back().formula;
        FormulaCell& fc = m_formulas[fi];
        if (fc.state == State::Done || fc.state == State::Stored) {
            m_stack.pop_back();
            continue;
        }
        if (!m_stack.back().expanded) {
            m_stack.back().expanded = true;
            if (fc.state == State::InProgress) {
                // Reached again through another path while it waits below: a cycle.
                fc.circular = true;
                m_stack.pop_back();
                continue;
            }
            fc.state = State::InProgress;
            if (const Formula* f = parsedSource(fc.source)) {
                std::vector<uint32_t> deps;
                const Source& src = m_sources[fc.source];
                const Position at = src.array ? Position{fc.sheet, src.row, src.col, true} : Position{fc.sheet, fc.row, fc.col, false};
                collectDependencies(*f, at, 0, deps);
                for (auto it = deps.rbegin(); it != deps.rend(); ++it)
                    m_stack.push_back({*it, false});
            }
            continue;
        }
        compute(fi);
        m_stack.pop_back();
    }
    --m_nesting;
}

void Book::compute(uint32_t fi)
{
    FormulaCell& fc = m_formulas[fi];
    const Formula* f = parsedSource(fc.source);
    Value result;
    if (fc.circular) {
        result = Value::number(0);
    } else if (!f || f->unsupported) {
        if (fc.hasResult) {
            fc.state = State::Stored;
            return;
        }
        ErrorCode shown = ErrorCode::Name;
        if (f)
            for (const Token& t : f->tokens)
                if (t.op == Op::Unsupported) {
                    shown = ErrorCode(uint8_t(t.number));
                    break;
                }
        result = Value::error(shown);
        ++m_sheets[fc.sheet].uncalculated;
    } else if (m_sources[fc.source].array) {
        // Array formulas are written for their anchor and evaluated there.
        const Source& src = m_sources[fc.source];
        result = evaluate(*f, fc.sheet, src.row, src.col, true);
    } else {
        result = evaluate(*f, fc.sheet, fc.row, fc.col, false);
    }
    FormulaCell& again = m_formulas[fi];
    if (again.circular)
        result = Value::number(0);
    again.state = State::Done;
    storeResult(again, result);
}

void Book::storeResult(FormulaCell& fc, const Value& v)
{
    const Source& src = m_sources[fc.source];
    if (!src.array) {
        if (Slot* s = findSlot(fc.sheet, fc.row, fc.col))
            storeValue(*s, v.isArray() ? (v.asArray().cells.empty() ? Value::error(ErrorCode::Value) : v.asArray().cells[0]) : v);
        return;
    }
    // An array formula fills its range: a single value every cell, a single row or column
    // repeats, cells beyond the result's size show #N/A. The cell of each formula takes its
    // element; the anchor also fills the cells of the range that hold no formula.
    const ArrayRange& r = src.range;
    auto element = [&](uint32_t row, uint32_t col) {
        if (!v.isArray())
            return v;
        const Array& a = v.asArray();
        const uint32_t i = row - r.rowFirst, j = col - r.colFirst;
        const uint32_t ii = a.rows == 1 ? 0 : i, jj = a.cols == 1 ? 0 : j;
        return ii < a.rows && jj < a.cols ? a.at(ii, jj) : Value::error(ErrorCode::NA);
    };
    const bool inside = fc.row >= r.rowFirst && fc.row <= r.rowLast && fc.col >= r.colFirst && fc.col <= r.colLast;
    if (Slot* s = findSlot(fc.sheet, fc.row, fc.col))
        storeValue(*s, inside ? element(fc.row, fc.col) : element(r.rowFirst, r.colFirst));
    if (fc.row != r.rowFirst || fc.col != r.colFirst)
        return;
    // Bounded by the cells stored in the range, not by its size.
    for (uint32_t col = r.colFirst; col <= r.colLast && col < kCols && col < m_sheets[fc.sheet].cols.size(); ++col) {
        Column& c = m_sheets[fc.sheet].cols[col];
        size_t p = size_t(std::lower_bound(c.rows.begin(), c.rows.end(), r.rowFirst) - c.rows.begin());
        for (; p < c.rows.size() && c.rows[p] <= r.rowLast; ++p)
            if (!c.slots[p].formula)
                storeValue(c.slots[p], element(c.rows[p], col));
    }
}

void Book::calculate()
{
    finishLoading();
    for (uint32_t i = 0; i < m_formulas.size(); ++i)
        if (m_formulas[i].state == State::Pending)
            ensure(i);
}

void Book::forEachCell(uint32_t sheet, const std::function<void(const CellOut&)>& visit) const
{
    if (sheet >= m_sheets.size())
        return;
    const Sheet& s = m_sheets[sheet];
    for (const auto& [col, pos] : s.order) {
        const Column& c = s.cols[col];
        const Slot& slot = c.slots[pos];
        CellOut out{c.rows[pos], col, slot.style, slot.type, slot.number, {}};
        if (slot.type == CellType::Text)
            out.text = std::string_view(m_text).substr(slot.text, slot.textLen);
        else if (slot.type == CellType::Error)
            out.text = errorLiteral(ErrorCode(uint8_t(slot.number)));
        visit(out);
    }
}

namespace {
// The key under which a value is indexed: equal keys for values the lookups call equal
// (same type; text without regard to case).
std::string indexKey(const Value& v)
{
    std::string key(1, char('0' + int(v.type())));
    if (v.isText()) {
        key += foldCase(v.asText());
    } else {
        const double n = v.asNumber() == 0 ? 0.0 : v.asNumber();
        key.append(reinterpret_cast<const char*>(&n), sizeof n);
    }
    return key;
}
}  // namespace

const Book::LookupIndex& Book::lookupIndex(const Area& a)
{
    std::string id(reinterpret_cast<const char*>(&a), sizeof a);
    auto it = m_indexes.find(id);
    if (it != m_indexes.end())
        return it->second;
    LookupIndex index;
    forEachCell(a, [&](uint32_t, uint32_t row, uint32_t col, const Value& v) {
        if (v.isBlank() || v.isError())
            return true;
        auto [e, added] = index.entries.try_emplace(indexKey(v), (row - a.rowFirst) + (col - a.colFirst), 0);
        ++e->second.second;
        return true;
    });
    return m_indexes.emplace(std::move(id), std::move(index)).first->second;
}

std::optional<uint32_t> Book::findFirstEqual(const Area& a, const Value& key)
{
    // Only for settled areas: while formulas in it are pending the index could go stale.
    if (a.sheetFirst != a.sheetLast || (a.rows() != 1 && a.cols() != 1) || key.isBlank() || key.isError() || !areaSettled(a))
        return Context::findFirstEqual(a, key);
    const LookupIndex& index = lookupIndex(a);
    auto it = index.entries.find(indexKey(key));
    if (it == index.entries.end())
        return std::nullopt;
    return it->second.first;
}

uint64_t Book::countEqual(const Area& a, const Value& key)
{
    if (a.sheetFirst != a.sheetLast || (a.rows() != 1 && a.cols() != 1) || key.isBlank() || key.isError() || !areaSettled(a))
        return Context::countEqual(a, key);
    const LookupIndex& index = lookupIndex(a);
    auto it = index.entries.find(indexKey(key));
    return it == index.entries.end() ? 0 : it->second.second;
}

bool Book::areaSettled(const Area& a)
{
    // Every formula in the area calculated (or standing on its stored result).
    if (a.sheetFirst >= m_sheets.size())
        return true;
    Sheet& s = m_sheets[a.sheetFirst];
    for (uint32_t ci = a.colFirst; ci <= a.colLast && ci < s.cols.size(); ++ci) {
        Column& c = s.cols[ci];
        auto first = std::lower_bound(c.formulaPos.begin(), c.formulaPos.end(), a.rowFirst,
                                      [&](uint32_t pos, uint32_t row) { return c.rows[pos] < row; });
        for (auto it = first; it != c.formulaPos.end() && c.rows[*it] <= a.rowLast; ++it) {
            const State st = m_formulas[c.slots[*it].formula - 1].state;
            if (st != State::Done && st != State::Stored)
                return false;
        }
    }
    return true;
}

uint64_t Book::uncalculated(uint32_t sheet) const
{
    return sheet < m_sheets.size() ? m_sheets[sheet].uncalculated : 0;
}

}  // namespace tabulon::formula
