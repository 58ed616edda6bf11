#pragma once
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::cli {

// Exit statuses of tabrun.
inline constexpr int kAllConverted = 0;
inline constexpr int kSomethingFailed = 1;
inline constexpr int kUnusableCommandLine = 2;

// Room in the workbook list of a folder input; a folder with more workbooks converts nothing.
inline constexpr size_t kMaxWorkbooks = 10001;

// One whole run of tabrun on its arguments (argv without the program name): reads the
// command line, converts, and returns the exit status. Problems go to `err`, one line each,
// naming the path; a progress line is drawn there only when `errIsTerminal`. Only a first
// argument of --help, -h, /? or --version writes to `out` (the usage and option table, or
// "tabrun <version>") and converts nothing. Every call starts from fresh state.
int runTabrun(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);
// The same on standard output and standard error.
int runTabrun(const std::vector<std::string>& args);
// The same for raw command-line text without the program's name (the form Windows hands
// over), split by splitCommandLine.
int runTabrunText(std::string_view text, std::ostream& out, std::ostream& err, bool errIsTerminal);

// The workbooks directly inside `folder`: ordinary, not hidden files whose extension begins
// with "xls" or is "ods", without regard to case, as full paths sorted by name without regard
// to case. Returns false when the folder cannot be listed or holds more than `limit`.
bool collectWorkbooks(const std::string& folder, std::vector<std::string>& files, std::string& problem,
                      size_t limit = kMaxWorkbooks);

// The folder name for the workbook at `path`: its file name cut before the last dot, spaces
// at the end removed; empty when no ordinary file is there.
std::string workbookFolderName(const std::string& path);

}  // namespace tabulon::cli
