#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tabulon::core {

// What a path names. The numbers are the ones the conversion rules compare against.
enum class PathKind { Missing = 0, Folder = 1, File = 2 };

// Classifies a path; never throws. Missing also covers every path that is not usable:
// empty, with wildcards ("*" or "?"), hidden (a last name beginning with "."), neither a
// folder nor an ordinary file, or not reachable (a parent folder that cannot be searched).
// Trailing separators are ignored, so "out/" names the folder "out"; "/" is a folder.
PathKind pathKind(const std::filesystem::path& path) noexcept;
PathKind pathKind(const std::string& utf8Path) noexcept;

// Paths are UTF-8 text inside the program. On Windows a std::string would be read in the
// ANSI code page; this reads it as UTF-8 everywhere (path::string() gives UTF-8 back).
inline std::filesystem::path toPath(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The name cut before its last "."; a name without a dot comes back unchanged.
// Knows nothing of folders: a dot in a folder part counts like any other.
std::string stripExtension(std::string_view name);

// The name with every space (U+0020) and every "." removed; other blanks stay.
std::string stripSpacesAndDots(std::string_view name);

// The names of the workbooks directly inside `folder`: ordinary files, not hidden (a name
// beginning with "."; on Windows also the hidden or system attribute), whose
// extension begins with "xls" or is "ods" without regard to case, sorted by name without
// regard to case (names equal but for case in a fixed order). Sets `error` when the folder
// cannot be listed; the names found until then are returned.
std::vector<std::string> workbookNamesIn(const std::filesystem::path& folder, std::error_code& error);

// The text with ASCII capitals made small; other characters stay.
std::string lowerAscii(std::string_view text);

// The platform's path separator as text, for joins written as folder + separator + name.
inline constexpr char kPathSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

}  // namespace tabulon::core
