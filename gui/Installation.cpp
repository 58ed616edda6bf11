#include "gui/Installation.h"

#include "gui/StateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tabulon::gui {

InstallLayout builtInLayout()
{
    return {QStringLiteral(TABULON_INSTALL_BINDIR), QStringLiteral(TABULON_INSTALL_HELP_FILE),
            QStringLiteral(TABULON_HELP_FROM_BINDIR)};
}

QString findHelpFile(const QString& programFolder, const InstallLayout& layout)
{
    const QString beside = QDir(programFolder).filePath(QStringLiteral("help.html"));
    const QString candidates[] = {beside, QDir::cleanPath(QDir(programFolder).filePath(layout.helpFromBindir)),
                                  layout.helpFile};
    for (const QString& candidate : candidates)
        if (!candidate.isEmpty() && QFileInfo(candidate).isFile())
            return QDir::toNativeSeparators(candidate);
    return QDir::toNativeSeparators(beside);
}

bool isInstalled(const QString& programFolder, const InstallLayout& layout)
{
    const QString here = QFileInfo(programFolder).canonicalFilePath();
    if (!here.isEmpty() && here == QFileInfo(layout.bindir).canonicalFilePath())
        return true;
    return !layout.helpFromBindir.isEmpty() && QFileInfo(QDir(programFolder).filePath(layout.helpFromBindir)).isFile();
}

QString stateFolderFor(const QString& programFolder, const InstallLayout& layout)
{
    // An installed program's folder is shared by every user (and writable under sudo): its
    // state belongs to the user.
    if (isInstalled(programFolder, layout))
        return chooseStateFolder(QString());
    return chooseStateFolder(programFolder);
}

Links builtInLinks()
{
    Links links{QStringLiteral(TABULON_HOME_PAGE), QStringLiteral(TABULON_SUPPORT_MAIL)};
    if (links.supportMail.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
        links.supportMail = links.supportMail.mid(7);
    return links;
}

}  // namespace tabulon::gui
