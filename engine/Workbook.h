#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tabulon::engine {

class BookReader;

// Told every few thousand rows how many rows a save has written so far, on the saving thread
// (a progress line, or a window that keeps painting while one large worksheet is written).
using RowProgress = std::function<void(uint64_t rowsDone)>;

// An open workbook; positions are 1-based and count worksheets only (chart, dialog, macro
// and module sheets are left out). Every call may throw engine::Error.
class Workbook {
public:
    virtual ~Workbook() = default;  // closes if still open
    virtual int sheetCount() const = 0;
    virtual std::string sheetName(int position) const = 0;  // UTF-8
    virtual void selectSheet(int position) = 0;
    // Saves one worksheet, or the selected sheet when no position is given, as CSV.
    virtual void saveAsCsv(const std::filesystem::path& target, std::optional<int> position,
                           const RowProgress& progress = {}) = 0;
    virtual void close() = 0;  // safe to call twice
};

// Notes for the user that are not failures: formulas of a sheet that could not be
// calculated and had no stored result, a workbook too large to recalculate. One sentence
// each. tabrun prints them on standard error; without a handler they are dropped.
using NoticeHandler = std::function<void(const std::string& sentence)>;
void setNoticeHandler(NoticeHandler handler);

// Test seam: the clock (a serial date-time in the given date system) and the random source
// (uniform in [0, 1)) that recalculation uses for NOW(), TODAY(), RAND() and kin. Empty
// functions restore the real ones.
struct VolatileSources {
    std::function<double(bool date1904)> now;
    std::function<double()> random;
};
void setVolatileSourcesForTests(VolatileSources sources);

// Opens a workbook, recognising its format by content, never by name.
std::unique_ptr<Workbook> openWorkbook(const std::filesystem::path& file);

// Wraps a reader (tests and fuzz targets use this to skip format detection).
std::unique_ptr<Workbook> makeWorkbook(std::unique_ptr<BookReader> reader, std::string displayName);

// A worksheet whose CSV would be larger than this while most of it would be empty
// fields (a few cells far apart) is refused with an Error before anything is written.
// Process-wide; the command line can raise it.
inline constexpr uint64_t kDefaultCsvSizeLimit = uint64_t(1) << 30;
void setCsvSizeLimit(uint64_t bytes);
uint64_t csvSizeLimit();

}  // namespace tabulon::engine
