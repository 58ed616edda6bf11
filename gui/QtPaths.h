#pragma once
#include <QString>
#include <filesystem>
#include <string>

namespace tabulon::gui {

// QString and the core's paths and UTF-8 text, both ways, keeping every file name intact.
inline std::filesystem::path toPath(const QString& text)
{
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(text.toStdString());
#endif
}

inline QString fromPath(const std::filesystem::path& path)
{
#ifdef _WIN32
    return QString::fromStdWString(path.wstring());
#else
    return QString::fromStdString(path.string());
#endif
}

inline QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace tabulon::gui
