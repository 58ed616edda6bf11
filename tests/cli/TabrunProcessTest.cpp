#include <filesystem>
#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <sys/wait.h>
#include <unistd.h>

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

struct Ran {
    int status = -1;
    std::string out, err;
    size_t errLines() const { return static_cast<size_t>(std::count(err.begin(), err.end(), '\n')); }
};

// Runs the real tabrun binary with its streams captured. `prefix` goes before the program
// (environment settings, or a command that drops root's privileges).
Ran tabrun(const test::TempDir& dir, const std::vector<std::string>& args, const std::string& prefix = "")
{
    std::string command = prefix + " " + shellQuoted(TABRUN_PATH);
    for (const auto& a : args)
        command += " " + shellQuoted(a);
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    command += " >" + shellQuoted(out.string()) + " 2>" + shellQuoted(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    Ran r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(out), test::readFile(err)};
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
