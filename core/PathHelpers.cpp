#include "PathHelpers.h"

#include <algorithm>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tabulon::core {

namespace {

bool isSeparator(char c)
{
    return c == '/' || c == kPathSeparator;
}

PathKind kindOf(std::string_view text)
{
    if (text.empty() || text.find_first_of("*?") != std::string_view::npos)
        return PathKind::Missing;
    // The last name decides whether the entry is hidden; "out/" names "out".
    size_t end = text.size();
    while (end > 1 && isSeparator(text[end - 1]))
        --end;
    size_t nameStart = end;
    while (nameStart > 0 && !isSeparator(text[nameStart - 1]))
        --nameStart;
    const std::string_view name = text.substr(nameStart, end - nameStart);
    // "." and ".." refer to folders, they are not hidden names.
    if (name.size() > 0 && name[0] == '.' && name != "." && name != "..")
        return PathKind::Missing;

#if defined(_WIN32)
    // Windows marks hidden and system entries by attribute rather than by name.
    const DWORD attributes = GetFileAttributesW(toPath(text).c_str());
    // Drive roots carry both attributes and still count as folders.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) &&
        !name.empty() && name.back() != ':')
        return PathKind::Missing;
#endif
    std::error_code ec;
    const auto status = std::filesystem::status(toPath(text), ec);
    if (ec)
        return PathKind::Missing;
    if (std::filesystem::is_directory(status))
        return PathKind::Folder;
    if (std::filesystem::is_regular_file(status))
        return PathKind::File;
    return PathKind::Missing;
}

}  // namespace

PathKind pathKind(const std::filesystem::path& path) noexcept
{
    try {
        return kindOf(path.string());
    } catch (...) {
        return PathKind::Missing;
    }
}

PathKind pathKind(const std::string& utf8Path) noexcept
{
    try {
        return kindOf(utf8Path);
    } catch (...) {
        return PathKind::Missing;
    }
}

std::string stripExtension(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string stripSpacesAndDots(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name)
        if (c != ' ' && c != '.')
            out += c;
    return out;
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> workbookNamesIn(const std::filesystem::path& folder, std::error_code& error)
{
    error.clear();
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.')
            continue;
#if defined(_WIN32)
        // Hidden and system files by attribute, as Explorer hides them.
        const DWORD attributes = GetFileAttributesW(it->path().c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            continue;
#endif
        const size_t dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? std::string() : lowerAscii(name.substr(dot + 1));
        std::error_code typeError;
        if ((extension.starts_with("xls") || extension == "ods") && it->is_regular_file(typeError))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = lowerAscii(a), lb = lowerAscii(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}

}  // namespace tabulon::core
