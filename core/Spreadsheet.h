#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/Error.h"
#include "engine/Workbook.h"

namespace tabulon::core {

// The file format code of comma-separated text, the only one Spreadsheet saves.
inline constexpr int kCsvFileFormat = 6;

// The spreadsheet application as the conversion rules drive it, one call per operation in
// the same order: create, open, alerts off, worksheet count, worksheet name, select, save
// as CSV, close, quit. Every operation except create, close and quit throws engine::Error
// whose what() is the description the user reads. close() and quit() never throw and may
// be called at any time, also after a failure and more than once.
class Spreadsheet {
public:
    // A fresh application. Never fails: the engine runs in-process.
    static std::unique_ptr<Spreadsheet> create();
    ~Spreadsheet();

    // Opens a workbook by its full path; the format is recognised by content. One workbook
    // at a time: opening another closes the first.
    void open(const std::filesystem::path& file);
    // Kept for the order of operations; the engine never asks questions.
    void setDisplayAlerts(bool on) { m_displayAlerts = on; }
    bool displayAlerts() const { return m_displayAlerts; }

    // Worksheets only (no chart, dialog, macro or module sheets), in workbook order.
    int worksheetCount() const;
    // Name of the worksheet at a 1-based position.
    std::string worksheetName(int position) const;
    // Makes worksheet `position` the active sheet.
    void selectSheet(int position);
    // Saves the active sheet of the workbook (the first worksheet until one is selected);
    // `progress` hears of the rows written while a large worksheet is saved.
    void saveWorkbookAs(const std::filesystem::path& target, int fileFormat, const engine::RowProgress& progress = {});
    // Saves worksheet `position` through the worksheet's own save.
    void saveWorksheetAs(int position, const std::filesystem::path& target, int fileFormat,
                         const engine::RowProgress& progress = {});

    bool hasWorkbook() const { return m_book != nullptr; }
    void close() noexcept;
    void quit() noexcept;

    // Test seam: how workbooks are opened. The default is engine::openWorkbook. Returns the
    // previous opener; pass nullptr to restore the default.
    using Opener = std::function<std::unique_ptr<engine::Workbook>(const std::filesystem::path&)>;
    static Opener setOpenerForTests(Opener opener);

private:
    Spreadsheet() = default;
    engine::Workbook& book() const;
    void requireCsv(const std::filesystem::path& target, int fileFormat) const;

    std::unique_ptr<engine::Workbook> m_book;
    std::string m_bookPath;
    bool m_displayAlerts = true;
    bool m_quit = false;
};

}  // namespace tabulon::core
