#include "NumFmt.h"

#include <cmath>
#include <vector>

#include "General.h"
#include "Section.h"
#include "SectionRenderer.h"

namespace tabulon::numfmt {

using namespace detail;

namespace {
// Codes longer than this are not something the application would accept; they render as General.
constexpr size_t kMaxCodeLength = 4096;
}  // namespace

class Format {
public:
    std::vector<Section> sections;
    std::vector<const Section*> numeric;
    const Section* textSection = nullptr;
    bool general = false;
    bool conditional = false;
};

size_t footprint(const Format& format)
{
    // The shared pointer's control block sits with the format (make_shared or not, about 16
    // bytes); strings of up to 15 bytes live inside their object.
    auto heap = [](const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; };
    size_t bytes = sizeof(Format) + 16 + format.sections.capacity() * sizeof(Section) +
                   format.numeric.capacity() * sizeof(const Section*);
    for (const Section& s : format.sections)
        bytes += s.toks.capacity() * sizeof(Token) + heap(s.pool) + heap(s.fracChars);
    return bytes;
}

namespace {

void build(Format& f, std::string_view code)
{
    if (code.size() > kMaxCodeLength) {
        f.general = true;
        return;
    }
    f.sections = detail::parseSections(code);
    auto& secs = f.sections;
    if (secs.size() == 4)
        f.textSection = &secs[3];
    else if (secs.back().kind == Kind::Text && secs.size() > 1)
        f.textSection = &secs.back();
    else if (secs.size() == 1 && secs[0].kind == Kind::Text)
        f.textSection = &secs[0];
    for (const Section& s : secs)
        if (&s != f.textSection)
            f.numeric.push_back(&s);
    if (f.numeric.empty() || (f.numeric.size() == 1 && f.numeric[0]->kind == Kind::Empty && secs.size() == 1)) {
        f.numeric.clear();
        f.general = true;
    } else if (f.numeric.size() == 1 && f.numeric[0]->kind == Kind::General && f.numeric[0]->toks.size() == 1
               && !f.numeric[0]->cond.present) {
        f.general = true;
    }
    f.conditional = !f.numeric.empty()
                    && (f.numeric[0]->cond.present || (f.numeric.size() > 1 && f.numeric[1]->cond.present));
}

// Picks the section for a number and whether that section shows a minus sign itself.
const Section* choose(const Format& f, double v, bool& showMinus)
{
    const auto& n = f.numeric;
    const size_t k = n.size();
    showMinus = false;
    if (!f.conditional) {
        if (k == 1) {
            showMinus = v < 0;
            return n[0];
        }
        if (v < 0)
            return n[1];
        if (v == 0 && k >= 3)
            return n[2];
        return n[0];
    }
    const Condition& c0 = n[0]->cond;
    const bool m0 = c0.present ? c0.matches(v) : (k >= 3 ? v > 0 : v >= 0);
    if (m0) {
        showMinus = v < 0 && !c0.meansNegative();
        return n[0];
    }
    if (k == 1)
        return nullptr;
    const Condition& c1 = n[1]->cond;
    const bool m1 = c1.present ? c1.matches(v) : (k >= 3 ? v < 0 : true);
    if (m1) {
        bool negativeSection;
        if (c1.present)
            negativeSection = c1.meansNegative();
        else
            negativeSection = k >= 3 || c0.meansNonNegative();
        showMinus = v < 0 && !negativeSection;
        return n[1];
    }
    if (k >= 3) {
        showMinus = v < 0;
        return n[2];
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<const Format> compile(std::string_view code)
{
    auto f = std::make_shared<Format>();
    build(*f, code);
    return f;
}

std::string_view builtinCode(unsigned id)
{
    static constexpr std::string_view kCodes[50] = {
        "General",
        "0",
        "0.00",
        "#,##0",
        "#,##0.00",
        "\"$\"#,##0_);\\(\"$\"#,##0\\)",
        "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
        "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",
        "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
        "0%",
        "0.00%",
        "0.00E+00",
        "# ?/?",
        "# ?\?/?\?",
        "m/d/yyyy",
        "d-mmm-yy",
        "d-mmm",
        "mmm-yy",
        "h:mm AM/PM",
        "h:mm:ss AM/PM",
        "h:mm",
        "h:mm:ss",
        "m/d/yyyy h:mm",
        {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},
        "#,##0 ;(#,##0)",
        "#,##0 ;[Red](#,##0)",
        "#,##0.00;(#,##0.00)",
        "#,##0.00;[Red](#,##0.00)",
        "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",
        "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)",
        "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)",
        "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)",
        "mm:ss",
        "[h]:mm:ss",
        "mm:ss.0",
        "##0.0E+0",
        "@",
    };
    if (id < 50 && !kCodes[id].empty())
        return kCodes[id];
    return "General";
}

void formatNumber(const Format& format, double value, bool date1904, std::string& out)
{
    if (format.general || !std::isfinite(value))
        return appendGeneral(value, out);
    bool showMinus = false;
    const Section* s = choose(format, value, showMinus);
    if (!s)
        return appendGeneral(value, out);
    const double x = std::fabs(value);
    const size_t start = out.size();
    switch (s->kind) {
    case Kind::Empty:
        return;
    case Kind::Date:
        // A value no date can show is written through General so it is not lost.
        if ((value < 0 && showMinus) || !renderDate(*s, x, date1904, out)) {
            out.resize(start);
            appendGeneral(value, out);
        }
        return;
    case Kind::Text:
    case Kind::General:
    case Kind::Number:
    case Kind::Scientific:
    case Kind::Fraction:
        if (renderNumber(*s, x, out) && showMinus)
            out.insert(start, 1, '-');
        return;
    }
}

void formatText(const Format& format, std::string_view text, std::string& out)
{
    if (!format.textSection) {
        out += text;
        return;
    }
    if (format.textSection->kind == Kind::Empty)
        return;
    renderText(*format.textSection, text, out);
}

std::string render(double value, std::string_view code, bool date1904)
{
    std::string out;
    formatNumber(*compile(code), value, date1904, out);
    return out;
}

std::string renderText(std::string_view text, std::string_view code)
{
    std::string out;
    formatText(*compile(code), text, out);
    return out;
}

bool isDateFormat(const Format& format)
{
    return !format.numeric.empty() && format.numeric[0]->kind == Kind::Date;
}

}  // namespace tabulon::numfmt
