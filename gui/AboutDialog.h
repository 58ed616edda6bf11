#pragma once
#include "gui/Installation.h"

#include <QDialog>

class QLabel;

namespace tabulon::gui {

// "About us": product, version, support mail and web links, and the copying notice. Without
// a home page the web link opens the help page; without a support address there is no
// mail link at all.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const Links& links, const QString& helpFile, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Links m_links;
    QString m_helpFile;
    QLabel* m_mailLink;
    QLabel* m_webLink;
};

}  // namespace tabulon::gui
