#include "core/ConvertCommand.h"

#include "core/PathHelpers.h"

#include <cerrno>
#include <initializer_list>
#include <system_error>

namespace tabulon::core {
namespace {

bool isSeparator(char c)
{
    return c == '/' || c == kPathSeparator;
}

// Resets the window however the command ends.
struct ResetWindow {
    ConvertListener& listener;
    ~ResetWindow()
    {
        listener.setStatus("");
        listener.setProgress(0);
        listener.setBusy(false);
    }
};

bool createFolder(const std::filesystem::path& folder, std::error_code& error)
{
    return std::filesystem::create_directory(folder, error);
}

FolderCreator& folderCreator()
{
    static FolderCreator creator = createFolder;
    return creator;
}

// Errors that say the output directory takes no new folder at all, whatever its name: no
// permission, read-only, full, or gone (unlike a name that is too long or a file in the way).
bool refusesWriting(const std::error_code& error)
{
    if (!error)
        return false;
    for (std::errc refusal : {std::errc::permission_denied, std::errc::operation_not_permitted,
                              std::errc::read_only_file_system, std::errc::no_space_on_device,
                              std::errc::no_such_file_or_directory})
        if (error == refusal)
            return true;
#ifdef EDQUOT
    if (error == std::error_condition(EDQUOT, std::generic_category()))
        return true;
#endif
    return false;
}

// Passes a workbook's reports on and counts the worksheets written.
class CountingListener : public WorkbookListener {
public:
    CountingListener(ConvertListener& listener, int& worksheets) : m_listener(listener), m_worksheets(worksheets) {}
    void setProgressMaximum(int maximum) override { m_listener.setProgressMaximum(maximum); }
    void setProgress(int value) override { m_listener.setProgress(value); }
    void showError(const std::string& description) override { m_listener.showError(description); }
    bool stopRequested() override { return m_listener.stopRequested(); }
    void rowsWritten(uint64_t rows) override { m_listener.rowsWritten(rows); }
    void worksheetSaved() override
    {
        ++m_worksheets;
        m_listener.worksheetSaved();
    }

private:
    ConvertListener& m_listener;
    int& m_worksheets;
};

std::string counted(int number, const char* noun)
{
    return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

std::string duration(std::chrono::milliseconds elapsed)
{
    const long long seconds = (elapsed.count() + 500) / 1000;
    // Minutes and seconds, 0 to 59.
    const auto twoDigits = [](long long n) { return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)}; };
    if (seconds >= 3600)
        return std::to_string(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" + twoDigits(seconds % 60);
    return std::to_string(seconds / 60) + ":" + twoDigits(seconds % 60);
}

std::optional<BatchSummary> runConvert(const ConvertRequest& request, SheetSelection& cache, SheetCounter& counter,
                                       ConvertListener& listener, RandomSource& random)
{
    ResetWindow reset{listener};
    if (request.workbooks.empty()) {
        listener.showMessage("Please select excel at fast!", MessageIcon::Information);
        return std::nullopt;
    }
    const std::optional<std::string> outputDir =
        validateOutputDirectory(request.outputText, request.outputIndex, listener);
    if (!outputDir)
        return std::nullopt;
    cache.saveSheetTicks(request.shownSheets);
    listener.setBusy(true);

    const auto start = std::chrono::steady_clock::now();
    BatchSummary summary;
    for (const SheetEntry& entry : request.workbooks)
        summary.workbooks += entry.ticked ? 1 : 0;
    CountingListener counting(listener, summary.worksheets);
    for (size_t i = 0; i < request.workbooks.size() && !summary.stopped; ++i) {
        const SheetEntry& entry = request.workbooks[i];
        if (!entry.ticked)
            continue;
        if (listener.stopRequested()) {
            summary.stopped = true;
            break;
        }
        listener.workbookStarted(++summary.reached, summary.workbooks);
        const std::string name = stripSpacesAndDots(stripExtension(entry.name));
        listener.setStatus("Convert " + name);
        // Each retry appends to the previous attempt (Book, Book1, Book12), not to the bare name.
        std::string folder = *outputDir + name;
        for (int k = 1; pathKind(folder) == PathKind::Folder; ++k)
            folder += std::to_string(k);
        const std::string failed = "Convert " + name + " file failed!";

        std::error_code error;
        if (!folderCreator()(toPath(folder), error) || error) {
            ++summary.failed;
            if (refusesWriting(error)) {
                // Every other workbook would fail the same way: say it once and stop.
                listener.showMessage("Cannot create folders in the output directory \""
                                         + toPath(folder).parent_path().string()
                                         + "\": " + error.message() + ". The conversion stops here.",
                                     MessageIcon::Critical);
                summary.stopped = true;
                break;
            }
            const std::string reason = error ? error.message() : std::string("something of that name is in the way");
            listener.showError("Cannot create the folder \"" + folder + "\": " + reason + ".");
            listener.showMessage(failed, MessageIcon::Critical);
            continue;
        }
        WorkbookJob job;
        job.position = int(i) + 1;
        job.entryText = entry.name;
        job.path = workbookPath(request.source, entry.name);
        job.folder = toPath(folder);
        job.namingMode = request.namingMode;
        switch (convertWorkbook(job, cache, counter, counting, random)) {
        case WorkbookResult::Converted:
            ++summary.converted;
            break;
        case WorkbookResult::Stopped:
            summary.stopped = true;
            break;
        case WorkbookResult::Failed:
        case WorkbookResult::NotFound:
            ++summary.failed;
            listener.showMessage(failed, MessageIcon::Critical);
            break;
        }
    }
    listener.openFolder(*outputDir);
    summary.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return summary;
}

}  // namespace

std::optional<std::string> validateOutputDirectory(const std::string& text, int selectedIndex,
                                                   ConvertListener& listener)
{
    if (text.empty()) {
        listener.showMessage("Please select output folder", MessageIcon::Information);
        return std::nullopt;
    }
    const bool typed = selectedIndex == -1;
    if (pathKind(text) != PathKind::Folder && !typed) {
        listener.showMessage("Folder does not exist!", MessageIcon::Critical);
        return std::nullopt;
    }
    std::string outputDir = text;
    // The root keeps its one separator.
    while (outputDir.size() > 1 && isSeparator(outputDir.back()))
        outputDir.pop_back();
    if (pathKind(outputDir) != PathKind::Folder && typed) {
        std::error_code error;
        std::filesystem::create_directory(toPath(outputDir), error);
        if (error) {
            listener.showMessage("Failed to create folder!", MessageIcon::Critical);
            return std::nullopt;
        }
    }
    if (!isSeparator(outputDir.back()))
        outputDir += kPathSeparator;
    return outputDir;
}

std::string summaryText(const BatchSummary& summary)
{
    if (summary.workbooks == 0)
        return "Done: no workbook was ticked, " + duration(summary.elapsed);
    const std::string counts = " (" + counted(summary.worksheets, "worksheet") + "), "
                               + std::to_string(summary.failed) + " failed, " + duration(summary.elapsed);
    if (summary.stopped)
        return "Stopped at workbook " + std::to_string(summary.reached) + " of " + std::to_string(summary.workbooks)
               + ": " + std::to_string(summary.converted) + " converted" + counts;
    return "Done: " + std::to_string(summary.converted) + " of " + counted(summary.workbooks, "workbook")
           + " converted" + counts;
}

void convertCommand(const ConvertRequest& request, SheetSelection& cache, SheetCounter& counter,
                    ConvertListener& listener, RandomSource& random)
{
    // The summary comes after the window's reset, so it stays on the status line.
    if (const std::optional<BatchSummary> summary = runConvert(request, cache, counter, listener, random))
        listener.batchFinished(*summary);
}

FolderCreator setFolderCreatorForTests(FolderCreator creator)
{
    FolderCreator previous = folderCreator();
    folderCreator() = creator ? std::move(creator) : FolderCreator(createFolder);
    return previous;
}

}  // namespace tabulon::core
