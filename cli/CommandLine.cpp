#include "CommandLine.h"

#include "core/OutputNaming.h"
#include "core/PathHelpers.h"

namespace tabulon::cli {

using core::kPathSeparator;
using core::lowerAscii;
using core::pathKind;
using core::NamingMode;
using core::PathKind;

namespace {

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with)
{
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, from)) {
        out.append(text.substr(from, at - from));
        out.append(with);
        from = at + what.size();
    }
    out.append(text.substr(from));
    return out;
}

ParseResult settle(std::vector<std::string> tokens, CommandLine& out)
{
    out = CommandLine{};
    out.tokens = std::move(tokens);
    out.inputPath = out.tokens[0];
    out.outputDir = out.tokens.size() > 1 ? out.tokens[1] : std::string();
    if (pathKind(out.inputPath) == PathKind::Missing)
        return ParseResult::InputMissing;
    if (out.outputDir.empty() || out.outputDir.back() != kPathSeparator)
        out.outputDir += kPathSeparator;

    for (size_t i = kFirstOption; i <= kLastOption && i < out.tokens.size(); ++i) {
        const std::string option = lowerAscii(out.tokens[i]);
        if (option == "/name=1" || option == "/name=2" || option == "/name=3")
            out.namingOption = option;
        else if (option == "/overwrite=0")
            out.overwriteExisting = false;
        else if (option == "/open=1")
            out.openOutputFolder = true;
        else if (option == "/quiet" || option == "-q")
            out.quiet = true;
        else if (option.starts_with("/maxcsv=")) {
            const auto size = parseSize(std::string_view(option).substr(8));
            if (!size) {
                out.badOption = out.tokens[i];
                return ParseResult::BadOption;
            }
            out.maxCsvBytes = *size;
        }
        // "/overwrite=1", "/open=0" and anything else change nothing.
    }
    return ParseResult::Ok;
}

}  // namespace

std::optional<uint64_t> parseSize(std::string_view text)
{
    uint64_t value = 0;
    size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const uint64_t digit = static_cast<uint64_t>(text[at] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (at == 0)
        return std::nullopt;
    std::string unit = lowerAscii(std::string(text.substr(at)));
    if (unit.ends_with("ib") && unit.size() == 3)
        unit.resize(1);
    else if (unit.ends_with("b") && unit.size() == 2)
        unit.resize(1);
    int shift = 0;
    if (unit == "k")
        shift = 10;
    else if (unit == "m")
        shift = 20;
    else if (unit == "g")
        shift = 30;
    else if (unit == "t")
        shift = 40;
    else if (!unit.empty())
        return std::nullopt;
    if (value > (UINT64_MAX >> shift))
        return std::nullopt;
    return value << shift;
}

int CommandLine::namingMode() const
{
    if (namingOption == "/name=2")
        return static_cast<int>(NamingMode::BookAndSheet);
    if (namingOption == "/name=3")
        return static_cast<int>(NamingMode::RunningNumber);
    return static_cast<int>(NamingMode::SheetName);
}

bool splitCommandLine(std::string_view text, std::vector<std::string>& tokens)
{
    // Quotes pair up from left to right; spaces between a pair (or after an unpaired
    // quote) are protected by the marker.
    std::string protectedText;
    protectedText.reserve(text.size());
    int quotes = 0;
    for (char c : text) {
        if (c == '"')
            ++quotes;
        if (quotes == 1 && c == ' ')
            protectedText += kSpaceMarker;
        else if (c != '"')
            protectedText += c;
        if (quotes == 2 && c == '"')
            quotes = 0;
    }

    size_t start = 0;
    while (start <= protectedText.size()) {
        size_t end = protectedText.find(' ', start);
        if (end == std::string::npos)
            end = protectedText.size();
        std::string piece =
            replaceAll(std::string_view(protectedText).substr(start, end - start), kSpaceMarker, " ");
        if (!piece.empty()) {
            if (tokens.size() >= kMaxTokens)
                return false;
            tokens.push_back(std::move(piece));
        }
        start = end + 1;
    }
    return true;
}

ParseResult parseCommandLine(const std::vector<std::string>& pieces, CommandLine& out)
{
    std::vector<std::string> tokens;
    for (const auto& piece : pieces) {
        if (piece.empty())
            continue;
        if (tokens.size() >= kMaxTokens)
            return ParseResult::TooManyTokens;
        tokens.push_back(piece);
    }
    if (tokens.empty())
        return ParseResult::NoArguments;
    return settle(std::move(tokens), out);
}

ParseResult parseCommandLineText(std::string_view text, CommandLine& out)
{
    std::vector<std::string> tokens;
    if (!splitCommandLine(text, tokens))
        return ParseResult::TooManyTokens;
    if (tokens.empty())
        return ParseResult::NoArguments;
    return settle(std::move(tokens), out);
}

}  // namespace tabulon::cli
