#pragma once
#include <QDialog>

class QLabel;

namespace tabulon::gui {

// Where the home page and the support mail lead.
inline constexpr const char* kHomePage = "https://tabulon.example/";
inline constexpr const char* kHomePageHost = "tabulon.example";
inline constexpr const char* kSupportMail = "help@tabulon.example";

// "About us": product, version, support mail and web links, and the copying notice.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_mailLink;
    QLabel* m_webLink;
};

}  // namespace tabulon::gui
