#pragma once
#include "core/ConvertWorkbook.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tabulon::core {

// Message icons keep the numbers of the message-box styles they stand for.
enum class MessageIcon { None = 0, Critical = 16, Information = 64 };

// How a batch went, for the status line once it is over.
struct BatchSummary {
    int workbooks = 0;   // ticked workbooks
    int reached = 0;     // how many of them were started
    int converted = 0;
    int failed = 0;
    int worksheets = 0;  // CSV files written
    bool stopped = false;
    std::chrono::milliseconds elapsed{0};
};

// "Done: 3 of 4 workbooks converted (7 worksheets), 1 failed, 0:04"; a stopped batch says
// where it stopped: "Stopped at workbook 2 of 4: 1 converted (3 worksheets), 0 failed, 0:01".
std::string summaryText(const BatchSummary& summary);

// Everything the Convert command does to the window.
class ConvertListener : public WorkbookListener {
public:
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    virtual void setStatus(const std::string& text) = 0;
    // The hourglass pointer while the batch runs.
    virtual void setBusy(bool busy) = 0;
    // The shell's "open" of the output directory at the end.
    virtual void openFolder(const std::string& folder) = 0;
    // Before each ticked workbook: its place among the ticked ones (1-based), and their number.
    virtual void workbookStarted(int index, int count)
    {
        (void)index;
        (void)count;
    }
    // After a batch has run and the window was reset; not when the command ended at its checks.
    virtual void batchFinished(const BatchSummary& summary) { (void)summary; }
};

// The window's state when Convert is pressed.
struct ConvertRequest {
    std::string source;                  // the selected source entry ("" when none)
    std::vector<SheetEntry> workbooks;   // the workbook list: names and ticks
    std::vector<SheetEntry> shownSheets; // the worksheet list as shown now
    std::string outputText;              // the output directory box's text
    int outputIndex = -1;                // its selected entry, -1 after typing
    int namingMode = 0;
};

// Checks the output directory box; creates a typed folder (one level) that does not exist.
// Returns the output directory with exactly one trailing separator, or nothing after
// showing why not.
std::optional<std::string> validateOutputDirectory(const std::string& text, int selectedIndex,
                                                   ConvertListener& listener);

// Convert: every ticked workbook into a fresh folder under the output directory, one CSV
// per chosen worksheet; failures are reported per workbook and the batch goes on. Stores
// the shown worksheet ticks in the cache first. The status line, progress bar and pointer
// are reset on every path. The batch stops early, keeping what was written, when the
// listener asks it to (after the current worksheet) or when the output directory refuses
// new folders (one message, not one per workbook).
void convertCommand(const ConvertRequest& request, SheetSelection& cache, SheetCounter& counter,
                    ConvertListener& listener, RandomSource& random = clockRandomSource());

// Test seam: how a workbook's folder is created. Returns true when the folder was made and
// sets `error` when the system refused. Returns the previous one; nullptr restores the default.
using FolderCreator = std::function<bool(const std::filesystem::path& folder, std::error_code& error)>;
FolderCreator setFolderCreatorForTests(FolderCreator creator);

}  // namespace tabulon::core
