#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "BookReader.h"

namespace tabulon::formula {
class Book;
}

// Recalculation: a workbook whose formulas the application would calculate on opening is
// read into the compact model of the formula module, calculated, and written from there.
namespace tabulon::engine {

// Bounds of the model; beyond them the stored results are written instead.
struct RecalcLimits {
    uint64_t maxCells = 50'000'000;
    uint64_t maxBytes = uint64_t(2) << 30;
};

// The calculated workbook, offered as a reader: same sheets, styles and dates as the file's
// reader, cells from the model.
class RecalcReader final : public BookReader {
public:
    ~RecalcReader() override;
    // Reads every worksheet of `source` with its formulas and calculates. Returns nullptr
    // when the workbook is beyond the limits. `now` is the clock for NOW() and TODAY() as a
    // serial date-time in the workbook's date system.
    // `random` replaces the random source when given (tests).
    static std::unique_ptr<RecalcReader> build(BookReader& source, const RecalcLimits& limits, double now,
                                               std::function<double()> random = {});

    const std::vector<SheetInfo>& sheets() const override { return m_source.sheets(); }
    bool date1904() const override { return m_source.date1904(); }
    const StyleTable& styles() const override { return m_source.styles(); }
    std::optional<CellRange> dimension(size_t sheetIndex) override { return m_source.dimension(sheetIndex); }
    void readSheet(size_t sheetIndex, CellSink& sink) override;

    // Formulas of a sheet that had no stored result and could not be calculated.
    uint64_t uncalculated(size_t sheetIndex) const;

private:
    explicit RecalcReader(BookReader& source);
    BookReader& m_source;
    std::unique_ptr<formula::Book> m_book;
    std::vector<uint32_t> m_bookSheet;  // reader sheet index -> model sheet
};

// The current local time as a serial date-time (1900 or 1904 date system).
double serialNow(bool date1904);

}  // namespace tabulon::engine
