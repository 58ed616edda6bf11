#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../BookReader.h"
#include "../io/XmlScanner.h"
#include "OdsStyles.h"

namespace tabulon::engine {

class ZipArchive;

// One pass over content.xml. With no target it lists the tables, skipping their rows; with a
// target it streams that table's cells to a sink, one finished row at a time.
class OdsContent {
public:
    struct Table {
        std::string name;
        std::string styleName;
        // Where the table element begins and ends in the inflated part (end exclusive).
        uint64_t begin = 0, end = 0;
        // The cells' used range, when measured (see measureTables) and the table has cells.
        std::optional<CellRange> range;
    };

    // Reads the part, or `source` in its place (errors still name the part). `target` is the
    // index of the table to stream to `sink`.
    void run(const ZipArchive& zip, uint64_t part, std::optional<size_t> target, CellSink* sink,
             ByteSource* source = nullptr);

    // While listing, hands the automatic styles to `styles`; while streaming, renders values
    // through the cell styles of `styles` (finished). Set before run().
    void collectStyles(OdsStyles* styles) { m_collect = styles; }
    // When listing, reads every table's cells too, for its used range: a sheet then streams
    // to its CSV file in one pass instead of being read once to measure it. A table whose
    // cells this program refuses is left unmeasured (reading it reports the problem).
    void measureTables(bool measure) { m_measure = measure; }
    void useStyles(const OdsStyles* styles) { m_styles = styles; }
    // Dates become serials of the 1904 date system (set before run()).
    void useDate1904(bool date1904) { m_date1904 = date1904; }
    // After listing: the spreadsheet's numbers count days from 1904-01-01.
    bool nullDate1904() const { return m_sawNullDate1904; }

    bool sawSpreadsheet() const { return m_sawSpreadsheet; }
    const std::vector<Table>& tables() const { return m_tables; }
    // Table styles (automatic styles of family "table") that hide their table.
    const std::vector<std::string>& hiddenTableStyles() const { return m_hiddenStyles; }

    // The caps below hold for the whole workbook: before a table is streamed, the reader
    // hands over what the other tables repeated; afterwards it takes this table's share.
    void countRepeatsFrom(uint64_t cells, uint64_t text)
    {
        m_repeatedCells = cells;
        m_repeatedText = text;
    }
    uint64_t repeatedCells() const { return m_repeatedCells; }
    uint64_t repeatedText() const { return m_repeatedText; }

    // Cells repeat counts may produce in one workbook; beyond it the file is refused.
    static constexpr uint64_t kMaxRepeatedCells = 10'000'000;
    // Text kept per cell; a cell's text cannot be longer in the application anyway.
    static constexpr size_t kMaxCellText = 1 << 20;
    // Text that repeats may produce in one workbook, and text:s elements in one pass, so that
    // a small file cannot write terabytes.
    static constexpr uint64_t kMaxRepeatedText = uint64_t(1) << 30;
    static constexpr uint64_t kMaxGeneratedText = uint64_t(64) << 20;

private:
    void start(XmlScanner& x);
    void end(std::string_view name);
    void refuse(std::string problem);

    // A run of equal cells within a row.
    struct Run {
        uint32_t col, count;
        CellKind kind;
        uint32_t style;
        double number;
        size_t textBegin, textSize;
    };
    struct Row {
        uint32_t row, repeat;
        std::vector<Run> runs;
        std::string text;
    };

    void startCell(XmlScanner& x, bool covered);
    void endCell();
    void endRow();
    void deliver(CellSink& sink);
    void measure();
    void addText(const char* text, size_t length);
    void addSpaces(uint64_t count, char c);

    uint32_t styleOf(std::string_view cellStyle);

    std::optional<size_t> m_target;
    OdsStyles* m_collect = nullptr;
    const OdsStyles* m_styles = nullptr;
    bool m_date1904 = false;
    bool m_sawNullDate1904 = false;
    // Default cell styles of the columns: runs ending (exclusive) at a column, with their XF.
    std::vector<std::pair<uint64_t, uint32_t>> m_columnStyles;
    uint64_t m_columnCount = 0;
    uint32_t m_rowStyle = OdsStyles::kGeneral;
    bool m_rowHasStyle = false;
    std::string m_lastStyleName;
    bool m_haveLastStyle = false;
    uint32_t m_lastStyle = OdsStyles::kGeneral;
    std::vector<Table> m_tables;
    std::vector<std::string> m_hiddenStyles;
    std::string m_styleName;  // the automatic style being read
    bool m_sawSpreadsheet = false;
    bool m_targetDone = false;
    bool m_measure = false;
    bool m_measureBroken = false;  // the table being measured has cells this program refuses
    bool m_tableClosed = false;
    std::string m_problem;
    std::string m_decoded;

    int m_depth = 0;
    int m_spreadsheetDepth = -1;
    int m_tableDepth = -1;   // depth of the top-level table being read
    int m_cellDepth = -1;    // depth of the cell being read, -1 outside cells
    int m_skipDepth = -1;    // depth of an element whose text is not part of the cell
    int m_paragraphDepth = -1;
    bool m_inTarget = false;
    uint64_t m_tokenBegin = 0;  // offset of the token being handled

    uint64_t m_rowIndex = 0;
    uint64_t m_colIndex = 0;
    Row m_row;
    uint32_t m_rowRepeat = 1;

    // The cell being read.
    bool m_covered = false;
    uint32_t m_colRepeat = 1;
    std::string m_valueType, m_refinedType, m_value, m_dateValue, m_timeValue, m_boolValue, m_stringValue;
    bool m_hasStringValue = false;
    bool m_hasCellStyle = false;
    bool m_hasFormula = false;
    uint32_t m_cellStyle = OdsStyles::kGeneral;
    bool m_hasParagraph = false;
    bool m_pendingSpace = false;
    bool m_paragraphStart = true;
    std::string m_text;

    std::vector<Row> m_queue;
    uint64_t m_repeatedCells = 0;
    uint64_t m_repeatedText = 0;
    uint64_t m_generatedText = 0;
};

}  // namespace tabulon::engine
