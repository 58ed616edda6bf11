#pragma once
#include <QByteArray>
#include <QString>

namespace tabulon::gui {

// Where things were when the user last left them: the folder each dialog last chose from
// and the main window's place on screen. Kept in places.ini in the configuration folder,
// apart from the three state files; a missing or unreadable file means "nothing known".
class Places {
public:
    // Dialogs that remember their folder.
    enum Dialog { AddExcel, AddFolder, OutputFolder };

    explicit Places(QString configFolder) : m_configFolder(std::move(configFolder)) {}
    QString file() const;

    QString lastFolder(Dialog dialog) const;
    void setLastFolder(Dialog dialog, const QString& folder) const;
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& geometry) const;

private:
    QString m_configFolder;
};

}  // namespace tabulon::gui
