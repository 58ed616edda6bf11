#pragma once
// Small .xlsx files for the GUI tests, written with libxlsxwriter; text cells only.
#include <QString>
#include <string>
#include <vector>
#include <xlsxwriter.h>

namespace tabulon::testing {

struct TestSheet {
    std::string name;
    std::vector<std::vector<std::string>> rows;
};

// Writes the sheets in order; with a chart sheet first when asked (a chart over the first
// worksheet), so positions among all sheets differ from positions among worksheets.
inline bool writeWorkbook(const QString& file, const std::vector<TestSheet>& sheets, bool chartSheetFirst = false)
{
    lxw_workbook* book = workbook_new(file.toUtf8().constData());
    if (!book)
        return false;
    lxw_chartsheet* chartSheet = chartSheetFirst ? workbook_add_chartsheet(book, "Chart") : nullptr;
    for (const TestSheet& sheet : sheets) {
        lxw_worksheet* worksheet = workbook_add_worksheet(book, sheet.name.c_str());
        for (size_t r = 0; r < sheet.rows.size(); ++r)
            for (size_t c = 0; c < sheet.rows[r].size(); ++c)
                worksheet_write_string(worksheet, lxw_row_t(r), lxw_col_t(c), sheet.rows[r][c].c_str(), nullptr);
    }
    if (chartSheet) {
        lxw_chart* chart = workbook_add_chart(book, LXW_CHART_COLUMN);
        const std::string range = "='" + sheets.front().name + "'!$A$1:$A$2";
        chart_add_series(chart, nullptr, range.c_str());
        chartsheet_set_chart(chartSheet, chart);
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

}  // namespace tabulon::testing
