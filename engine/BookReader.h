#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Cell.h"
#include "MemoryBudget.h"

namespace tabulon::engine {

// What a format reader offers the engine. Every call may throw engine::Error.
// The engine turns this into the Workbook that callers use, and does the used range,
// number formatting and CSV writing itself, so that all formats behave alike.
class BookReader {
public:
    virtual ~BookReader() = default;

    // Every sheet of the workbook in workbook order, worksheets and others alike.
    virtual const std::vector<SheetInfo>& sheets() const = 0;
    virtual bool date1904() const = 0;
    virtual const StyleTable& styles() const = 0;

    // The sheet's stored size, if the file has one. Only a hint: the engine checks it.
    virtual std::optional<CellRange> dimension(size_t sheetIndex) = 0;

    // Streams the cells of sheets()[sheetIndex] to the sink, rows in ascending order.
    // May be called more than once for the same sheet; must not hold the sheet in memory.
    virtual void readSheet(size_t sheetIndex, CellSink& sink) = 0;

    // Formula facts of the workbook (calculation on load, names, 3-D reference entries).
    virtual const FormulaFacts& formulaFacts() const
    {
        static const FormulaFacts none;
        return none;
    }

    // The workbook's one memory budget: the reader charges its shared strings and styles,
    // the engine its compiled formats and the rows it sorts, and later users theirs.
    MemoryBudget& memory() { return m_memory; }

protected:
    MemoryBudget m_memory;
};

// What a style table takes in memory, for the budget.
uint64_t styleTableBytes(const StyleTable& styles);

// The readers, one per format family; each takes the file's path and the name to use in
// messages. Chosen by OpenWorkbook.cpp from the file's first bytes.
std::unique_ptr<BookReader> openOoxmlReader(const std::filesystem::path& file);
std::unique_ptr<BookReader> openXlsbReader(const std::filesystem::path& file);
std::unique_ptr<BookReader> openOdsReader(const std::filesystem::path& file);
std::unique_ptr<BookReader> openXlsReader(const std::filesystem::path& file);

}  // namespace tabulon::engine
