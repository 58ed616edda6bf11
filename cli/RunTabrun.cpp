#include "RunTabrun.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

#include "cli/CommandLine.h"
#include "core/OutputNaming.h"
#include "core/PathHelpers.h"
#include "cli/ShellOpen.h"
#include "core/Spreadsheet.h"
#include "engine/Workbook.h"

namespace tabulon::cli {

namespace fs = std::filesystem;
using core::PathKind;

namespace {

constexpr const char* kUsage =
    "usage: tabrun INPUT [OUTPUT_DIR] [/name=1|/name=2|/name=3] [/overwrite=0|/overwrite=1] [/open=0|/open=1] "
    "[/quiet] [/maxcsv=SIZE]\n"
    "Converts every worksheet of a workbook file, or of every workbook in a folder, to CSV files.\n";

// What --help adds to the usage lines.
constexpr const char* kOptionTable =
    "\n"
    "INPUT is a workbook (.xls, .xlsx, .xlsm, .xlsb, .ods, recognised by content) or a folder,\n"
    "whose workbooks each get a folder of their own under OUTPUT_DIR (default: /). Options\n"
    "follow the two paths, in any case:\n"
    "\n"
    "  /name=1          CSV file named after the worksheet (the default)\n"
    "  /name=2          workbook name, _, worksheet name\n"
    "  /name=3          running number 1, 2, 3, ... per workbook\n"
    "  /overwrite=0     keep existing CSV files; their worksheets are skipped\n"
    "  /overwrite=1     replace existing CSV files (the default)\n"
    "  /open=1          open the output directory in the file browser at the end\n"
    "  /open=0          do not open it (the default)\n"
    "  /quiet, -q       no progress line\n"
    "  /maxcsv=SIZE     refuse a mostly empty worksheet whose CSV would pass SIZE bytes\n"
    "                   (K, M, G, T allowed; default 1G; 0 for no limit)\n"
    "\n"
    "  --help, -h, /?   this text (only as the first argument)\n"
    "  --version        the version (only as the first argument)\n"
    "\n"
    "Exit status: 0 everything was converted, 1 something failed, 2 the command line is\n"
    "unusable. Problems are reported on standard error, one line each. See tabrun(1).\n";

std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

// System messages start with a capital letter; inside our sentence they should not.
std::string lowerFirst(std::string text)
{
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string inQuotes(const std::string& path)
{
    return "\"" + path + "\"";
}

// "workbook 3 of 12, sheet 2 of 5, 81920 rows" on one line of standard error, redrawn at
// most ten times a second, and only once the run has lasted about a second.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled) : m_err(err), m_enabled(enabled), m_start(Clock::now()) {}
    ~ProgressLine() { erase(); }

    void workbook(size_t index, size_t count)
    {
        m_book = index;
        m_books = count;
        m_sheet = m_sheets = 0;
        m_rows = 0;
        draw();
    }
    void sheet(int index, int count)
    {
        m_sheet = index;
        m_sheets = count;
        m_rows = 0;
        draw();
    }
    void rows(uint64_t done)
    {
        m_rows = done;
        draw();
    }
    // Clears the line so that a message can be written in its place.
    void erase()
    {
        if (m_shown) {
            m_err << "\r\x1b[K" << std::flush;
            m_shown = false;
        }
    }

private:
    using Clock = std::chrono::steady_clock;

    void draw()
    {
        if (!m_enabled)
            return;
        const auto now = Clock::now();
        if (now - m_start < std::chrono::seconds(1) || (m_shown && now - m_lastDraw < std::chrono::milliseconds(100)))
            return;
        m_lastDraw = now;
        std::string text = "tabrun: workbook " + std::to_string(m_book) + " of " + std::to_string(m_books);
        if (m_sheets > 0)
            text += ", sheet " + std::to_string(m_sheet) + " of " + std::to_string(m_sheets);
        if (m_rows > 0)
            text += ", " + std::to_string(m_rows) + " rows";
        m_err << "\r" << text << "\x1b[K" << std::flush;
        m_shown = true;
    }

    std::ostream& m_err;
    bool m_enabled;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
    bool m_shown = false;
    size_t m_book = 0, m_books = 0;
    int m_sheet = 0, m_sheets = 0;
    uint64_t m_rows = 0;
};

// One run: the settings of the command line and everything the conversion keeps between
// workbooks. Nothing outlives it.
class Run {
public:
    Run(const CommandLine& settings, std::ostream& err, bool errIsTerminal)
        : m_settings(settings), m_err(err), m_progress(err, errIsTerminal && !settings.quiet)
    {
        // Notes of the engine (formulas left uncalculated, a workbook too large to
        // recalculate) go to standard error, one line each; the conversion still succeeds.
        engine::setNoticeHandler([this](const std::string& sentence) {
            m_progress.erase();
            m_err << "tabrun: " << oneLine(sentence) << "\n" << std::flush;
        });
    }
    ~Run() { engine::setNoticeHandler(nullptr); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    int runConversion();

private:
    void convertWorkbookFile(const std::string& path, std::string target);
    void problem(const std::string& text)
    {
        note(text);
        m_failed = true;
    }
    // A line on standard error that does not make the run fail.
    void note(const std::string& text)
    {
        m_progress.erase();
        m_err << "tabrun: " << oneLine(text) << "\n" << std::flush;
    }

    const CommandLine& m_settings;
    std::ostream& m_err;
    ProgressLine m_progress;
    core::SheetCounter m_sheetCounter;
    bool m_failed = false;
};

int Run::runConversion()
{
    engine::setCsvSizeLimit(m_settings.maxCsvBytes == 0 ? UINT64_MAX : m_settings.maxCsvBytes);
    struct LimitBack {
        ~LimitBack() { engine::setCsvSizeLimit(engine::kDefaultCsvSizeLimit); }
    } limitBack;

    const std::string& input = m_settings.inputPath;
    const std::string& outputDir = m_settings.outputDir;
    std::vector<std::string> workbooks;
    const PathKind kind = core::pathKind(input);
    const bool subfolders = kind == PathKind::Folder;
    if (kind == PathKind::Folder) {
        std::string why;
        if (!collectWorkbooks(input, workbooks, why)) {
            workbooks.clear();
            problem(why);
        }
    } else if (kind == PathKind::File) {
        workbooks.push_back(input);
    } else {
        problem(inQuotes(input) + " is no longer an existing workbook file or folder.");
    }

    for (size_t i = 0; i < workbooks.size(); ++i) {
        const std::string& path = workbooks[i];
        m_progress.workbook(i + 1, workbooks.size());
        const std::string folderName = workbookFolderName(path);
        if (folderName.empty()) {
            problem(inQuotes(path) + " is gone or has no name to make a folder from; the run stopped there.");
            break;
        }
        std::string target = outputDir;
        if (subfolders)
            target += folderName;
        // A link there would take the workbook's files into some other folder.
        std::error_code linkError;
        if (subfolders && fs::is_symlink(core::toPath(target), linkError)) {
            problem(inQuotes(target) + " is a symbolic link, which is not followed; " + inQuotes(path) +
                    " was not converted.");
            continue;
        }
        if (core::pathKind(target) != PathKind::Folder) {
            std::error_code ec;
            fs::create_directory(core::toPath(target), ec);
            // A folder the rules cannot see (a hidden one) may still be there; use it.
            std::error_code isDirError;
            if (!fs::is_directory(core::toPath(target), isDirError)) {
                const std::string reason = ec ? lowerFirst(ec.message()) : "a file of that name exists";
                problem("cannot create the folder " + inQuotes(target) + " for " + inQuotes(path) + ": " + reason +
                        "; the run stopped there.");
                break;
            }
        }
        convertWorkbookFile(path, target);
    }

    m_progress.erase();
    if (m_settings.openOutputFolder && core::pathKind(outputDir) == PathKind::Folder)
        shellOpen(outputDir);
    return m_failed ? kSomethingFailed : kAllConverted;
}

void Run::convertWorkbookFile(const std::string& path, std::string target)
{
    if (target.empty() || target.back() != core::kPathSeparator)
        target += core::kPathSeparator;
    std::unique_ptr<core::Spreadsheet> app;
    try {
        std::error_code ec;
        const fs::path file = core::toPath(path);
        if (!fs::is_regular_file(file, ec)) {
            problem(inQuotes(path) + " is gone; nothing was converted from it.");
            return;
        }
        const std::string bookName = core::stripExtension(file.filename().string());

        app = core::Spreadsheet::create();
        app->open(file);
        app->setDisplayAlerts(false);
        const int count = app->worksheetCount();
        core::WorkbookCsvNames names;
        for (int i = 1; i <= count; ++i) {
            m_progress.sheet(i, count);
            const std::string sheetName = app->worksheetName(i);
            const std::string base = core::csvBaseName(bookName, sheetName, m_settings.namingMode(), m_sheetCounter);
            const std::string name = names.claim(base);
            if (name != base)
                note(inQuotes(path) + ": the worksheet " + inQuotes(sheetName) + " would replace " + inQuotes(base + ".csv") +
                     " of an earlier worksheet; it is saved as " + inQuotes(name + ".csv") + ".");
            const std::string csvFile = target + name + ".csv";
            if (!m_settings.overwriteExisting && core::pathKind(csvFile) == PathKind::File)
                continue;
            app->saveWorksheetAs(i, core::toPath(csvFile), core::kCsvFileFormat, [this](uint64_t rows) { m_progress.rows(rows); });
        }
        app->close();
        app->quit();
        m_sheetCounter.reset();
    } catch (const std::exception& e) {  // engine::Error, or memory running out
        if (app) {
            app->close();
            app->quit();
        }
        problem(e.what());
    }
}

}  // namespace

bool collectWorkbooks(const std::string& folder, std::vector<std::string>& files, std::string& problem, size_t limit)
{
    files.clear();
    std::string prefix = folder;
    if (prefix.empty() || prefix.back() != core::kPathSeparator)
        prefix += core::kPathSeparator;
    std::error_code ec;
    const std::vector<std::string> names = core::workbookNamesIn(core::toPath(folder), ec);
    if (ec) {
        problem = "cannot list the folder " + inQuotes(folder) + ": " + lowerFirst(ec.message()) + "; nothing was converted.";
        return false;
    }
    if (names.size() > limit) {
        problem = "the folder " + inQuotes(folder) + " holds more than " + std::to_string(limit) +
                  " workbooks; nothing was converted.";
        return false;
    }
    for (const auto& name : names)
        files.push_back(prefix + name);
    return true;
}

std::string workbookFolderName(const std::string& path)
{
    if (path.empty())
        return {};
    std::error_code ec;
    const fs::path file = core::toPath(path);
    if (!fs::is_regular_file(file, ec))
        return {};
    std::string name = core::stripExtension(file.filename().string());
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

namespace {

int runParsed(ParseResult parsed, const CommandLine& settings, std::ostream& err, bool errIsTerminal)
{
    try {
        switch (parsed) {
        case ParseResult::NoArguments:
            err << kUsage << std::flush;
            return kUnusableCommandLine;
        case ParseResult::TooManyTokens:
            err << "tabrun: too many arguments (at most " << kMaxTokens << ").\n" << std::flush;
            return kUnusableCommandLine;
        case ParseResult::InputMissing:
            err << "tabrun: " << inQuotes(settings.inputPath)
                << " is not an existing workbook file or folder (hidden names and wildcards do not count).\n"
                << std::flush;
            return kUnusableCommandLine;
        case ParseResult::BadOption:
            err << "tabrun: " << inQuotes(settings.badOption)
                << " is not a size (a whole number of bytes, optionally followed by K, M, G or T).\n" << std::flush;
            return kUnusableCommandLine;
        case ParseResult::Ok:
            break;
        }
        Run run(settings, err, errIsTerminal);
        return run.runConversion();
    } catch (const std::exception& e) {
        err << "tabrun: " << oneLine(e.what()) << "\n" << std::flush;
        return kSomethingFailed;
    }
}

// --help and --version count only as the first argument, where no workbook could be meant.
// Returns the exit status when `first` is one of them and has been answered on `out`.
std::optional<int> answerQuestion(const std::string& first, std::ostream& out, std::ostream& err)
{
    if (first == "--help" || first == "-h" || first == "/?")
        out << kUsage << kOptionTable << std::flush;
    else if (first == "--version")
        out << "tabrun " << TABULON_VERSION << "\n" << std::flush;
    else
        return std::nullopt;
    if (out)
        return kAllConverted;
    err << "tabrun: cannot write to standard output.\n" << std::flush;
    return kSomethingFailed;
}

}  // namespace

int runTabrun(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    const auto first = std::find_if(args.begin(), args.end(), [](const std::string& a) { return !a.empty(); });
    if (first != args.end())
        if (const auto status = answerQuestion(*first, out, err))
            return *status;
    CommandLine settings;
    const ParseResult parsed = parseCommandLine(args, settings);
    return runParsed(parsed, settings, err, errIsTerminal);
}

int runTabrunText(std::string_view text, std::ostream& out, std::ostream& err, bool errIsTerminal)
{
    std::vector<std::string> tokens;
    splitCommandLine(text, tokens);
    if (!tokens.empty())
        if (const auto status = answerQuestion(tokens.front(), out, err))
            return *status;
    CommandLine settings;
    const ParseResult parsed = parseCommandLineText(text, settings);
    return runParsed(parsed, settings, err, errIsTerminal);
}

int runTabrun(const std::vector<std::string>& args)
{
    return runTabrun(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}

}  // namespace tabulon::cli
