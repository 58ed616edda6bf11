#include "OdsStyles.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tabulon::engine {
namespace {

// A code longer than this renders as General anyway; style text beyond it is dropped.
constexpr size_t kMaxBody = 4096;
// Placeholders one number part may ask for; more add nothing a cell can show.
constexpr int kMaxDigits = 30;
// Parent links followed from a cell style to the one that names its data style.
constexpr int kMaxParents = 32;

int toInt(std::string_view text, int fallback)
{
    int value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() ? value : fallback;
}

// "value()>=0" and the like: the condition in the brackets of a format code section.
bool translateCondition(std::string_view text, std::string& out)
{
    auto trim = [](std::string_view& s) {
        while (!s.empty() && s.front() == ' ')
            s.remove_prefix(1);
    };
    trim(text);
    if (!text.starts_with("value()"))
        return false;
    text.remove_prefix(7);
    trim(text);
    std::string_view op;
    for (std::string_view candidate : {"<=", ">=", "!=", "<>", "<", ">", "="}) {
        if (text.starts_with(candidate)) {
            op = candidate;
            break;
        }
    }
    if (op.empty())
        return false;
    text.remove_prefix(op.size());
    trim(text);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double value = 0;
    const char* first = text.data() + (!text.empty() && text.front() == '+' ? 1 : 0);
    const auto res = std::from_chars(first, text.data() + text.size(), value);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(value))
        return false;
    out = "[";
    out += op == "!=" ? "<>" : op;
    out += text.substr(static_cast<size_t>(first - text.data()));
    out += "]";
    return true;
}

}  // namespace

void OdsStyles::appendLiteral(std::string_view text)
{
    if (!m_current || m_current->body.size() + text.size() > kMaxBody)
        return;
    std::string& body = m_current->body;
    const bool percent = m_current->family == Family::Percentage;
    // Text right after a quoted literal continues it: "-$" rather than "-""$".
    bool open = body.size() >= 2 && body.back() == '"' && body[body.size() - 2] != '\\';
    if (open)
        body.pop_back();
    for (char c : text) {
        if ((c == '%' && percent) || c == '"') {
            // The percent sign of a percentage style scales the value, as % does in a code.
            if (open)
                body += '"';
            open = false;
            body += c == '"' ? "\\\"" : "%";
            continue;
        }
        if (!open)
            body += '"';
        open = true;
        body += c;
    }
    if (open)
        body += '"';
}

void OdsStyles::start(const XmlScanner& x)
{
    const std::string_view name = x.name();
    std::string decoded;
    auto attr = [&](std::string_view local) -> const std::string& {
        decoded.clear();
        if (const auto raw = x.attribute(local))
            XmlScanner::decode(*raw, decoded);
        return decoded;
    };
    auto has = [&](std::string_view local) { return x.attribute(local).has_value(); };
    auto isLong = [&] { return attr("style") == "long"; };

    if (!m_current) {
        static constexpr std::pair<std::string_view, Family> kFamilies[] = {
            {"number-style", Family::Number}, {"percentage-style", Family::Percentage},
            {"currency-style", Family::Currency}, {"date-style", Family::Date},
            {"time-style", Family::Time}, {"boolean-style", Family::Boolean}, {"text-style", Family::Text},
        };
        for (const auto& [element, family] : kFamilies) {
            if (name != element)
                continue;
            const std::string styleName = attr("name");
            if (m_data.size() >= kMaxStyles && !m_data.count(styleName))
                return;
            DataStyle& style = m_data[styleName];
            style = DataStyle{};
            style.family = family;
            style.elapsed = family == Family::Time && attr("truncate-on-overflow") == "false";
            m_current = &style;
            m_sawTimeUnit = false;
            return;
        }
        if (name == "style" || name == "default-style") {
            if (attr("family") != "table-cell")
                return;
            const bool dflt = name == "default-style";
            if (dflt) {
                if (has("data-style-name"))
                    m_defaultDataStyle = attr("data-style-name");
                return;
            }
            const std::string styleName = attr("name");
            if (m_cells.size() >= kMaxStyles && !m_cells.count(styleName))
                return;
            CellStyle& cell = m_cells[styleName];
            cell = CellStyle{};
            cell.parent = attr("parent-style-name");
            cell.hasDataStyle = has("data-style-name");
            cell.dataStyle = attr("data-style-name");
        }
        return;
    }

    DataStyle& s = *m_current;
    auto unit = [&](std::string_view shortForm, std::string_view longForm) {
        // In a time style that does not wrap, the first unit counts the whole duration.
        const std::string_view token = isLong() ? longForm : shortForm;
        if (s.elapsed && !m_sawTimeUnit) {
            s.body += '[';
            s.body += token;
            s.body += ']';
        } else {
            s.body += token;
        }
        m_sawTimeUnit = true;
    };
    auto startText = [&](TextUse use) {
        m_text.clear();
        m_textUse = use;
        m_textTarget = &m_text;
    };
    if (s.body.size() > kMaxBody)
        return;
    if (name == "number" && !m_inNumber) {
        m_inNumber = true;
        m_number = NumberPart{};
        if (has("decimal-places"))
            m_number.decimals = std::clamp(toInt(attr("decimal-places"), 0), 0, kMaxDigits);
        if (has("min-decimal-places"))
            m_number.minDecimals = std::clamp(toInt(attr("min-decimal-places"), 0), 0, kMaxDigits);
        m_number.minInteger = std::clamp(toInt(attr("min-integer-digits"), 0), 0, kMaxDigits);
        m_number.grouping = attr("grouping") == "true";
        if (has("display-factor")) {
            double factor = 1;
            const std::string& text = attr("display-factor");
            std::from_chars(text.data(), text.data() + text.size(), factor);
            m_number.factor = factor;
        }
        if (has("decimal-replacement") && s.problem.empty())
            s.problem = "a decimal replacement text";
    } else if (name == "embedded-text" && m_inNumber) {
        m_embeddedPosition = std::clamp(toInt(attr("position"), 0), 0, kMaxDigits);
        startText(TextUse::Embedded);
    } else if (name == "text") {
        startText(TextUse::Literal);
    } else if (name == "currency-symbol") {
        startText(TextUse::Literal);
    } else if (name == "text-content") {
        s.body += '@';
    } else if (name == "boolean") {
        s.body += "\"TRUE\";\"TRUE\";\"FALSE\"";
    } else if (name == "scientific-number") {
        const int minInt = std::clamp(toInt(attr("min-integer-digits"), 1), 1, kMaxDigits);
        const int interval = std::clamp(toInt(attr("exponent-interval"), 1), 1, kMaxDigits);
        const int decimals = std::clamp(toInt(attr("decimal-places"), 0), 0, kMaxDigits);
        const int minDecimals = std::clamp(toInt(attr("min-decimal-places"), decimals), 0, decimals);
        s.body.append(static_cast<size_t>(std::max(0, interval - minInt)), '#');
        s.body.append(static_cast<size_t>(minInt), '0');
        if (decimals > 0) {
            s.body += '.';
            s.body.append(static_cast<size_t>(minDecimals), '0');
            s.body.append(static_cast<size_t>(decimals - minDecimals), '#');
        }
        s.body += attr("forced-exponent-sign") == "false" ? "E-" : "E+";
        s.body.append(static_cast<size_t>(std::clamp(toInt(attr("min-exponent-digits"), 1), 1, kMaxDigits)), '0');
    } else if (name == "fraction") {
        if (has("min-integer-digits")) {
            const int minInt = std::clamp(toInt(attr("min-integer-digits"), 0), 0, kMaxDigits);
            s.body += minInt == 0 ? std::string("#") : std::string(static_cast<size_t>(minInt), '0');
            s.body += ' ';
        }
        s.body.append(static_cast<size_t>(std::clamp(toInt(attr("min-numerator-digits"), 1), 1, 9)), '?');
        s.body += '/';
        const int fixed = toInt(attr("denominator-value"), 0);
        if (fixed > 0) {
            s.body += std::to_string(fixed);
        } else {
            int digits = std::clamp(toInt(attr("min-denominator-digits"), 1), 1, 9);
            const int maxDen = toInt(attr("max-denominator-value"), 0);
            if (maxDen > 0)
                digits = std::max(digits, static_cast<int>(std::to_string(maxDen).size()));
            s.body.append(static_cast<size_t>(std::min(digits, 9)), '?');
        }
    } else if (name == "day") {
        s.body += isLong() ? "dd" : "d";
    } else if (name == "month") {
        if (attr("textual") == "true")
            s.body += isLong() ? "mmmm" : "mmm";
        else
            s.body += isLong() ? "mm" : "m";
    } else if (name == "year") {
        if (attr("calendar") == "gengou") {
            s.japanese = true;
            s.body += isLong() ? "ee" : "e";
        } else {
            s.body += isLong() ? "yyyy" : "yy";
        }
    } else if (name == "era") {
        if (attr("calendar") == "gengou") {
            s.japanese = true;
            s.body += isLong() ? "ggg" : "g";
        } else if (s.problem.empty()) {
            s.problem = "an era outside the Japanese calendar";
        }
    } else if (name == "day-of-week") {
        s.body += isLong() ? "dddd" : "ddd";
    } else if (name == "week-of-year" || name == "quarter") {
        if (s.problem.empty())
            s.problem = name == "quarter" ? "a quarter of the year" : "a week of the year";
    } else if (name == "hours") {
        unit("h", "hh");
    } else if (name == "minutes") {
        unit("m", "mm");
    } else if (name == "seconds") {
        unit("s", "ss");
        const int decimals = std::clamp(toInt(attr("decimal-places"), 0), 0, 3);
        if (decimals > 0) {
            s.body += '.';
            s.body.append(static_cast<size_t>(decimals), '0');
        }
    } else if (name == "am-pm") {
        s.body += "AM/PM";
    } else if (name == "map") {
        if (s.maps.size() < 3)
            s.maps.push_back({attr("condition"), attr("apply-style-name")});
    }
}

void OdsStyles::text(std::string_view decoded)
{
    if (m_textTarget && m_textTarget->size() < kMaxBody)
        m_textTarget->append(decoded.substr(0, kMaxBody - m_textTarget->size()));
}

void OdsStyles::end(std::string_view name)
{
    if (!m_current)
        return;
    if (m_textTarget && (name == "text" || name == "currency-symbol" || name == "embedded-text")) {
        if (m_textUse == TextUse::Embedded)
            m_number.embedded.emplace_back(m_embeddedPosition, m_text);
        else
            appendLiteral(m_text);
        m_textTarget = nullptr;
        m_textUse = TextUse::None;
        return;
    }
    if (name == "number" && m_inNumber) {
        m_inNumber = false;
        numberEnd();
        return;
    }
    if (name.ends_with("-style"))
        m_current = nullptr;
}

void OdsStyles::numberEnd()
{
    DataStyle& s = *m_current;
    const NumberPart& n = m_number;
    if (n.decimals < 0 && n.minInteger <= 1 && !n.grouping && n.embedded.empty() && n.factor == 1) {
        // No decimal places given: the standard format, General.
        s.body += "General";
        return;
    }
    int places = std::max(n.minInteger, 1);
    for (const auto& [position, text] : n.embedded)
        places = std::max(places, position + 1);
    if (n.grouping)
        places = std::max(places, 4);
    for (int i = places - 1; i >= 0; --i) {
        s.body += i < n.minInteger ? '0' : '#';
        if (n.grouping && i == 3)
            s.body += ',';
        for (const auto& [position, text] : n.embedded)
            if (position == i)
                appendLiteral(text);
    }
    const int decimals = std::max(n.decimals, 0);
    if (decimals > 0) {
        const int minDecimals = n.minDecimals < 0 ? decimals : std::min(n.minDecimals, decimals);
        s.body += '.';
        s.body.append(static_cast<size_t>(minDecimals), '0');
        s.body.append(static_cast<size_t>(decimals - minDecimals), '#');
    }
    // A display factor of 1000 or a power of it divides as trailing commas do.
    double factor = n.factor;
    int commas = 0;
    while (factor >= 1000 && commas < 6) {
        factor /= 1000;
        ++commas;
    }
    if (factor != 1 && s.problem.empty())
        s.problem = "a display factor that is not a power of 1000";
    s.body.append(static_cast<size_t>(commas), ',');
}

std::string OdsStyles::sectionOf(const DataStyle& style) const
{
    return (style.japanese ? "[$-411]" : "") + style.body;
}

std::string OdsStyles::codeOf(const std::string& dataStyle)
{
    const auto it = m_data.find(dataStyle);
    if (it == m_data.end())
        return "General";
    const DataStyle& style = it->second;
    std::string problem = style.problem;
    std::vector<std::pair<std::string, std::string>> mapped;  // condition, section
    for (const Map& map : style.maps) {
        const auto target = m_data.find(map.styleName);
        std::string condition;
        if (target == m_data.end() || !translateCondition(map.condition, condition)) {
            if (problem.empty())
                problem = "the condition \"" + map.condition + "\"";
            continue;
        }
        if (problem.empty())
            problem = target->second.problem;
        mapped.emplace_back(condition, sectionOf(target->second));
    }
    if (!problem.empty())
        return "\x01" + problem;
    const std::string own = sectionOf(style);
    if (mapped.empty())
        return own.empty() ? "General" : own;
    const bool textOwn = style.family == Family::Text;
    std::string code;
    if (mapped.size() == 1 && mapped[0].first == "[>=0]") {
        // The usual pair: the mapped style for positive numbers and zero, the style's own
        // section (with its own minus sign, if any) for negative ones.
        code = mapped[0].second + ";" + own;
        return code;
    }
    if (mapped.size() >= 2 && mapped[0].first == "[>0]" && mapped[1].first == "[<0]") {
        code = mapped[0].second + ";" + mapped[1].second + ";";
        if (mapped.size() == 3 && mapped[2].first == "[=0]")
            code += mapped[2].second;
        else if (!textOwn)
            code += own;
        if (textOwn)
            code += ";" + own;
        return code;
    }
    // Other conditions keep their brackets; a code holds two at most.
    for (size_t i = 0; i < mapped.size() && i < 2; ++i)
        code += mapped[i].first + mapped[i].second + ";";
    return code + own;
}

void OdsStyles::finish(StyleTable& table)
{
    table = StyleTable{};
    m_xf.clear();
    std::unordered_map<std::string, uint32_t> byDataStyle, byCode;
    auto xfOfData = [&](const std::string& dataStyle) -> uint32_t {
        if (dataStyle.empty() || !m_data.count(dataStyle))
            return kGeneral;
        if (const auto it = byDataStyle.find(dataStyle); it != byDataStyle.end())
            return it->second;
        const std::string code = codeOf(dataStyle);
        uint32_t xf = kGeneral;
        if (!code.empty() && code[0] == '\x01') {
            xf = kUntranslated;
            m_untranslated.push_back(dataStyle + ": " + code.substr(1));
        } else if (code != "General") {
            auto [at, added] = byCode.emplace(code, static_cast<uint32_t>(table.customFormats.size() + 164));
            if (added)
                table.customFormats.emplace(at->second, code);
            xf = static_cast<uint32_t>(table.xfFormatIds.size());
            table.xfFormatIds.push_back(at->second);
        }
        byDataStyle.emplace(dataStyle, xf);
        return xf;
    };
    for (const auto& [name, cell] : m_cells) {
        const CellStyle* at = &cell;
        std::string dataStyle = m_defaultDataStyle;
        for (int depth = 0; at && depth < kMaxParents; ++depth) {
            if (at->hasDataStyle) {
                dataStyle = at->dataStyle;
                break;
            }
            const auto parent = m_cells.find(at->parent);
            at = parent == m_cells.end() ? nullptr : &parent->second;
        }
        m_xf.emplace(name, xfOfData(dataStyle));
    }
    m_defaultXf = xfOfData(m_defaultDataStyle);
}

uint32_t OdsStyles::xfOf(std::string_view cellStyle) const
{
    if (cellStyle.empty())
        return m_defaultXf;
    const auto it = m_xf.find(std::string(cellStyle));
    return it == m_xf.end() ? m_defaultXf : it->second;
}

}  // namespace tabulon::engine
