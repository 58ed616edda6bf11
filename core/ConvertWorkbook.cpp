#include "core/ConvertWorkbook.h"

#include "core/PathHelpers.h"
#include "core/Spreadsheet.h"

namespace tabulon::core {

std::filesystem::path workbookPath(const std::string& source, const std::string& entryText)
{
    const std::filesystem::path sourcePath = toPath(source);
    switch (pathKind(sourcePath)) {
    case PathKind::File:
        return sourcePath;
    case PathKind::Folder: {
        const std::filesystem::path candidate = sourcePath / toPath(entryText);
        // An empty entry would name the folder itself, which is no workbook.
        if (!entryText.empty() && pathKind(candidate) == PathKind::File)
            return candidate;
        return {};
    }
    case PathKind::Missing:
        break;
    }
    return {};
}

WorkbookResult convertWorkbook(const WorkbookJob& job, const SheetSelection& cache, SheetCounter& counter,
                               WorkbookListener& listener, RandomSource& random)
{
    if (job.path.empty())
        return WorkbookResult::NotFound;
    const std::string bookName = stripExtension(job.entryText);
    std::unique_ptr<Spreadsheet> application;
    try {
        application = Spreadsheet::create();
        application->open(job.path);
        application->setDisplayAlerts(false);
        const int count = application->worksheetCount();
        listener.setProgressMaximum(count);
        const bool listed = cache.isListed(job.position);
        WorkbookCsvNames names;
        for (int i = 1; i <= count; ++i) {
            std::string sheetName;
            if (listed && i <= SheetSelection::kMaxSheets) {
                if (!cache.ticked(job.position, i)) {
                    listener.setProgress(i);
                    continue;
                }
                sheetName = cache.name(job.position, i);
            } else {
                sheetName = application->worksheetName(i);
            }
            const std::filesystem::path file =
                job.folder / toPath(names.claim(csvBaseName(bookName, sheetName, job.namingMode, counter, random)) + ".csv");
            // Worksheet i of the worksheet list: a chart sheet before it cannot shift which sheet is saved.
            application->selectSheet(i);
            application->saveWorkbookAs(file, kCsvFileFormat, [&listener](uint64_t rows) { listener.rowsWritten(rows); });
            listener.worksheetSaved();
            listener.setProgress(i);
            // A stop never cuts a worksheet: each CSV file is renamed into place only when whole.
            if (i < count && listener.stopRequested()) {
                application->close();
                application->quit();
                listener.setProgress(0);
                counter.reset();
                return WorkbookResult::Stopped;
            }
        }
        application->close();
        application->quit();
        listener.setProgress(0);
        counter.reset();
        return WorkbookResult::Converted;
    } catch (const std::exception& error) {
        listener.showError(error.what());
        if (application) {
            application->close();
            application->quit();
        }
        return WorkbookResult::Failed;
    }
}

}  // namespace tabulon::core
