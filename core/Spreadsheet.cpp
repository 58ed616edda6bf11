#include "Spreadsheet.h"

#include <new>
#include <utility>

namespace tabulon::core {

namespace {

Spreadsheet::Opener& opener()
{
    static Spreadsheet::Opener current;
    return current;
}

}  // namespace

std::unique_ptr<Spreadsheet> Spreadsheet::create()
{
    return std::unique_ptr<Spreadsheet>(new Spreadsheet());
}

Spreadsheet::~Spreadsheet()
{
    close();
}

Spreadsheet::Opener Spreadsheet::setOpenerForTests(Opener replacement)
{
    return std::exchange(opener(), std::move(replacement));
}

void Spreadsheet::open(const std::filesystem::path& file)
{
    if (m_quit)
        throw engine::Error(engine::cannotOpen(file.string(), "the spreadsheet application has quit"));
    close();
    const std::string name = file.string();
    m_book = engine::asEngineError(name, [&] { return opener() ? opener()(file) : engine::openWorkbook(file); });
    if (!m_book)
        throw engine::Error(engine::cannotOpen(name, "not a workbook this program can read"));
    m_bookPath = name;
}

engine::Workbook& Spreadsheet::book() const
{
    if (!m_book)
        throw engine::Error("No workbook is open.");
    return *m_book;
}

int Spreadsheet::worksheetCount() const
{
    auto& b = book();
    return engine::asEngineError(m_bookPath, [&] { return b.sheetCount(); });
}

std::string Spreadsheet::worksheetName(int position) const
{
    auto& b = book();
    return engine::asEngineError(m_bookPath, [&] { return b.sheetName(position); });
}

void Spreadsheet::selectSheet(int position)
{
    auto& b = book();
    engine::asEngineError(m_bookPath, [&] { b.selectSheet(position); });
}

void Spreadsheet::requireCsv(const std::filesystem::path& target, int fileFormat) const
{
    if (fileFormat != kCsvFileFormat)
        throw engine::Error(engine::cannotSave(target.string(), "file format " + std::to_string(fileFormat) +
                                                                    " is not supported (only " +
                                                                    std::to_string(kCsvFileFormat) + ", CSV)"));
}

void Spreadsheet::saveWorkbookAs(const std::filesystem::path& target, int fileFormat,
                                 const engine::RowProgress& progress)
{
    auto& b = book();
    requireCsv(target, fileFormat);
    engine::asEngineError(m_bookPath, [&] { b.saveAsCsv(target, std::nullopt, progress); });
}

void Spreadsheet::saveWorksheetAs(int position, const std::filesystem::path& target, int fileFormat,
                                  const engine::RowProgress& progress)
{
    auto& b = book();
    requireCsv(target, fileFormat);
    engine::asEngineError(m_bookPath, [&] { b.saveAsCsv(target, position, progress); });
}

void Spreadsheet::close() noexcept
{
    if (!m_book)
        return;
    try {
        m_book->close();
    } catch (...) {
        // Closing a read-only workbook loses nothing; the caller already has its error.
    }
    m_book.reset();
    m_bookPath.clear();
}

void Spreadsheet::quit() noexcept
{
    close();
    m_quit = true;
}

}  // namespace tabulon::core
