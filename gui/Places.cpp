#include "gui/Places.h"

#include <QDir>
#include <QSettings>

namespace tabulon::gui {
namespace {

QString key(Places::Dialog dialog)
{
    switch (dialog) {
    case Places::AddExcel:
        return QStringLiteral("folders/addExcel");
    case Places::AddFolder:
        return QStringLiteral("folders/addFolder");
    case Places::OutputFolder:
        return QStringLiteral("folders/output");
    }
    return {};
}

}  // namespace

QString Places::file() const
{
    return QDir(m_configFolder).filePath(QStringLiteral("places.ini"));
}

QString Places::lastFolder(Dialog dialog) const
{
    return QSettings(file(), QSettings::IniFormat).value(key(dialog)).toString();
}

void Places::setLastFolder(Dialog dialog, const QString& folder) const
{
    QDir().mkpath(m_configFolder);
    QSettings(file(), QSettings::IniFormat).setValue(key(dialog), folder);
}

QByteArray Places::windowGeometry() const
{
    return QSettings(file(), QSettings::IniFormat).value(QStringLiteral("window/geometry")).toByteArray();
}

void Places::setWindowGeometry(const QByteArray& geometry) const
{
    QDir().mkpath(m_configFolder);
    QSettings(file(), QSettings::IniFormat).setValue(QStringLiteral("window/geometry"), geometry);
}

}  // namespace tabulon::gui
