#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../Cell.h"
#include "../io/XmlScanner.h"

namespace tabulon::engine {

// The data styles of an OpenDocument spreadsheet (number:number-style, date-style, ...)
// translated into number format codes, and the cell styles that name them. Fed with the
// tokens of styles.xml and of content.xml's automatic styles; the cells then render their
// values through the codes as the workbook's other formats do.
class OdsStyles {
public:
    // A cell style that names no data style, or one this program cannot translate.
    static constexpr uint32_t kGeneral = 0xFFFFFFFF;
    static constexpr uint32_t kUntranslated = 0xFFFFFFFE;

    // Styles a file may define; beyond them the rest are ignored (rendered as General).
    static constexpr size_t kMaxStyles = 100000;

    void start(const XmlScanner& x);
    void end(std::string_view name);
    void text(std::string_view decoded);
    // True while the element being read has text that belongs to a style.
    bool wantsText() const { return m_textTarget != nullptr; }

    // Resolves cell styles to format codes and fills `table`: one XF per cell style.
    void finish(StyleTable& table);
    // The XF of a cell style, kGeneral when it names no data style, kUntranslated when
    // its data style has parts no format code can express. Valid after finish().
    uint32_t xfOf(std::string_view cellStyle) const;

    // Data styles used by some cell style that could not be translated, with the reason.
    const std::vector<std::string>& untranslated() const { return m_untranslated; }

private:
    enum class Family : uint8_t { Number, Percentage, Currency, Date, Time, Boolean, Text };
    struct Map {
        std::string condition, styleName;
    };
    struct DataStyle {
        Family family = Family::Number;
        std::string body;  // the code of its own section
        std::vector<Map> maps;
        bool elapsed = false;     // time-style with truncate-on-overflow="false"
        bool japanese = false;    // the era in the Japanese calendar
        std::string problem;      // non-empty: a part no code can express
    };
    struct CellStyle {
        std::string parent, dataStyle;
        bool hasDataStyle = false;
    };
    // number:number and its embedded texts, turned into placeholders at its end.
    struct NumberPart {
        int decimals = -1, minDecimals = -1, minInteger = 0;
        bool grouping = false;
        double factor = 1;
        std::vector<std::pair<int, std::string>> embedded;  // position from the point, text
    };

    void appendLiteral(std::string_view text);
    void numberEnd();
    std::string codeOf(const std::string& dataStyle);
    std::string sectionOf(const DataStyle& style) const;

    std::unordered_map<std::string, DataStyle> m_data;
    std::unordered_map<std::string, CellStyle> m_cells;
    std::string m_defaultDataStyle;  // style:default-style of family table-cell

    DataStyle* m_current = nullptr;  // the data style being read
    std::string* m_textTarget = nullptr;
    std::string m_text;
    enum class TextUse : uint8_t { None, Literal, Embedded } m_textUse = TextUse::None;
    bool m_inNumber = false;
    bool m_sawTimeUnit = false;
    int m_embeddedPosition = 0;
    NumberPart m_number;
    uint32_t m_defaultXf = kGeneral;

    std::unordered_map<std::string, uint32_t> m_xf;
    std::vector<std::string> m_untranslated;
};

}  // namespace tabulon::engine
