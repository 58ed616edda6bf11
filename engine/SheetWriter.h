#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BookReader.h"
#include "Workbook.h"
#include "numfmt/NumFmt.h"

namespace tabulon::engine {

// Renders cells through their number formats, with one compiled format per XF.
class CellRenderer {
public:
    // The compiled formats are charged to `budget` when one is given.
    CellRenderer(const StyleTable& styles, bool date1904, MemoryBudget* budget = nullptr);
    // Appends the displayed text of a cell to `out`.
    void render(const CellData& cell, std::string& out) const;

private:
    const numfmt::Format& formatOf(uint32_t style) const;
    std::vector<const numfmt::Format*> m_byXf;
    std::vector<uint8_t> m_generalByXf;  // 1 where the XF's format is "General"
    std::vector<std::shared_ptr<const numfmt::Format>> m_owned;
    std::shared_ptr<const numfmt::Format> m_general;
    bool m_date1904;
};

// Writes one sheet of a reader as CSV to `target`, computing the used range from the
// cells (the stored dimension is tried first and checked while writing).
// With `stopAtCalculation`, the first cell whose formula the application would calculate
// on opening ends the save by throwing NeedsCalculation (nothing is written): the caller
// then calculates the workbook and saves again from the calculated cells.
struct NeedsCalculation {};
void writeSheetCsv(BookReader& reader, const CellRenderer& renderer, size_t sheetIndex,
                   const std::filesystem::path& target, const std::string& bookName,
                   const RowProgress& progress = {}, bool stopAtCalculation = false);

}  // namespace tabulon::engine
