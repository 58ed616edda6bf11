#include "Value.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "Dates.h"
#include "io/Utf.h"
#include "numfmt/Decimal.h"

namespace tabulon::formula {

namespace {
constexpr std::pair<ErrorCode, std::string_view> kErrors[] = {
    {ErrorCode::Null, "#NULL!"}, {ErrorCode::Div0, "#DIV/0!"}, {ErrorCode::Value, "#VALUE!"},
    {ErrorCode::Ref, "#REF!"},   {ErrorCode::Name, "#NAME?"},  {ErrorCode::Num, "#NUM!"},
    {ErrorCode::NA, "#N/A"},     {ErrorCode::GettingData, "#GETTING_DATA"},
};

bool equalsAsciiNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view trimSpaces(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}
}  // namespace

std::string_view errorLiteral(ErrorCode code)
{
    for (const auto& [c, text] : kErrors)
        if (c == code)
            return text;
    return "#N/A";
}

std::optional<ErrorCode> errorFromLiteral(std::string_view literal)
{
    for (const auto& [c, text] : kErrors)
        if (equalsAsciiNoCase(text, literal))
            return c;
    return std::nullopt;
}

const Value& Array::at(uint32_t r, uint32_t c) const
{
    return cells[size_t(r) * cols + c];
}

Value Value::ref(const Area& area)
{
    return ref(std::make_shared<const std::vector<Area>>(1, area));
}

bool Value::operator==(const Value& o) const
{
    if (m_type != o.m_type)
        return false;
    switch (m_type) {
    case Type::Blank: return true;
    case Type::Number:
    case Type::Bool:
    case Type::Error: return m_number == o.m_number;
    case Type::Text: return m_text == o.m_text;
    case Type::Array: return m_array->rows == o.m_array->rows && m_array->cols == o.m_array->cols && m_array->cells == o.m_array->cells;
    case Type::Ref: return *m_areas == *o.m_areas;
    }
    return false;
}

// ---- typed text to numbers ----

namespace {

// A plain decimal with optional sign, thousands separators, currency sign, percent and
// exponent, as typed into a cell.
std::optional<double> parsePlainNumber(std::string_view s)
{
    bool negative = false, percent = false, parens = false;
    if (!s.empty() && s.front() == '(' && s.back() == ')') {
        parens = true;
        s = trimSpaces(s.substr(1, s.size() - 2));
    }
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s = trimSpaces(s.substr(1));
    }
    if (!s.empty() && s.front() == '$')
        s = trimSpaces(s.substr(1));
    if (!negative && !parens && !s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s = trimSpaces(s.substr(1));
    }
    if (!s.empty() && s.back() == '%') {
        percent = true;
        s = trimSpaces(s.substr(0, s.size() - 1));
    }
    if (s.empty())
        return std::nullopt;
    std::string digits;
    digits.reserve(s.size());
    size_t i = 0;
    bool seenDigit = false, seenPoint = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            seenDigit = true;
        } else if (c == ',' && seenDigit && !seenPoint) {
            // Thousands separators are followed by exactly three digits.
            for (size_t k = 1; k <= 3; ++k)
                if (i + k >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i + k])))
                    return std::nullopt;
            if (i + 4 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 4])))
                return std::nullopt;
        } else if (c == '.' && !seenPoint) {
            digits += c;
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit && !(seenPoint && digits.size() > 1))
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        digits += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            digits += s[i++];
        size_t expDigits = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            digits += s[i++];
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    double v = 0;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || !std::isfinite(v))
        return std::nullopt;
    if (percent)
        v /= 100;
    return (negative || parens) ? -v : v;
}

constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};

int monthFromName(std::string_view word)
{
    if (word.size() < 3)
        return 0;
    std::string lower;
    for (char c : word)
        lower += char(std::tolower(static_cast<unsigned char>(c)));
    for (int m = 0; m < 12; ++m)
        if (lower.compare(0, 3, kMonths[m]) == 0)
            return m + 1;
    return 0;
}

// Splits a date/time text into numbers and words; separators kept apart.
struct Piece {
    enum Kind { Num, Word, Sep } kind;
    std::string_view text;
    int number = 0;
};

std::optional<double> parseTime(std::string_view s)
{
    // h:mm[:ss[.fff]] [AM|PM]
    s = trimSpaces(s);
    int ampm = 0;
    if (s.size() >= 2) {
        std::string_view tail = s.substr(s.size() - 2);
        if (equalsAsciiNoCase(tail, "AM"))
            ampm = 1;
        else if (equalsAsciiNoCase(tail, "PM"))
            ampm = 2;
        if (ampm)
            s = trimSpaces(s.substr(0, s.size() - 2));
    }
    double parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i <= s.size() && count < 3) {
        size_t j = i;
        while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || (count == 2 && s[j] == '.')))
            ++j;
        if (j == i)
            return std::nullopt;
        double v = 0;
        auto res = std::from_chars(s.data() + i, s.data() + j, v);
        if (res.ec != std::errc())
            return std::nullopt;
        parts[count++] = v;
        if (j == s.size())
            break;
        if (s[j] != ':')
            return std::nullopt;
        i = j + 1;
    }
    if (count < 2 && !(count == 1 && ampm))
        return std::nullopt;
    double h = parts[0];
    if (ampm) {
        if (h > 12 || h < 1)
            return std::nullopt;
        if (h == 12)
            h = 0;
        if (ampm == 2)
            h += 12;
    }
    if (parts[1] >= 60 || parts[2] >= 60)
        return std::nullopt;
    return (h * 3600 + parts[1] * 60 + parts[2]) / 86400.0;
}

std::optional<double> parseDate(std::string_view s, bool date1904)
{
    std::vector<Piece> pieces;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isdigit(c)) {
            size_t j = i;
            int v = 0;
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])) && j - i < 6)
                v = v * 10 + (s[j++] - '0');
            pieces.push_back({Piece::Num, s.substr(i, j - i), v});
            i = j;
        } else if (std::isalpha(c)) {
            size_t j = i;
            while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j])))
                ++j;
            pieces.push_back({Piece::Word, s.substr(i, j - i)});
            i = j;
        } else if (c == '-' || c == '/' || c == ' ' || c == ',' || c == '.') {
            size_t j = i;
            while (j < s.size() && (s[j] == ' ' || s[j] == ',' || (j == i && (s[j] == '-' || s[j] == '/' || s[j] == '.'))))
                ++j;
            i = j;
        } else {
            return std::nullopt;
        }
    }
    int year = -1, month = 0, day = 0;
    auto fullYear = [](const Piece& p) { return p.text.size() <= 2 ? (p.number < 30 ? 2000 + p.number : 1900 + p.number) : p.number; };
    if (pieces.size() == 3) {
        const Piece &a = pieces[0], &b = pieces[1], &c = pieces[2];
        if (a.kind == Piece::Num && b.kind == Piece::Num && c.kind == Piece::Num) {
            if (a.text.size() == 4) {  // yyyy-mm-dd
                year = a.number, month = b.number, day = c.number;
            } else {  // m/d/yyyy (en-US)
                month = a.number, day = b.number, year = fullYear(c);
            }
        } else if (a.kind == Piece::Num && b.kind == Piece::Word && c.kind == Piece::Num) {  // 31-Jan-2024
            day = a.number, month = monthFromName(b.text), year = fullYear(c);
        } else if (a.kind == Piece::Word && b.kind == Piece::Num && c.kind == Piece::Num) {  // Jan 31, 2024
            month = monthFromName(a.text), day = b.number, year = fullYear(c);
        } else {
            return std::nullopt;
        }
    } else if (pieces.size() == 2) {
        // Without a year: the current year in the application; we take m/d only with a word
        // month ("31-Jan", "Jan-31") against year 1900 would be wrong, so these are rejected.
        return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1900 || year > 9999)
        return std::nullopt;
    const Ymd check = civilFromDays(daysFromCivil(year, month, day));
    if (check.day != day && !(year == 1900 && month == 2 && day == 29))
        return std::nullopt;
    if (year == 1900 && month == 2 && day == 29 && !date1904)
        return 60.0;
    return serialFromDate(year, month, day, date1904);
}
}  // namespace

std::optional<double> parseNumberText(std::string_view text, bool date1904)
{
    const std::string_view s = trimSpaces(text);
    if (s.empty())
        return std::nullopt;
    if (auto v = parsePlainNumber(s))
        return v;
    if (s.find(':') != std::string_view::npos) {
        // A time, or a date followed by a time.
        size_t split = s.find(':');
        while (split > 0 && s[split - 1] != ' ')
            --split;
        const std::string_view datePart = trimSpaces(s.substr(0, split));
        auto time = parseTime(s.substr(split));
        if (!time)
            return std::nullopt;
        if (datePart.empty())
            return time;
        auto date = parseDate(datePart, date1904);
        if (!date)
            return std::nullopt;
        return *date + *time;
    }
    return parseDate(s, date1904);
}

NumberOrError toNumber(const Value& v, bool date1904)
{
    switch (v.type()) {
    case Value::Type::Blank: return {0, std::nullopt};
    case Value::Type::Number:
    case Value::Type::Bool: return {v.asNumber(), std::nullopt};
    case Value::Type::Error: return {0, v.asError()};
    case Value::Type::Text:
        if (auto n = parseNumberText(v.asText(), date1904))
            return {*n, std::nullopt};
        return {0, ErrorCode::Value};
    default: return {0, ErrorCode::Value};
    }
}

namespace {
// Numbers in text as the application converts them in formulas: up to 15 significant
// digits, no width limit, scientific only for very large or very small magnitudes.
void appendNumberText(double v, std::string& out)
{
    if (!std::isfinite(v)) {
        out += "#NUM!";
        return;
    }
    if (v == 0) {
        out += '0';
        return;
    }
    if (v < 0) {
        out += '-';
        v = -v;
    }
    numfmt::Decimal d = numfmt::Decimal::fromDouble(v);
    if (d.exp >= 21 || d.exp < -9) {
        out += d.d[0];
        if (d.n > 1) {
            out += '.';
            out.append(d.d + 1, size_t(d.n - 1));
        }
        out += 'E';
        out += d.exp < 0 ? '-' : '+';
        const int e = d.exp < 0 ? -d.exp : d.exp;
        if (e < 10)
            out += '0';
        out += std::to_string(e);
        return;
    }
    if (d.exp < 0) {
        out += "0.";
        out.append(size_t(-d.exp - 1), '0');
        out.append(d.d, size_t(d.n));
        return;
    }
    for (int i = 0; i <= d.exp; ++i)
        out += i < d.n ? d.d[i] : '0';
    if (d.n > d.exp + 1) {
        out += '.';
        out.append(d.d + d.exp + 1, size_t(d.n - d.exp - 1));
    }
}
}  // namespace

std::string toText(const Value& v)
{
    switch (v.type()) {
    case Value::Type::Number: {
        std::string out;
        appendNumberText(v.asNumber(), out);
        return out;
    }
    case Value::Type::Bool: return v.asBool() ? "TRUE" : "FALSE";
    case Value::Type::Text: return v.asText();
    case Value::Type::Error: return std::string(errorLiteral(v.asError()));
    default: return {};
    }
}

BoolOrError toBool(const Value& v)
{
    switch (v.type()) {
    case Value::Type::Blank: return {false, std::nullopt};
    case Value::Type::Number:
    case Value::Type::Bool: return {v.asNumber() != 0, std::nullopt};
    case Value::Type::Error: return {false, v.asError()};
    case Value::Type::Text:
        if (equalsAsciiNoCase(v.asText(), "TRUE"))
            return {true, std::nullopt};
        if (equalsAsciiNoCase(v.asText(), "FALSE"))
            return {false, std::nullopt};
        return {false, ErrorCode::Value};
    default: return {false, ErrorCode::Value};
    }
}

namespace {
using engine::nextCodePoint;

void appendUtf8(char32_t cp, std::string& out)
{
    engine::appendCodePoint(uint32_t(cp), out);
}

char32_t toUpperCp(char32_t c)
{
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    if (c >= 0x100 && c <= 0x17F && (c & 1) && c != 0x131 && c != 0x149 && c != 0x17F)
        return c - 1;  // Latin Extended-A pairs (approximate)
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 32;  // Greek
    if (c >= 0x430 && c <= 0x44F)
        return c - 32;  // Cyrillic
    if (c >= 0x450 && c <= 0x45F)
        return c - 80;
    return c;
}
}  // namespace

std::string upperCase(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += char(c >= 'a' && c <= 'z' ? c - 32 : c);
            ++i;
        } else {
            appendUtf8(toUpperCp(nextCodePoint(s, i)), out);
        }
    }
    return out;
}

std::string foldCase(std::string_view s)
{
    return upperCase(s);
}

int compareScalars(const Value& a, const Value& b)
{
    auto rank = [](const Value& v) {
        switch (v.type()) {
        case Value::Type::Number: return 0;
        case Value::Type::Text: return 1;
        case Value::Type::Bool: return 2;
        default: return 3;
        }
    };
    // A blank takes the other side's type.
    if (a.isBlank() && b.isBlank())
        return 0;
    if (a.isBlank()) {
        if (b.isText())
            return b.asText().empty() ? 0 : -1;
        return b.isNumber() || b.isBool() ? (0 < b.asNumber() ? -1 : 0 == b.asNumber() ? 0 : 1) : 0;
    }
    if (b.isBlank())
        return -compareScalars(b, a);
    const int ra = rank(a), rb = rank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (a.isText()) {
        const std::string fa = foldCase(a.asText()), fb = foldCase(b.asText());
        const int c = fa.compare(fb);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return a.asNumber() < b.asNumber() ? -1 : a.asNumber() > b.asNumber() ? 1 : 0;
}

}  // namespace tabulon::formula
