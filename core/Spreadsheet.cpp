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

// Engine calls throw engine::Error; anything else that escapes (memory, the standard
// library) becomes one too, so callers catch a single type.
template <class F>
auto guarded(const std::string& file, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (const engine::Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw engine::Error(engine::describe(file, "there is not enough memory to read it"));
    } catch (const std::exception& e) {
        throw engine::Error(engine::describe(file, e.what()));
    }
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
        throw engine::Error("Cannot open \"" + file.string() + "\": the spreadsheet application has quit.");
    close();
    const std::string name = file.string();
    m_book = guarded(name, [&] { return opener() ? opener()(file) : engine::openWorkbook(file); });
    if (!m_book)
        throw engine::Error("Cannot open \"" + name + "\": not a workbook this program can read.");
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
    return guarded(m_bookPath, [&] { return b.sheetCount(); });
}

std::string Spreadsheet::worksheetName(int position) const
{
    auto& b = book();
    return guarded(m_bookPath, [&] { return b.sheetName(position); });
}

void Spreadsheet::selectSheet(int position)
{
    auto& b = book();
    guarded(m_bookPath, [&] { b.selectSheet(position); });
}

void Spreadsheet::requireCsv(const std::filesystem::path& target, int fileFormat) const
{
    if (fileFormat != kCsvFileFormat)
        throw engine::Error("Cannot save \"" + target.string() + "\": file format " + std::to_string(fileFormat) +
                            " is not supported (only " + std::to_string(kCsvFileFormat) + ", CSV).");
}

void Spreadsheet::saveWorkbookAs(const std::filesystem::path& target, int fileFormat,
                                 const engine::RowProgress& progress)
{
    auto& b = book();
    requireCsv(target, fileFormat);
    guarded(m_bookPath, [&] { b.saveAsCsv(target, std::nullopt, progress); });
}

void Spreadsheet::saveWorksheetAs(int position, const std::filesystem::path& target, int fileFormat,
                                  const engine::RowProgress& progress)
{
    auto& b = book();
    requireCsv(target, fileFormat);
    guarded(m_bookPath, [&] { b.saveAsCsv(target, position, progress); });
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
