#pragma once
#include <string>
#include <vector>

namespace tabulon::core {

// One worksheet list entry as the window shows it.
struct SheetEntry {
    std::string name;
    bool ticked = false;
};

// The sheet selection cache: per workbook-list position (1..500) and worksheet position
// (1..5000) the worksheet's name and whether it is ticked. A workbook counts as listed
// when the name of its sheet 1 is known; the conversion then takes its ticks. Positions
// outside the bounds are never stored and read as empty.
class SheetSelection {
public:
    static constexpr int kMaxWorkbooks = 500;
    static constexpr int kMaxSheets = 5000;

    void clear() { m_rows.clear(); }
    void set(int workbook, int sheet, std::string name, bool ticked);
    const std::string& name(int workbook, int sheet) const;
    bool ticked(int workbook, int sheet) const;
    bool isListed(int workbook) const { return !name(workbook, 1).empty(); }

    // Copies the shown worksheet list into the row of shownWorkbookIndex (first 5000
    // entries); cached sheets past the list's end keep what they held.
    void saveSheetTicks(const std::vector<SheetEntry>& shown);

    // The workbook-list position whose worksheets the worksheet list shows (0 at start).
    int shownWorkbookIndex = 0;

private:
    // Rows grow only as far as they are written, so the empty table costs nothing.
    std::vector<std::vector<SheetEntry>> m_rows;
};

}  // namespace tabulon::core
