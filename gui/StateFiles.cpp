#include "gui/StateFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tabulon::gui {

QString chooseStateFolder(const QString& programFolder)
{
    // Probe by creating a file: permission bits alone miss read-only mounts.
    if (!programFolder.isEmpty() && QFileInfo(programFolder).isDir()) {
        QTemporaryFile probe(QDir(programFolder).filePath(QStringLiteral("probe-XXXXXX")));
        if (probe.open())
            return programFolder;
    }
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return config;
}

QStringList readLines(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(in.readAll());
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.mid(start);
    return lines;
}

bool writeLines(const QString& file, const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
}

SaveSwitches StateFiles::switches() const
{
    const QStringList lines = readLines(file("set.txt"));
    return {lines.value(0) == QLatin1String("1"), lines.value(1) == QLatin1String("1")};
}

bool StateFiles::saveOutputDirectories(const QStringList& entries) const
{
    return writeLines(file("output.txt"), entries.mid(0, kMaxOutputDirectories));
}

bool StateFiles::saveSwitches(SaveSwitches switches) const
{
    return writeLines(file("set.txt"), {switches.sourceList ? QStringLiteral("1") : QStringLiteral("0"),
                                        switches.outputDirectories ? QStringLiteral("1") : QStringLiteral("0")});
}

QString StateFiles::file(const char* name) const
{
    return QDir(m_folder).filePath(QString::fromLatin1(name));
}

}  // namespace tabulon::gui
