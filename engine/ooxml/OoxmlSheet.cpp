#include "OoxmlSheet.h"

#include <charconv>
#include <cmath>

#include "../Error.h"
#include "../io/Utf.h"
#include "../io/XmlScanner.h"

namespace tabulon::engine::ooxml {
namespace {

using Token = XmlScanner::Token;

// Text held in memory for one cell or the shared-string table; far beyond real workbooks.
constexpr size_t kMaxTextBytes = size_t(1) << 30;

inline std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
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

}  // namespace

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
    // Up to 15 digits with at most one decimal point: the digits are exact as a double, and
    // so is 10^k, so one division rounds exactly as the general parser would.
    if (!s.empty() && s.size() <= 17) {
        static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const size_t first = s[0] == '-' ? 1 : 0;
        int64_t v = 0;
        int digits = 0, decimals = -1;
        size_t j = first;
        for (; j < s.size(); ++j) {
            const char c = s[j];
            if (c >= '0' && c <= '9') {
                v = v * 10 + (c - '0');
                ++digits;
                if (decimals >= 0)
                    ++decimals;
            } else if (c == '.' && decimals < 0) {
                decimals = 0;
            } else {
                break;
            }
        }
        if (j == s.size() && digits > 0 && digits <= 15) {
            const double magnitude = decimals > 0 ? static_cast<double>(v) / kPow10[decimals] : static_cast<double>(v);
            out = first ? -magnitude : magnitude;
            return true;
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

void decodeEscapes(std::string& s, size_t from)
{
    if (s.find("_x", from) == std::string::npos)
        return;
    // The UTF-16 code unit of an escape at `at`.
    auto escapeAt = [&s](size_t at, uint32_t& unit) {
        if (at + 6 >= s.size() || s[at] != '_' || s[at + 1] != 'x' || s[at + 6] != '_')
            return false;
        unit = 0;
        for (size_t k = at + 2; k < at + 6; ++k) {
            const char c = s[k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            unit = unit * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    };
    std::string out;
    out.reserve(s.size() - from);
    size_t i = from;
    while (i < s.size()) {
        uint32_t unit, next;
        if (!escapeAt(i, unit)) {
            out.push_back(s[i++]);
            continue;
        }
        // A high surrogate takes the escape after it along: together they may be one character.
        uint8_t units[4] = {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8), 0, 0};
        size_t count = 1;
        if (unit >= 0xD800 && unit <= 0xDBFF && escapeAt(i + 7, next)) {
            units[2] = static_cast<uint8_t>(next);
            units[3] = static_cast<uint8_t>(next >> 8);
            count = 2;
        }
        appendUtf16(units, count, out);
        i += 7 * count;
    }
    s.resize(from);
    s += out;
}

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

namespace {

// The cell loop of one <sheetData>: rows, then cells, each cut into its reference and type
// (attributes), its content as written (<v>, <is>, <f>) and the value that content makes.
class SheetDataReader {
public:
    SheetDataReader(XmlScanner& x, CellSink& sink, const SheetContext& context)
        : m_x(x), m_sink(sink), m_context(context), m_wantsFormulas(sink.wantsFormulas())
    {
    }

    void run()
    {
        const uint32_t dataDepth = m_x.depth();
        for (;;) {
            const Token t = m_x.next();
            if (t == Token::End)
                m_x.fail("it ends early");
            if (t == Token::EndTag) {
                if (m_x.depth() < dataDepth)
                    return;
                continue;
            }
            if (t != Token::StartTag)
                continue;
            if (m_x.name() == "c")
                readCell();
            else if (m_x.name() == "row")
                startRow();
            else
                m_x.skipElement();
        }
    }

private:
    enum class Type : uint8_t { Number, Shared, String, Inline, Bool, Error, Date, Other };

    // What a <c> element holds, as written.
    struct Content {
        bool hasValue = false, hasInline = false, hasFormula = false;
        std::string_view raw;  // the <v> text, entities decoded
        // <f>: the text (entities decoded; only when formulas are wanted) and attributes.
        std::string_view formula;
        enum class FormulaType : uint8_t { Normal, Shared, Array } formulaType = FormulaType::Normal;
        bool alwaysCalc = false;
        bool hasGroup = false;
        uint32_t group = 0;
        std::string_view ref;
    };

    [[noreturn]] void bad(const std::string& what) const
    {
        throw Error(describe(m_context.fileName, "the worksheet \"" + m_context.sheetName + "\" " + what));
    }

    // <row r="..">: cells without a reference of their own count from its first column.
    void startRow()
    {
        uint32_t r = 0;
        if (auto v = m_x.attribute("r"); v && !v->empty()) {
            if (!parseUnsigned(*v, r) || r == 0 || r > kMaxRows)
                bad("has a row number outside the sheet");
            m_row = r - 1;
        } else {
            if (m_anyRow && m_row + 1 >= kMaxRows)
                bad("has more rows than a sheet can hold");
            m_row = m_anyRow ? m_row + 1 : 0;
        }
        m_anyRow = true;
        m_nextCol = 0;
        if (m_x.selfClosing())
            m_x.skipElement();
    }

    void readCell()
    {
        uint32_t row = m_row, col = m_nextCol;
        CellData cell;
        const Type type = readCellAttributes(row, col, cell.style);
        if (!m_anyRow) {
            m_anyRow = true;
            m_row = row;
        }
        if (col >= kMaxColumns)
            bad("has more columns than a sheet can hold");
        m_nextCol = col + 1;
        m_row = row;  // a following cell without a reference continues this one's row
        const Content content = readContent();
        // An empty cell in the default format carries nothing of its own and is not part of
        // the used range (some producers store such cells up to the sheet's last one).
        if (!content.hasValue && !content.hasInline && !content.hasFormula && cell.style == 0)
            return;
        setValue(type, content, cell);
        FormulaData formula;
        if (content.hasFormula) {
            // Some producers write an empty <v/> for a result they never calculated; only a
            // text result can be empty.
            const bool hasResult = content.hasInline || (content.hasValue && (!content.raw.empty() || type == Type::String));
            cell.needsCalculation = !hasResult || content.alwaysCalc;
            if (m_wantsFormulas)
                describeFormula(content, row, col, hasResult, formula, cell);
        }
        m_sink.cell(row, col, cell);
    }

    // The formula of a cell for sinks that want formulas. The first cell of a shared group
    // carries its text: the group's body is reported before the cell itself.
    void describeFormula(const Content& content, uint32_t row, uint32_t col, bool hasResult, FormulaData& f,
                         CellData& cell)
    {
        f.form = FormulaData::Form::A1;
        f.hasResult = hasResult;
        f.alwaysCalc = content.alwaysCalc;
        f.body = content.formula;
        if (content.formulaType == Content::FormulaType::Shared && content.hasGroup) {
            if (!content.formula.empty()) {
                FormulaData group = f;
                group.kind = FormulaData::Kind::Group;
                group.group = content.group;
                group.range = parseRangeRef(content.ref).value_or(CellRange{row, col, row, col});
                group.range.firstRow = row;  // the body is written for this cell
                group.range.firstCol = col;
                m_sink.sharedFormula(group);
            }
            f.kind = FormulaData::Kind::Shared;
            f.group = content.group;
            f.body = {};
        } else if (content.formulaType == Content::FormulaType::Array) {
            f.array = true;
            f.range = parseRangeRef(content.ref).value_or(CellRange{row, col, row, col});
        }
        cell.formula = &f;
    }

    // The reference (r), style (s) and type (t) of the current <c>.
    Type readCellAttributes(uint32_t& row, uint32_t& col, uint32_t& style) const
    {
        Type type = Type::Number;
        for (const auto& a : m_x.attributes()) {
            if (a.name == "r") {
                bool hasRow = false;
                uint32_t refRow = row;
                if (!a.value.empty()) {
                    if (!parseCellRef(a.value, refRow, col, hasRow))
                        bad("has a cell reference outside the sheet (" + std::string(a.value.substr(0, 32)) + ")");
                    if (hasRow)
                        row = refRow;
                }
            } else if (a.name == "s") {
                uint32_t s = 0;
                if (parseUnsigned(a.value, s))
                    style = s;
            } else if (a.name == "t") {
                type = typeOf(a.value);
            }
        }
        return type;
    }

    static Type typeOf(std::string_view t)
    {
        return t == "s"           ? Type::Shared
               : t == "n"         ? Type::Number
               : t == "str"       ? Type::String
               : t == "inlineStr" ? Type::Inline
               : t == "b"         ? Type::Bool
               : t == "e"         ? Type::Error
               : t == "d"         ? Type::Date
                                  : Type::Other;
    }

    // Reads the current <c> to its end tag. Most cells are <c ..><v>..</v></c> or
    // <c ..><f>..</f><v>..</v></c>: those take the scanner's shortcuts.
    Content readContent()
    {
        Content content;
        m_inlineText.clear();
        if (m_x.selfClosing()) {
            m_x.next();  // the synthesised end tag
            return content;
        }
        usePrefixOfCurrentTag();
        std::string_view formula;
        if (m_x.tryTextElement(m_fName, formula)) {
            content.hasFormula = true;
            if (m_wantsFormulas) {
                m_formula.clear();
                XmlScanner::decode(formula, m_formula);
                content.formula = m_formula;
            }
        }
        bool done = false;
        if (m_x.tryTextElement(m_vName, content.raw)) {
            content.hasValue = true;
            done = m_x.tryEndTag(m_cName);
        } else if (content.hasFormula) {
            done = m_x.tryEndTag(m_cName);
        }
        if (!done) {
            readRestOfCell(content);
        } else if (content.raw.find_first_of("&\r") != std::string_view::npos) {
            m_value.clear();
            XmlScanner::decode(content.raw, m_value);
            content.raw = m_value;
        }
        return content;
    }

    // The shortcuts match names with the prefix the file uses ("x:c"); it is learnt from the
    // first cell and again whenever it changes.
    void usePrefixOfCurrentTag()
    {
        const std::string_view qname = m_x.qualifiedName();
        if (qname.size() != m_prefix.size() + 1 || !qname.starts_with(m_prefix)) {
            m_prefix.assign(qname.substr(0, qname.size() - 1));
            m_cName = m_prefix + "c";
            m_vName = m_prefix + "v";
            m_fName = m_prefix + "f";
        }
    }

    // The general path: whatever the cell holds after the shortcuts, in any order.
    void readRestOfCell(Content& content)
    {
        m_value.assign(content.raw);
        const uint32_t cellDepth = m_x.depth();
        for (;;) {
            const Token t = m_x.next();
            if (t == Token::EndTag && m_x.depth() < cellDepth)
                break;
            if (t == Token::End)
                m_x.fail("it ends early");
            if (t != Token::StartTag)
                continue;
            if (m_x.name() == "v") {
                content.hasValue = true;
                appendValueText();
            } else if (m_x.name() == "is") {
                content.hasInline = true;
                collectText(m_x, m_inlineText, "a cell");
            } else if (m_x.name() == "f") {
                content.hasFormula = true;
                readFormula(content);
            } else {
                m_x.skipElement();  // extensions
            }
        }
        content.raw = m_value;
    }

    // An <f> element with attributes (its start tag just read): shared and array formulas,
    // and ca="1" (calculate on every load).
    void readFormula(Content& content)
    {
        for (const auto& a : m_x.attributes()) {
            if (a.name == "ca") {
                content.alwaysCalc = isTrue(a.value);
            } else if (a.name == "t") {
                content.formulaType = a.value == "shared"  ? Content::FormulaType::Shared
                                      : a.value == "array" ? Content::FormulaType::Array
                                                           : Content::FormulaType::Normal;
            } else if (a.name == "si") {
                content.hasGroup = parseUnsigned(a.value, content.group);
            } else if (a.name == "ref") {
                m_formulaRef.assign(a.value);
                content.ref = m_formulaRef;
            }
        }
        if (!m_wantsFormulas) {
            m_x.skipElement();
            return;
        }
        m_formula.clear();
        const uint32_t depth = m_x.depth();
        for (;;) {
            const Token t = m_x.next();
            if (t == Token::Text) {
                m_x.appendText(m_formula);
                if (m_formula.size() > XmlScanner::kMaxToken)
                    m_x.fail("a formula is larger than this program accepts");
            } else if (t == Token::EndTag && m_x.depth() < depth) {
                break;
            } else if (t == Token::StartTag) {
                m_x.skipElement();
            } else if (t == Token::End) {
                m_x.fail("it ends early");
            }
        }
        content.formula = m_formula;
    }

    // The text of a <v> element (its start tag just read), appended to m_value.
    void appendValueText()
    {
        const uint32_t vDepth = m_x.depth();
        for (;;) {
            const Token t = m_x.next();
            if (t == Token::Text) {
                m_x.appendText(m_value);
                if (m_value.size() > XmlScanner::kMaxToken)
                    m_x.fail("a value is larger than this program accepts");
            } else if (t == Token::EndTag && m_x.depth() < vDepth) {
                return;
            } else if (t == Token::StartTag) {
                m_x.skipElement();
            } else if (t == Token::End) {
                m_x.fail("it ends early");
            }
        }
    }

    // Text with its _xHHHH_ escapes decoded.
    std::string_view unescaped(std::string_view s)
    {
        if (s.find("_x") == std::string_view::npos)
            return s;
        m_escaped.assign(s);
        decodeEscapes(m_escaped, 0);
        return m_escaped;
    }

    // The value the cell's type makes of its content.
    void setValue(Type type, const Content& content, CellData& cell)
    {
        const std::string_view raw = content.raw;
        if (type == Type::Inline || (!content.hasValue && content.hasInline)) {
            if (content.hasInline || content.hasValue) {
                cell.kind = CellKind::Text;
                cell.text = unescaped(content.hasInline ? std::string_view(m_inlineText) : raw);
            }
        } else if (!content.hasValue) {
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
            } else if (!parseUnsigned(raw, i) || i >= m_context.strings.size()) {
                bad("refers to shared string " + std::string(raw.substr(0, 20)) + ", which does not exist");
            } else {
                cell.kind = CellKind::Text;
                cell.text = m_context.strings[i];
            }
        } else if (type == Type::String || type == Type::Other) {
            cell.kind = CellKind::Text;
            cell.text = unescaped(raw);
        } else if (type == Type::Bool) {
            double n = 0;
            cell.kind = CellKind::Bool;
            cell.number = (isTrue(raw) || (parseNumber(raw, n) && n != 0)) ? 1 : 0;
        } else if (type == Type::Error) {
            cell.kind = CellKind::Error;
            cell.text = raw;
        } else if (type == Type::Date) {
            double serial = 0;
            if (isoToSerial(raw, m_context.date1904, serial)) {
                cell.kind = CellKind::Number;
                cell.number = serial;
            } else {
                cell.kind = CellKind::Text;
                cell.text = raw;
            }
        }
    }

    XmlScanner& m_x;
    CellSink& m_sink;
    const SheetContext& m_context;
    bool m_wantsFormulas;
    uint32_t m_row = 0;
    bool m_anyRow = false;
    uint32_t m_nextCol = 0;
    std::string m_value, m_inlineText, m_escaped, m_formula, m_formulaRef;
    // Names with the prefix the file uses, for the scanner's shortcuts.
    std::string m_prefix = "\x01", m_cName, m_vName, m_fName;
};

}  // namespace

void readSheetData(XmlScanner& x, CellSink& sink, const SheetContext& context)
{
    SheetDataReader(x, sink, context).run();
}

void collectText(XmlScanner& x, std::string& out, const char* what)
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
            if (out.size() > kMaxTextBytes)
                throw Error(describe(x.fileName(), std::string(what) + " holds more text than this program accepts"));
        } else {
            x.fail("it ends early");
        }
    }
}

std::optional<CellRange> parseRangeRef(std::string_view ref)
{
    const size_t colon = ref.find(':');
    CellRange r;
    bool hasRow = false;
    if (!parseCellRef(ref.substr(0, colon), r.firstRow, r.firstCol, hasRow) || !hasRow)
        return std::nullopt;
    r.lastRow = r.firstRow;
    r.lastCol = r.firstCol;
    if (colon != std::string_view::npos && (!parseCellRef(ref.substr(colon + 1), r.lastRow, r.lastCol, hasRow) || !hasRow))
        return std::nullopt;
    return r;
}

}  // namespace tabulon::engine::ooxml
