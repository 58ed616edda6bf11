#include "gui/AboutDialog.h"

#include "dialogs/Seams.h"
#include "gui/Twips.h"

#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

namespace tabulon::gui {
namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width, int height)
{
    auto* result = new QLabel(text, parent);
    result->setObjectName(QString::fromLatin1(name));
    place(result, left, top, width, height);
    return result;
}

void styleAsLink(QLabel* link)
{
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    link->setPalette(palette);
    link->setFont(arial(9.6));
    link->setCursor(Qt::PointingHandCursor);
    // A configured address may be longer than the label: shortened in the middle, whole in
    // the tooltip (the click opens the whole one either way).
    const QString whole = link->text();
    const QString shown = link->fontMetrics().elidedText(whole, Qt::ElideMiddle, link->width());
    if (shown != whole) {
        link->setText(shown);
        link->setToolTip(whole);
    }
}

}  // namespace

AboutDialog::AboutDialog(const Links& links, const QString& helpFile, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_links(links),
      m_helpFile(helpFile)
{
    setObjectName(QStringLiteral("Dialog1"));
    setWindowTitle(QStringLiteral("About us"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setWindowModality(Qt::ApplicationModal);
    setFont(arial(8.4));
    setFixedSize(px(4908), px(4116));
    // Not centred over the main window: a fixed place on the screen.
    move(px(2760), px(3600));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Picture"));
    picture->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(48, 48));
    picture->setGeometry(0, 0, 48, 48);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    place(ok, 120, 3600, 1215, 375);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    label(this, "Label1", QStringLiteral("Tabulon"), 840, 240, 2055, 255);
    label(this, "Label4", QStringLiteral("Version:" TABULON_VERSION), 840, 480, 1455, 255);
    QLabel* notice = label(this, "Label5",
                           QStringLiteral("Warning: this program is protected by copyright law. Reproducing or "
                                          "distributing it, or any part of it, without permission is not allowed.\n"),
                           120, 2280, 4695, 1095);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    place(frame, 240, 960, 4450, 1090);
    m_mailLink = label(frame, "Label2", m_links.supportMail, 1800, 240, 2290, 250);
    QLabel* support = label(frame, "Label3", QStringLiteral("Technical Support:"), 120, 240, 1690, 250);
    // No address configured: no mail link rather than a dead one.
    m_mailLink->setVisible(!m_links.supportMail.isEmpty());
    support->setVisible(!m_links.supportMail.isEmpty());
    QLabel* maker = label(frame, "Label6", QStringLiteral("Copyright 2026 Tabulon developers"), 120, 720, 3135, 255);
    maker->setFont(arial(9));
    label(frame, "Label7", QStringLiteral(" Website:"), 120, 480, 850, 250);
    // The host name alone; the help page by its file name until there is a home page.
    const QString webText =
        m_links.homePage.isEmpty() ? QFileInfo(m_helpFile).fileName() : QUrl(m_links.homePage).host();
    m_webLink = label(frame, "Label8", webText, 1800, 480, 1930, 250);
    styleAsLink(m_mailLink);
    styleAsLink(m_webLink);
    m_mailLink->installEventFilter(this);
    m_webLink->installEventFilter(this);
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_mailLink && !m_links.supportMail.isEmpty())
            dialogs::shellOpen(this, QStringLiteral("mailto:") + m_links.supportMail, dialogs::kShowMaximized);
        else if (watched == m_webLink)
            dialogs::shellOpen(this, m_links.homePage.isEmpty() ? m_helpFile : m_links.homePage, dialogs::kShow);
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace tabulon::gui
