#include <filesystem>
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "ZipBuilder.h"

using namespace tabulon;
namespace fs = std::filesystem;
using Grid = std::vector<std::vector<std::string>>;

namespace {

std::string shellQuoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The binary under test: the Linux build's, or another one named by TABRUN_BINARY with the
// command that runs it in TABRUN_RUNNER (tests/windows runs tabrun.exe through Wine so).
std::string tabrunBinary()
{
    const char* binary = std::getenv("TABRUN_BINARY");
    return binary && *binary ? binary : TABRUN_PATH;
}

std::string runner()
{
    const char* command = std::getenv("TABRUN_RUNNER");
    return command ? command : "";
}

// Tests of what only POSIX systems have (permissions, signals, symbolic links, the open
// hook's shell script) skip for another runner.
#define SKIP_UNLESS_NATIVE()                                                                  \
    if (!runner().empty())                                                                    \
        GTEST_SKIP() << "POSIX only"

struct Ran {
    int status = -1;
    std::string out, err;
    size_t errLines() const { return static_cast<size_t>(std::count(err.begin(), err.end(), '\n')); }
};

// Runs the real tabrun binary with its streams captured. `prefix` goes before the program
// (environment settings, or a command that drops root's privileges).
Ran tabrun(const test::TempDir& dir, const std::vector<std::string>& args, const std::string& prefix = "")
{
    std::string command = prefix + " " + runner() + " " + shellQuoted(tabrunBinary());
    for (const auto& a : args)
        command += " " + shellQuoted(a);
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    command += " >" + shellQuoted(out.string()) + " 2>" + shellQuoted(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    Ran r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(out), test::readFile(err)};
    // Windows joins folder and name with a backslash; the expectations use slashes.
    if (!runner().empty())
        std::replace(r.err.begin(), r.err.end(), '\\', '/');
    fs::remove(out);
    fs::remove(err);
    return r;
}

// Writes an .xlsx workbook; cells made of digits only are written as numbers.
void writeXlsx(const fs::path& file, const std::vector<std::pair<std::string, Grid>>& sheets)
{
    lxw_workbook* book = workbook_new(file.c_str());
    ASSERT_NE(book, nullptr);
    for (const auto& [name, grid] : sheets) {
        lxw_worksheet* sheet = workbook_add_worksheet(book, name.c_str());
        for (lxw_row_t r = 0; r < grid.size(); ++r)
            for (lxw_col_t c = 0; c < grid[r].size(); ++c) {
                const std::string& v = grid[r][c];
                if (!v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
                    worksheet_write_number(sheet, r, c, std::stod(v), nullptr);
                else
                    worksheet_write_string(sheet, r, c, v.c_str(), nullptr);
            }
    }
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
}

class Tabrun : public ::testing::Test {
protected:
    test::TempDir dir;
    fs::path in = dir / "in";
    fs::path out = dir / "out";
    void SetUp() override
    {
        fs::create_directory(in);
        fs::create_directory(out);
        writeXlsx(in / "Sales.xlsx", {{"Sales", {{"Item", "Qty"}, {"Pen", "3"}, {"a,b", "10"}}}, {"Q1", {{"", "x"}}}});
    }
};

}  // namespace

TEST_F(Tabrun, ExitStatusesAndStreams)
{
    const std::string book = (in / "Sales.xlsx").string();
    const struct { std::vector<std::string> args; int status; std::string errStart; } cases[] = {
        {{}, 2, "usage: tabrun"},
        {{(in / "missing.xlsx").string(), out.string()}, 2, "tabrun: \"" + (in / "missing.xlsx").string()},
        {{"/name=2", book, out.string()}, 2, "tabrun: \"/name=2\""},
        {std::vector<std::string>(102, book), 2, "tabrun: too many arguments"},
        {{book, out.string(), "/NAME=2", "/unknown"}, 0, ""},
    };
    for (const auto& c : cases) {
        const Ran r = tabrun(dir, c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
        EXPECT_EQ(r.err.empty(), c.errStart.empty()) << r.err;
    }
    EXPECT_EQ(test::readFile(out / "Sales_Sales.csv"), "Item,Qty\r\nPen,3\r\n\"a,b\",10\r\n");
    EXPECT_EQ(test::readFile(out / "Sales_Q1.csv"), "x\r\n");
}

// --help, -h, /? and --version answer on standard output, but only as the first argument.
TEST_F(Tabrun, HelpAndVersion)
{
    const Ran help = tabrun(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.substr(0, 14), "usage: tabrun ");
    for (const char* option : {"/name=3", "/overwrite=0", "/open=1", "/quiet", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, {"/?", "x", "y"}, {"", "--help"}}) {
        const Ran r = tabrun(dir, args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, help.out) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }

    const Ran version = tabrun(dir, {"--version", "--help"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tabrun " TABULON_VERSION "\n");
    EXPECT_EQ(version.err, "");

    // Elsewhere they are what any word is there: an input that is no file, an ignored option.
    const Ran asInput = tabrun(dir, {"--HELP"});
    EXPECT_EQ(asInput.status, 2);
    EXPECT_EQ(asInput.out, "");
    EXPECT_EQ(asInput.err.substr(0, 16), "tabrun: \"--HELP\"");
    const Ran asOption = tabrun(dir, {(in / "Sales.xlsx").string(), out.string(), "--help", "--version"});
    EXPECT_EQ(asOption.status, 0) << asOption.err;
    EXPECT_EQ(asOption.out, "");
    EXPECT_TRUE(fs::exists(out / "Q1.csv"));

    // Help that cannot be written is a failure, not a success.
    SKIP_UNLESS_NATIVE();
    const std::string full = shellQuoted(TABRUN_PATH) + " --help >/dev/full 2>" + shellQuoted((dir / "err").string());
    const int status = std::system(full.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_EQ(test::readFile(dir / "err"), "tabrun: cannot write to standard output.\n");
}

TEST_F(Tabrun, CorruptWorkbookInTheMiddleOfAFolder)
{
    const std::string bytes = test::readFile(in / "Sales.xlsx");
    fs::rename(in / "Sales.xlsx", in / "a.xlsx");
    test::writeFile(in / "b.xlsx", bytes.substr(0, bytes.size() / 2));
    writeXlsx(in / "c.xls", {{"Only", {{"1"}}}});

    const Ran r = tabrun(dir, {in.string(), out.string(), "/name=3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.errLines(), 1u) << r.err;
    EXPECT_NE(r.err.find((in / "b.xlsx").string()), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(out / "a" / "2.csv"));
    EXPECT_EQ(test::readFile(out / "c" / "1.csv"), "1\r\n");  // .xls by name, read by content
}

TEST_F(Tabrun, UnwritableOutputDirectory)
{
    SKIP_UNLESS_NATIVE();
    // Root may write anywhere, so the run goes through the user nobody then.
    const std::string asNobody = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);

    Ran r = tabrun(dir, {(in / "Sales.xlsx").string(), out.string()}, asNobody);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errLines(), 1u) << r.err;
    EXPECT_NE(r.err.find(out.string()), std::string::npos) << r.err;

    r = tabrun(dir, {in.string(), out.string()}, asNobody);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find((out / "Sales").string()), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Tabrun, OpenHookRecordsTheOutputDirectory)
{
    SKIP_UNLESS_NATIVE();
    const fs::path log = dir / "opened.log";
    test::writeFile(dir / "record", "#!/bin/sh\nprintf '%s|' \"$@\" >> " + shellQuoted(log.string()) + "\n");
    fs::permissions(dir / "record", fs::perms::owner_all);
    const std::string hook = "TABULON_OPEN_COMMAND=" + shellQuoted((dir / "record").string());

    EXPECT_EQ(tabrun(dir, {(in / "Sales.xlsx").string(), out.string(), "/open=1", "/quiet"}, hook).status, 0);
    EXPECT_EQ(tabrun(dir, {(in / "Sales.xlsx").string(), out.string()}, hook).status, 0);
    // Opened after a run that converted nothing, but not when the folder or the input is missing.
    fs::create_directory(dir / "empty");
    EXPECT_EQ(tabrun(dir, {(dir / "empty").string(), out.string(), "/open=1"}, hook).status, 0);
    EXPECT_EQ(tabrun(dir, {(dir / "empty").string(), (dir / "none").string(), "/open=1"}, hook).status, 0);
    EXPECT_EQ(tabrun(dir, {(dir / "none.xlsx").string(), out.string(), "/open=1"}, hook).status, 2);
    EXPECT_EQ(test::readFile(log), out.string() + "/|" + out.string() + "/|");
}

// Sheets whose names clean to the same CSV name all keep their data: the later ones get a
// number, and one line each says so; the run still succeeds.
TEST_F(Tabrun, SheetsThatCleanToOneNameKeepTheirData)
{
    writeXlsx(in / "Book.xlsx", {{"a<b", {{"1"}}}, {"ab", {{"2"}}}, {"a|b", {{"3"}}}, {"AB (2)", {{"4"}}}});
    const Ran r = tabrun(dir, {(in / "Book.xlsx").string(), out.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFile(out / "ab.csv"), "1\r\n");
    EXPECT_EQ(test::readFile(out / "ab (2).csv"), "2\r\n");
    EXPECT_EQ(test::readFile(out / "ab (3).csv"), "3\r\n");
    EXPECT_EQ(test::readFile(out / "AB (2) (2).csv"), "4\r\n");
    ASSERT_EQ(r.errLines(), 3u) << r.err;
    EXPECT_NE(r.err.find("tabrun: \"" + (in / "Book.xlsx").string() + "\": the worksheet \"ab\" would replace \"ab.csv\" "
                         "of an earlier worksheet; it is saved as \"ab (2).csv\".\n"),
              std::string::npos)
        << r.err;
}

// A symbolic link where a workbook's folder would go is not followed: that workbook fails
// with a message and the others are converted.
TEST_F(Tabrun, SymbolicLinkInPlaceOfAWorkbookFolder)
{
    SKIP_UNLESS_NATIVE();
    fs::copy_file(in / "Sales.xlsx", in / "Other.xlsx");
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, out / "Sales");
    const Ran r = tabrun(dir, {in.string(), out.string()});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errLines(), 1u) << r.err;
    EXPECT_EQ(r.err, "tabrun: \"" + (out / "Sales").string() + "\" is a symbolic link, which is not followed; \"" +
                         (in / "Sales.xlsx").string() + "\" was not converted.\n");
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(fs::exists(out / "Other" / "Sales.csv"));
}

namespace {

// Starts tabrun without waiting; standard streams go to /dev/null.
pid_t startTabrun(const std::vector<std::string>& args, bool namedTemporaryFiles)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (namedTemporaryFiles)
            setenv("TABULON_NAMED_TEMPORARY_FILES", "1", 1);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(TABRUN_PATH)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(TABRUN_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// Waits (up to ten seconds) until `ready` holds.
bool waitFor(const std::function<bool()>& ready)
{
    for (int i = 0; i < 1000; ++i) {
        if (ready())
            return true;
        usleep(10000);
    }
    return false;
}

// Whether the process has a file open in `folder` that has no name there (O_TMPFILE).
bool writesAnonymouslyInto(pid_t pid, const fs::path& folder)
{
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind(folder.string() + "/", 0) == 0 && target.find("(deleted)") != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

// A run stopped by a signal while it writes a large sheet leaves nothing in the output
// folder: the named temporary file is removed on SIGINT, SIGTERM and SIGHUP, which then end
// the process as they would have; a file without a name is gone even after SIGKILL.
TEST_F(Tabrun, SignalsLeaveNoTemporaryFiles)
{
    SKIP_UNLESS_NATIVE();
    // Two corner cells: with the size limit off, gigabytes of commas take long enough to stop.
    lxw_workbook* book = workbook_new((in / "Corners.xlsx").c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Corners");
    worksheet_write_number(sheet, 0, 0, 1, nullptr);
    worksheet_write_number(sheet, 1048575, 16383, 2, nullptr);
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
    const std::vector<std::string> args = {(in / "Corners.xlsx").string(), out.string(), "/maxcsv=0"};

    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = startTabrun(args, true);
        const bool writing = waitFor([&] {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(out, ec))
                if (e.path().filename().string().rfind(".tabulon-", 0) == 0 && fs::file_size(e.path(), ec) > 0)
                    return true;
            return false;
        });
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(writing) << strsignal(signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal) << " status " << status;
        EXPECT_TRUE(fs::is_empty(out)) << strsignal(signal);
    }

    const pid_t pid = startTabrun(args, false);
    const bool writing = waitFor([&] { return writesAnonymouslyInto(pid, out); });
    EXPECT_TRUE(fs::is_empty(out));  // nothing has a name while it is written
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(writing);
    EXPECT_TRUE(fs::is_empty(out));
}
