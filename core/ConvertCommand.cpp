#include "core/ConvertCommand.h"

#include "core/PathHelpers.h"

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
        std::filesystem::create_directory(outputDir, error);
        if (error) {
            listener.showMessage("Failed to create folder!", MessageIcon::Critical);
            return std::nullopt;
        }
    }
    if (!isSeparator(outputDir.back()))
        outputDir += kPathSeparator;
    return outputDir;
}

void convertCommand(const ConvertRequest& request, SheetSelection& cache, SheetCounter& counter,
                    ConvertListener& listener, RandomSource& random)
{
    ResetWindow reset{listener};
    if (request.workbooks.empty()) {
        listener.showMessage("Please select excel at fast!", MessageIcon::Information);
        return;
    }
    const std::optional<std::string> outputDir =
        validateOutputDirectory(request.outputText, request.outputIndex, listener);
    if (!outputDir)
        return;
    cache.saveSheetTicks(request.shownSheets);
    listener.setBusy(true);

    for (size_t i = 0; i < request.workbooks.size(); ++i) {
        const SheetEntry& entry = request.workbooks[i];
        if (!entry.ticked)
            continue;
        const std::string name = stripSpacesAndDots(stripExtension(entry.name));
        listener.setStatus("Convert " + name);
        // Each retry appends to the previous attempt (Book, Book1, Book12), not to the bare name.
        std::string folder = *outputDir + name;
        for (int k = 1; pathKind(folder) == PathKind::Folder; ++k)
            folder += std::to_string(k);
        const std::string failed = "Convert " + name + " file failed!";

        std::error_code error;
        if (!std::filesystem::create_directory(folder, error) || error) {
            const std::string reason = error ? error.message() : std::string("something of that name is in the way");
            listener.showError("Cannot create the folder \"" + folder + "\": " + reason + ".");
            listener.showMessage(failed, MessageIcon::Critical);
            continue;
        }
        WorkbookJob job;
        job.position = int(i) + 1;
        job.entryText = entry.name;
        job.path = workbookPath(request.source, entry.name);
        job.folder = folder;
        job.namingMode = request.namingMode;
        if (convertWorkbook(job, cache, counter, listener, random) != WorkbookResult::Converted)
            listener.showMessage(failed, MessageIcon::Critical);
    }
    listener.openFolder(*outputDir);
}

}  // namespace tabulon::core
