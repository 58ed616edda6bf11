#pragma once
#include <QDir>
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

// A folder typed by the user, made absolute: a leading "~" is the home folder, and any other
// relative path is taken from the home folder too (a program started from a menu has no
// working folder the user knows). Empty and absolute text comes back unchanged.
inline QString absoluteFromHome(const QString& typed)
{
    if (typed.isEmpty() || QDir::isAbsolutePath(typed))
        return typed;
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (typed == QLatin1String("~"))
        return home;
    QString rest = typed;
    if (typed.startsWith(QLatin1String("~/")) || typed.startsWith(QLatin1Char('~') + QDir::separator()))
        rest = typed.mid(2);
    return rest.isEmpty() ? home : QDir::toNativeSeparators(QDir(home).filePath(rest));
}

}  // namespace tabulon::gui
