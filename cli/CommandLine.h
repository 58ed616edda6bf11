#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Workbook.h"

namespace tabulon::cli {

// tabrun's command line: input path, output directory, then up to twelve options.
inline constexpr size_t kMaxTokens = 101;
inline constexpr size_t kFirstOption = 2;
inline constexpr size_t kLastOption = 13;
// Stands for a space inside quotes while raw command-line text is split.
inline constexpr std::string_view kSpaceMarker = "!@@#!$%@#%$#@^";

// The settings of one run, with their start values.
struct CommandLine {
    std::vector<std::string> tokens;  // non-empty pieces in order, at most kMaxTokens, as given
    std::string inputPath;            // exactly as given
    std::string outputDir;            // as given, always ending in the path separator
    std::string namingOption = "/name=1";
    bool overwriteExisting = true;
    bool openOutputFolder = false;
    bool quiet = false;  // no progress line
    // /maxcsv=SIZE: the size a mostly empty worksheet's CSV may reach (0: no limit).
    uint64_t maxCsvBytes = engine::kDefaultCsvSizeLimit;
    std::string badOption;  // the option that made the result BadOption

    // The naming mode of csvBaseName selected by namingOption.
    int namingMode() const;
};

enum class ParseResult { Ok, NoArguments, TooManyTokens, InputMissing, BadOption };

// A size as /maxcsv takes it: a whole number of bytes, optionally followed by K, M, G or T
// (powers of 1024, in any case, with or without a following "B" or "iB").
std::optional<uint64_t> parseSize(std::string_view text);

// Splits raw command-line text (the form Windows hands over) into tokens: spaces inside
// double quotes are protected, quotes are removed, pieces are cut at single spaces and
// empty pieces dropped. Appends to `tokens`; returns false when there are more than
// kMaxTokens tokens (those stored until then stay).
bool splitCommandLine(std::string_view text, std::vector<std::string>& tokens);

// Reads the pieces the shell already split (argv[1..]); empty pieces take no position.
// On success fills `out`; the input must be an existing file or folder. Option words are
// compared without regard to case; the paths are kept exactly as given.
ParseResult parseCommandLine(const std::vector<std::string>& pieces, CommandLine& out);

// The same for raw command-line text, through splitCommandLine.
ParseResult parseCommandLineText(std::string_view text, CommandLine& out);

}  // namespace tabulon::cli
