#pragma once
#include "core/ConvertWorkbook.h"

#include <optional>
#include <string>
#include <vector>

namespace tabulon::core {

// Message icons keep the numbers of the message-box styles they stand for.
enum class MessageIcon { None = 0, Critical = 16, Information = 64 };

// Everything the Convert command does to the window.
class ConvertListener : public WorkbookListener {
public:
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    virtual void setStatus(const std::string& text) = 0;
    // The hourglass pointer while the batch runs.
    virtual void setBusy(bool busy) = 0;
    // The shell's "open" of the output directory at the end.
    virtual void openFolder(const std::string& folder) = 0;
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
// are reset on every path.
void convertCommand(const ConvertRequest& request, SheetSelection& cache, SheetCounter& counter,
                    ConvertListener& listener, RandomSource& random = clockRandomSource());

}  // namespace tabulon::core
