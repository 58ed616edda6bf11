#include <gtest/gtest.h>

#include <chrono>

#include "FakeBook.h"
#include "ZipBuilder.h"
#include "core/ConvertCommand.h"

using namespace tabulon;

namespace {

// Records what a batch says; the window's other reactions do not matter here.
struct Recorder : core::ConvertListener {
    std::vector<std::string> said;
    void setProgressMaximum(int) override {}
    void setProgress(int) override {}
    void showError(const std::string& description) override { said.push_back(description); }
    void showMessage(const std::string& text, core::MessageIcon) override { said.push_back(text); }
    void setStatus(const std::string&) override {}
    void setBusy(bool) override {}
    void openFolder(const std::string&) override {}
};

// Every file below `folder`, as "sub/name=<content>", sorted.
std::vector<std::string> tree(const std::filesystem::path& folder)
{
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            out.push_back(std::filesystem::relative(entry.path(), folder).generic_string() + "=" +
                          test::readFile(entry.path()));
    std::sort(out.begin(), out.end());
    return out;
}

// A batch over every workbook of `data`, in the order given, into `out`.
std::vector<std::string> convertAll(const test::TempDir& data, const test::TempDir& out,
                                    const std::vector<std::string>& books, int namingMode, Recorder& recorder)
{
    core::ConvertRequest request;
    request.source = data.path().string();
    for (const auto& book : books)
        request.workbooks.push_back({book, true});
    request.outputText = out.path().string();
    request.outputIndex = 0;
    request.namingMode = namingMode;
    core::SheetSelection cache;
    core::SheetCounter counter;
    core::convertCommand(request, cache, counter, recorder);
    return tree(out.path());
}

}  // namespace

TEST(ConvertCommand, NamingModesAcrossABatch)
{
    const std::vector<std::string> expected[] = {
        {"BookA/One.csv=One\r\n", "BookA/Two.csv=Two\r\n", "BookB/Alpha.csv=Alpha\r\n"},
        {"BookA/Book A_One.csv=One\r\n", "BookA/Book A_Two.csv=Two\r\n", "BookB/Book.B_Alpha.csv=Alpha\r\n"},
        {"BookA/1.csv=One\r\n", "BookA/2.csv=Two\r\n", "BookB/1.csv=Alpha\r\n"},  // a finished workbook restarts the count
    };
    for (int mode = 0; mode < 3; ++mode) {
        test::TempDir data, out;
        test::FakeBooks fakes;
        test::writeFakeBook(data / "Book A.xlsx", "One,Two");
        test::writeFakeBook(data / "Book.B.xlsx", "Alpha");
        Recorder recorder;
        EXPECT_EQ(convertAll(data, out, {"Book A.xlsx", "Book.B.xlsx"}, mode, recorder), expected[mode]) << mode;
        EXPECT_TRUE(recorder.said.empty()) << mode;
    }
}

// A chart sheet before the worksheets shifts nothing: worksheet 1 is the first worksheet.
TEST(ConvertCommand, ChartSheetBeforeTheWorksheetsShiftsNothing)
{
    test::TempDir data, out;
    test::FakeBooks fakes;
    test::writeFakeBook(data / "Charted.xlsx", "Chart!,Data,More");
    Recorder recorder;
    EXPECT_EQ(convertAll(data, out, {"Charted.xlsx"}, 0, recorder),
              (std::vector<std::string>{"Charted/Data.csv=Data\r\n", "Charted/More.csv=More\r\n"}));
    EXPECT_TRUE(recorder.said.empty());
}

// A workbook that fails keeps the files written before the failure, and the next workbook
// continues the running numbers.
TEST(ConvertCommand, FailedWorkbookKeepsItsFilesAndTheRunningNumber)
{
    test::TempDir data, out;
    test::FakeBooks fakes;
    test::writeFakeBook(data / "A Fails.xlsx", "S1,S2,S3", 2);
    test::writeFakeBook(data / "B.xlsx", "T1,T2");
    Recorder recorder;
    EXPECT_EQ(convertAll(data, out, {"A Fails.xlsx", "B.xlsx"}, 2, recorder),
              (std::vector<std::string>{"AFails/1.csv=S1\r\n", "B/3.csv=T1\r\n", "B/4.csv=T2\r\n"}));
    ASSERT_EQ(recorder.said.size(), 2u);
    EXPECT_NE(recorder.said[0].find("the disk is full"), std::string::npos) << recorder.said[0];
    EXPECT_EQ(recorder.said[1], "Convert AFails file failed!");
}

TEST(ConvertCommand, SummaryReadsWell)
{
    using namespace std::chrono_literals;
    const struct {
        core::BatchSummary summary;
        const char* text;
    } cases[] = {
        {{0, 0, 0, 0, 0, false, 10ms}, "Done: no workbook was ticked, 0:00"},
        {{1, 1, 1, 0, 1, false, 499ms}, "Done: 1 of 1 workbook converted (1 worksheet), 0 failed, 0:00"},
        {{4, 4, 3, 1, 7, false, 4400ms}, "Done: 3 of 4 workbooks converted (7 worksheets), 1 failed, 0:04"},
        {{4, 2, 1, 0, 3, true, 61500ms}, "Stopped at workbook 2 of 4: 1 converted (3 worksheets), 0 failed, 1:02"},
        {{9, 9, 9, 0, 90, false, 3723s}, "Done: 9 of 9 workbooks converted (90 worksheets), 0 failed, 1:02:03"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(core::summaryText(c.summary), c.text);
}
