#include "dialogs/CommonDialogs.h"

#include "dialogs/Seams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>

namespace tabulon::dialogs {
namespace {

int lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
}

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

// "Text|*.txt;*.log|All|*.*" becomes Qt's "Text (*.txt *.log)", "All (*)".
QStringList qtFilters(const QString& barSeparated)
{
    QString text = barSeparated;
    if (text.trimmed().isEmpty())
        text = QStringLiteral("*.*|*.*");
    const QStringList pieces = text.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < pieces.size(); i += 2) {
        QStringList patterns = pieces[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");  // every file, also those without a dot
        }
        filters << pieces[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

}  // namespace

QString CommonDialogs::cutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// The patterns of showOpen as the user reads them; matched without regard to case.
const char* const kWorkbookPatterns[] = {"*.xl*", "*.ods"};

QString CommonDialogs::workbookFilter()
{
    QStringList shown, matched;
    for (const char* pattern : kWorkbookPatterns) {
        shown << QString::fromLatin1(pattern);
        QString anyCase;  // "*.[xX][lL]*": file systems here tell case apart
        for (const QChar c : QString::fromLatin1(pattern))
            anyCase += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper()) : QString(c);
        matched << anyCase;
    }
    return QStringLiteral("Excel and OpenDocument files(") + shown.join(QLatin1Char(';')) + QStringLiteral(") (")
           + matched.join(QLatin1Char(' ')) + QLatin1Char(')');
}

bool CommonDialogs::matchesWorkbookFilter(const QString& fileName)
{
    for (const char* pattern : kWorkbookPatterns) {
        const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(QString::fromLatin1(pattern)),
                                       QRegularExpression::CaseInsensitiveOption);
        if (match.match(fileName).hasMatch())
            return true;
    }
    return false;
}

QString CommonDialogs::startFolder() const
{
    return QFileInfo(path()).isDir() ? path() : QString();
}

void CommonDialogs::takeChosenFile(const QString& chosen)
{
    const int cut = lastSeparator(chosen);
    m_fileName = chosen;
    m_fileTitle = chosen.mid(cut + 1);
    // A file in the root folder keeps "/" as its folder rather than an empty path.
    m_path = cut == 0 ? chosen.left(1) : chosen.left(std::max(cut, 0));
}

bool CommonDialogs::showOpen()
{
    FileRequest request;
    request.owner = m_owner;
    request.caption = title();
    request.directory = startFolder();
    request.proposedName = fileName().trimmed();
    request.filters = {workbookFilter()};
    request.defaultSuffix = m_defExt.startsWith(QLatin1Char('.')) ? m_defExt.mid(1) : m_defExt;
    request.mustExist = true;
    const std::optional<QString> chosen = dialogBackend().openFile(request);
    if (!chosen)
        return false;
    takeChosenFile(*chosen);
    return true;
}

bool CommonDialogs::showFolder()
{
    const std::optional<QString> chosen = dialogBackend().folder(m_owner, title(), startFolder());
    if (!chosen)
        return false;
    m_path = *chosen;
    m_fileName.clear();
    m_fileTitle.clear();
    return true;
}

bool CommonDialogs::showSave()
{
    // The start folder is settled first and stays in path() whatever the user does next.
    if (path().trimmed().isEmpty()) {
        m_path = programFolder();
    } else {
        if (!m_path.endsWith(QDir::separator()) && !m_path.endsWith(QLatin1Char('/')))
            m_path += QDir::separator();
        if (!QFileInfo(m_path).isDir())
            m_path = programFolder();
    }
    FileRequest request;
    request.owner = m_owner;
    request.caption = QStringLiteral("Save");
    request.directory = path();
    request.filters = qtFilters(m_filter);
    request.selectedFilter = 0;
    const std::optional<QString> chosen = dialogBackend().saveFile(request);
    if (!chosen)
        return false;
    takeChosenFile(*chosen);
    return true;
}

bool CommonDialogs::showColor(bool fullOpen)
{
    ColorRequest request;
    request.owner = m_owner;
    request.initial = QColor(m_color & 0xFF, (m_color >> 8) & 0xFF, (m_color >> 16) & 0xFF);
    request.fullOpen = fullOpen;
    const std::optional<QColor> chosen = dialogBackend().color(request);
    if (!chosen)
        return false;
    m_color = int32_t(chosen->red() | (chosen->green() << 8) | (chosen->blue() << 16));
    return true;
}

bool CommonDialogs::showFont()
{
    FontRequest request;
    request.owner = m_owner;
    request.initial.setFamily(m_fontName.left(31));
    if (m_fontSize > 0)
        request.initial.setPointSize(m_fontSize);
    request.initial.setBold(m_fontBold);
    request.initial.setItalic(m_fontItalic);
    request.initial.setUnderline(m_fontUnderline);
    const std::optional<QFont> chosen = dialogBackend().font(request);
    if (!chosen)
        return false;
    m_fontName = chosen->family();
    m_fontBold = chosen->bold();
    m_fontItalic = chosen->italic();
    // Sizes come in tenths of a point and are rounded down to whole points.
    double points = chosen->pointSizeF();
    if (points <= 0)
        points = chosen->pixelSize() * 72.0 / 96.0;
    m_fontSize = int16_t(std::lround(points * 10) / 10);
    return true;
}

bool CommonDialogs::showPrinter()
{
    return dialogBackend().printer(m_owner);
}

bool CommonDialogs::showPrinterProperties()
{
    return dialogBackend().printerProperties(m_owner);
}

}  // namespace tabulon::dialogs
