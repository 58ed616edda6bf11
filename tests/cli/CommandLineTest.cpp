#include <gtest/gtest.h>

#include "ZipBuilder.h"
#include "cli/CommandLine.h"

using namespace tabulon;
using cli::ParseResult;
using Tokens = std::vector<std::string>;

TEST(SplitCommandLine, QuotingCases)
{
    const struct { std::string_view text; Tokens tokens; } cases[] = {
        {R"("C:\My Files\Book 1.xls" "D:\CSV Out" /open=1)", {R"(C:\My Files\Book 1.xls)", R"(D:\CSV Out)", "/open=1"}},
        {R"("" c:\in c:\out)", {R"(c:\in)", R"(c:\out)"}},
        {R"(C:\My" "Files)", {R"(C:\My Files)"}},
        {R"(a "b c d)", {"a", "b c d"}},
        {R"(a "b" "c d" "e f)", {"a", "b", "c d", "e f"}},
        {"a!@@#!$%@#%$#@^b", {"a b"}},
        {"  a    b  ", {"a", "b"}},
        {"a\tb", {"a\tb"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        Tokens tokens;
        EXPECT_TRUE(cli::splitCommandLine(c.text, tokens)) << c.text;
        EXPECT_EQ(tokens, c.tokens) << c.text;
    }
}

TEST(SplitCommandLine, AtMost101Tokens)
{
    std::string text;
    for (int i = 0; i < 101; ++i)
        text += "t" + std::to_string(i) + "  ";
    Tokens tokens;
    EXPECT_TRUE(cli::splitCommandLine(text, tokens));
    tokens.clear();
    EXPECT_FALSE(cli::splitCommandLine(text + "extra", tokens));
    EXPECT_EQ(tokens.size(), 101u);
}

TEST(ParseCommandLine, OptionsAndPaths)
{
    test::TempDir dir;
    test::writeFile(dir / "Book One.XLSX", "x");
    const std::string in = (dir / "Book One.XLSX").string();
    const std::string out = (dir / "Out Dir").string();

    struct Expect { std::string naming; bool overwrite, open, quiet; };
    const struct { Tokens options; Expect expect; } cases[] = {
        {{}, {"/name=1", true, false, false}},
        {{"/NAME=2"}, {"/name=2", true, false, false}},
        {{"/name=3", "/name=2"}, {"/name=2", true, false, false}},
        {{"/name=4", "/name=2x", "-name=2", "name=2", "/overwrite", "/open"}, {"/name=1", true, false, false}},
        {{"/overwrite=0", "/overwrite=1", "/open=1", "/open=0"}, {"/name=1", false, true, false}},
        {{"", "/Open=1", "", "-q"}, {"/name=1", true, true, true}},
        // Only positions 2 to 13 hold options: the 13th option is ignored.
        {{"x", "x", "x", "x", "x", "x", "x", "x", "x", "x", "x", "/name=3", "/name=2"}, {"/name=3", true, false, false}},
    };
    for (const auto& c : cases) {
        Tokens args{in, out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        cli::CommandLine cl;
        ASSERT_EQ(cli::parseCommandLine(args, cl), ParseResult::Ok);
        EXPECT_EQ(cl.inputPath, in);
        EXPECT_EQ(cl.outputDir, out + "/");
        EXPECT_EQ(cl.namingOption, c.expect.naming) << ::testing::PrintToString(c.options);
        EXPECT_EQ(cl.overwriteExisting, c.expect.overwrite) << ::testing::PrintToString(c.options);
        EXPECT_EQ(cl.openOutputFolder, c.expect.open) << ::testing::PrintToString(c.options);
        EXPECT_EQ(cl.quiet, c.expect.quiet) << ::testing::PrintToString(c.options);
    }

    cli::CommandLine cl;
    ASSERT_EQ(cli::parseCommandLine({in}, cl), ParseResult::Ok);
    EXPECT_EQ(cl.outputDir, "/");
    ASSERT_EQ(cli::parseCommandLine({in, "out/"}, cl), ParseResult::Ok);
    EXPECT_EQ(cl.outputDir, "out/");
}

TEST(ParseCommandLine, SizeOfTheCsvLimit)
{
    const struct { const char* text; std::optional<uint64_t> size; } cases[] = {
        {"0", 0}, {"1500", 1500}, {"64k", 64 << 10}, {"2M", 2 << 20}, {"3GiB", uint64_t(3) << 30},
        {"1tb", uint64_t(1) << 40}, {"16777215T", uint64_t(16777215) << 40},
        {"", std::nullopt}, {"G", std::nullopt}, {"1.5G", std::nullopt}, {"-1", std::nullopt},
        {"1 G", std::nullopt}, {"1Gx", std::nullopt}, {"16777216T", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cli::parseSize(c.text), c.size) << c.text;

    test::TempDir dir;
    cli::CommandLine cl;
    ASSERT_EQ(cli::parseCommandLine({dir.path().string(), "out"}, cl), ParseResult::Ok);
    EXPECT_EQ(cl.maxCsvBytes, uint64_t(1) << 30);
    ASSERT_EQ(cli::parseCommandLine({dir.path().string(), "out", "/MAXCSV=20G"}, cl), ParseResult::Ok);
    EXPECT_EQ(cl.maxCsvBytes, uint64_t(20) << 30);
    ASSERT_EQ(cli::parseCommandLine({dir.path().string(), "out", "/maxcsv=2x"}, cl), ParseResult::BadOption);
    EXPECT_EQ(cl.badOption, "/maxcsv=2x");
}

TEST(ParseCommandLine, UnusableCommandLines)
{
    test::TempDir dir;
    const std::string folder = dir.path().string();
    Tokens tooMany(102, folder);
    const struct { Tokens args; ParseResult result; } cases[] = {
        {{}, ParseResult::NoArguments},
        {{"", ""}, ParseResult::NoArguments},
        {{"/name=2", folder, "out"}, ParseResult::InputMissing},
        {{folder + "/missing.xls", "out"}, ParseResult::InputMissing},
        {{folder + "/*.xls", "out"}, ParseResult::InputMissing},
        {tooMany, ParseResult::TooManyTokens},
        {Tokens(101, folder), ParseResult::Ok},
        {{folder, "out", "/maxcsv=lots"}, ParseResult::BadOption},
        {{folder, "out", "/maxcsv="}, ParseResult::BadOption},
    };
    for (const auto& c : cases) {
        cli::CommandLine cl;
        EXPECT_EQ(cli::parseCommandLine(c.args, cl), c.result) << ::testing::PrintToString(c.args);
    }
}
