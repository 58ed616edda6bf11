#include "core/SheetSelection.h"

namespace tabulon::core {

void SheetSelection::set(int workbook, int sheet, std::string name, bool ticked)
{
    if (workbook < 0 || workbook > kMaxWorkbooks || sheet < 1 || sheet > kMaxSheets)
        return;
    if (size_t(workbook) >= m_rows.size())
        m_rows.resize(size_t(workbook) + 1);
    auto& row = m_rows[size_t(workbook)];
    if (size_t(sheet) > row.size())
        row.resize(size_t(sheet));
    row[size_t(sheet) - 1] = {std::move(name), ticked};
}

const std::string& SheetSelection::name(int workbook, int sheet) const
{
    static const std::string empty;
    if (workbook < 0 || size_t(workbook) >= m_rows.size() || sheet < 1)
        return empty;
    const auto& row = m_rows[size_t(workbook)];
    return size_t(sheet) <= row.size() ? row[size_t(sheet) - 1].name : empty;
}

bool SheetSelection::ticked(int workbook, int sheet) const
{
    if (workbook < 0 || size_t(workbook) >= m_rows.size() || sheet < 1)
        return false;
    const auto& row = m_rows[size_t(workbook)];
    return size_t(sheet) <= row.size() && row[size_t(sheet) - 1].ticked;
}

void SheetSelection::saveSheetTicks(const std::vector<SheetEntry>& shown)
{
    for (size_t i = 0; i < shown.size() && i < size_t(kMaxSheets); ++i)
        set(shownWorkbookIndex, int(i) + 1, shown[i].name, shown[i].ticked);
}

}  // namespace tabulon::core
