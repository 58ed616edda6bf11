#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "FakeBook.h"
#include "ZipBuilder.h"
#include "cli/RunTabrun.h"

using namespace tabulon;
namespace fs = std::filesystem;

namespace {

// Every file under `root`, as paths relative to it, folders ending in "/".
std::set<std::string> tree(const fs::path& root)
{
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out.insert(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    return out;
}

struct Result {
    int status;
    std::string err;
    size_t errLines() const { return static_cast<size_t>(std::count(err.begin(), err.end(), '\n')); }
};

Result run(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int status = cli::runTabrun(args, out, err, false);
    EXPECT_EQ(out.str(), "");  // a conversion writes nothing to standard output
    return {status, err.str()};
}

class RunConversion : public ::testing::Test {
protected:
    test::TempDir dir;
    test::FakeBooks fakes;
    fs::path in = dir / "in";
    fs::path out = dir / "out";
    void SetUp() override
    {
        fs::create_directory(in);
        fs::create_directory(out);
    }
};

}  // namespace

TEST_F(RunConversion, FileInputInEachNamingMode)
{
    test::writeFakeBook(in / "Sales.xlsx", "Sales,Q1");
    const struct { std::string option; std::set<std::string> files; } cases[] = {
        {"/name=1", {"Sales_Sales.csv", "Q1.csv"}},
        {"/name=2", {"Sales_Sales.csv", "Sales_Q1.csv"}},
        {"/name=3", {"1.csv", "2.csv"}},
    };
    for (const auto& c : cases) {
        fs::remove_all(out);
        const Result r = run({(in / "Sales.xlsx").string(), out.string(), c.option});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(tree(out), c.files) << c.option;
    }
    EXPECT_EQ(test::readFile(out / "2.csv"), "Q1\r\n");
}

TEST_F(RunConversion, RawCommandLineText)
{
    test::writeFakeBook(in / "Sales Book.xlsx", "Sales,Q1");
    std::ostringstream out, err;
    const std::string text = "  \"" + (in / "Sales Book.xlsx").string() + "\"   \"" + (dir / "csv out").string() + "\" /NAME=3";
    EXPECT_EQ(cli::runTabrunText(text, out, err, false), 0) << err.str();
    EXPECT_EQ(tree(dir / "csv out"), (std::set<std::string>{"1.csv", "2.csv"}));
    EXPECT_EQ(cli::runTabrunText("", out, err, false), 2);
    EXPECT_EQ(out.str(), "");

    // The first word of the text, after the spaces, may ask for the usage.
    EXPECT_EQ(cli::runTabrunText("  /? \"" + (in / "Sales Book.xlsx").string() + "\"", out, err, false), 0);
    EXPECT_EQ(out.str().substr(0, 13), "usage: tabrun");
}

TEST_F(RunConversion, FolderInputGivesOneFolderPerWorkbook)
{
    test::writeFakeBook(in / "a.xlsx", "x,y");
    test::writeFakeBook(in / "B.XLS", "z");
    test::writeFakeBook(in / "Report .ods", "Data");
    test::writeFakeBook(in / "a .xlsm", "y");     // shares the folder "a"
    test::writeFakeBook(in / ".hidden.xlsx", "h");
    test::writeFakeBook(in / "notes.txt", "t");
    fs::create_directory(in / "sub.xlsx");
    fs::create_directory(out / "B");
    test::writeFile(out / "B" / "keep.csv", "kept");

    Result r = run({in.string(), out.string(), "/name=2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(out), (std::set<std::string>{"a/", "a/a_x.csv", "a/a_y.csv", "a/a _y.csv", "B/", "B/keep.csv",
                                                "B/B_z.csv", "Report/", "Report/Report _Data.csv"}));

    // Running numbers restart with every workbook that converted completely.
    fs::remove_all(out);
    fs::create_directory(out);
    r = run({in.string(), out.string(), "/name=3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(out), (std::set<std::string>{"a/", "a/1.csv", "a/2.csv", "B/", "B/1.csv", "Report/",
                                                "Report/1.csv"}));
    // "a .xlsm" sorts first; "a.xlsx" then replaces its 1.csv.
    EXPECT_EQ(test::readFile(out / "a" / "1.csv"), "x\r\n");
}

TEST_F(RunConversion, OverwriteOffSkipsExistingFilesButUsesUpTheirNumbers)
{
    test::writeFakeBook(in / "book.xlsx", "p,q,r");
    test::writeFile(out / "2.csv", "old");
    Result r = run({(in / "book.xlsx").string(), out.string(), "/name=3", "/overwrite=0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFile(out / "2.csv"), "old");
    EXPECT_EQ(test::readFile(out / "3.csv"), "r\r\n");

    r = run({(in / "book.xlsx").string(), out.string(), "/name=3"});
    EXPECT_EQ(test::readFile(out / "2.csv"), "q\r\n");
}

TEST_F(RunConversion, FailingWorkbooksKeepTheirFilesAndTheRunGoesOn)
{
    test::writeFakeBook(in / "a.xlsx", "s1,s2,s3,s4", 3);
    test::writeFile(in / "b.xlsx", "this is not a workbook");
    test::writeFakeBook(in / "c.xlsx", "t1,t2");
    const Result r = run({in.string(), out.string(), "/name=3"});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errLines(), 2u) << r.err;
    EXPECT_NE(r.err.find((out / "a" / "3.csv").string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find((in / "b.xlsx").string()), std::string::npos) << r.err;
    // The failed save used up 3, b failed at once, so c continues from 4.
    EXPECT_EQ(tree(out), (std::set<std::string>{"a/", "a/1.csv", "a/2.csv", "b/", "c/", "c/4.csv", "c/5.csv"}));
}

TEST_F(RunConversion, WorkbookWithoutAFolderNameStopsTheRun)
{
    test::writeFakeBook(in / "  .xlsx", "x");  // sorts first; its name is all spaces
    test::writeFakeBook(in / "b.xlsx", "y");
    const Result r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), 1u) << r.err;
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(RunConversion, MissingOutputDirectory)
{
    test::writeFakeBook(in / "a.xlsx", "x");
    // Folder input: the first workbook folder cannot be created and the run stops.
    Result r = run({in.string(), (dir / "new").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errLines(), 1u);
    EXPECT_NE(r.err.find((dir / "new" / "a").string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "new"));

    // File input: the output directory is created when its parent exists.
    r = run({(in / "a.xlsx").string(), (dir / "new").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "new" / "x.csv"));
    r = run({(in / "a.xlsx").string(), (dir / "gone" / "new").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "gone"));

    // A file in the place of a workbook folder stops the run too.
    test::writeFile(out / "a", "");
    r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 1);
}

TEST_F(RunConversion, ProgressLineOnlyOnATerminalAndAfterASecond)
{
    test::writeFile(in / "slow.xlsx", "sheets=a,b\npause=1100\n");
    for (const bool quiet : {false, true}) {
        std::ostringstream standardOut, err;
        std::vector<std::string> args{(in / "slow.xlsx").string(), out.string()};
        if (quiet)
            args.push_back("/quiet");
        EXPECT_EQ(cli::runTabrun(args, standardOut, err, true), 0);
        if (quiet) {
            EXPECT_EQ(err.str(), "");
            continue;
        }
        // Drawn when the first sheet starts, erased at the end.
        const std::string shown = "\rtabrun: workbook 1 of 1, sheet 1 of 2\x1b[K", erased = "\r\x1b[K";
        EXPECT_EQ(err.str().substr(0, shown.size()), shown);
        EXPECT_TRUE(err.str().ends_with(erased)) << err.str();
    }
}

TEST(CollectWorkbooks, SortsWithoutRegardToCaseAndHasALimit)
{
    test::TempDir dir;
    for (const char* name : {"b.xlsx", "A.xls", "c.XLSB", "a2.ods", "d.xlsq", "e.odsx", "f.csv"})
        test::writeFile(dir / name, "");
    std::vector<std::string> files;
    std::string problem;
    ASSERT_TRUE(cli::collectWorkbooks(dir.path().string(), files, problem));
    const std::string p = dir.path().string() + "/";
    EXPECT_EQ(files, (std::vector<std::string>{p + "A.xls", p + "a2.ods", p + "b.xlsx", p + "c.XLSB", p + "d.xlsq"}));

    // The real limit is 10001; one file more than the limit fails the whole scan.
    EXPECT_TRUE(cli::collectWorkbooks(dir.path().string(), files, problem, 5));
    EXPECT_FALSE(cli::collectWorkbooks(dir.path().string(), files, problem, 4));
    EXPECT_NE(problem.find("more than 4 workbooks"), std::string::npos) << problem;
}
