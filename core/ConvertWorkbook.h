#pragma once
#include "core/OutputNaming.h"
#include "core/SheetSelection.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace tabulon::core {

// Stopped: the user asked the batch to stop; the worksheets saved until then stay.
enum class WorkbookResult { Converted = 1, Failed = 2, NotFound = 3, Stopped = 4 };

// What a conversion reports while it runs; Tabulon shows it, tests record it.
class WorkbookListener {
public:
    virtual ~WorkbookListener() = default;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgress(int value) = 0;
    // The error's own description, shown without an icon.
    virtual void showError(const std::string& description) = 0;
    // Asked after every worksheet: true ends the workbook there (result Stopped).
    virtual bool stopRequested() { return false; }
    // A worksheet's CSV file was written whole.
    virtual void worksheetSaved() {}
    // Every few thousand rows of a worksheet being saved, on the saving thread.
    virtual void rowsWritten(uint64_t rows) { (void)rows; }
};

// One workbook of the workbook list and where its CSV files go.
struct WorkbookJob {
    std::filesystem::path path;  // from workbookPath(); empty when it could not be resolved
    int position = 0;            // 1-based position in the workbook list
    std::string entryText;       // the workbook list entry (a file name)
    std::filesystem::path folder;  // the workbook's output folder; must exist
    int namingMode = 0;
};

// The file a workbook list entry stands for: a file source is its own workbook; for a
// folder source, the entry's file in that folder if it exists. Empty otherwise.
std::filesystem::path workbookPath(const std::string& source, const std::string& entryText);

// Saves every chosen worksheet of the workbook as <folder>/<csvBaseName>.csv (numbered by
// WorkbookCsvNames where two sheets would get the same file). The cache
// decides for a listed workbook (positions above 5000 are always converted); an unlisted
// workbook has all its worksheets converted. On failure the error's description goes to
// the listener and the result is Failed; files already written stay, and the sheet
// counter is kept. The counter goes back to 0 when the workbook converted to its end, and
// when the listener asked it to stop after a worksheet (result Stopped).
WorkbookResult convertWorkbook(const WorkbookJob& job, const SheetSelection& cache, SheetCounter& counter,
                               WorkbookListener& listener, RandomSource& random = clockRandomSource());

}  // namespace tabulon::core
