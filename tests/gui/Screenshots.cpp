// Saves pictures of the main window, the Setting dialog and the About window, for a person
// to look at: gui_screenshots <picture folder> [folder of workbooks to show]
#include "gui/AboutDialog.h"
#include "gui/MainWindow.h"
#include "gui/SettingsDialog.h"
#include "tests/gui/Fakes.h"

#include <QComboBox>
#include <QToolButton>
#include <QTreeWidget>

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir state;
    tabulon::gui::MainWindow window(state.path(), state.path());
    window.show();
    QTest::qWait(200);
    window.grab().save(QDir(out).filePath("form1.png"));
    QTemporaryDir converted;
    if (argc > 2) {
        tabulon::testing::FakeDialogs dialogs;
        tabulon::testing::FakeShell shell;
        dialogs.folders = {QString::fromLocal8Bit(argv[2]), converted.path()};
        window.findChild<QToolButton*>("Command5")->click();
        window.findChild<QPushButton*>("Command10")->click();
        auto* sheets = window.findChild<QTreeWidget*>("ListView3");
        if (sheets->topLevelItemCount() > 1)
            sheets->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        window.findChild<QComboBox*>("Combo1")->setCurrentIndex(1);
        QTest::qWait(200);
        window.grab().save(QDir(out).filePath("form1-filled.png"));
        window.findChild<QToolButton*>("Command6")->click();  // the summary on the status line
        QTest::qWait(100);
        window.grab().save(QDir(out).filePath("form1-done.png"));
    }

    tabulon::gui::SettingsDialog settings(window.state());
    settings.show();
    QTest::qWait(100);
    settings.grab().save(QDir(out).filePath("setting.png"));

    // Every picture at the size it is used, enlarged three times without smoothing.
    const struct {
        const char* file;
        int size;
    } icons[] = {{"app", 48}, {"sheet", 48}, {"folder", 48}, {"globe", 48}, {"remove", 32}, {"help", 32},
                 {"exit", 32}, {"up", 16}, {"down", 16}, {"list-workbook", 16}, {"list-folder", 16},
                 {"list-missing", 16}};
    QImage sheet(12 * 52, 52, QImage::Format_ARGB32);
    sheet.fill(QColor(0xc0, 0xc0, 0xc0));
    QPainter painter(&sheet);
    for (int i = 0; i < 12; ++i)
        painter.drawPixmap(i * 52 + 2, 2, QIcon(QStringLiteral(":/icons/%1.svg").arg(icons[i].file)).pixmap(icons[i].size));
    painter.end();
    sheet.scaled(sheet.size() * 3).save(QDir(out).filePath("icons.png"));

    // As this build is configured, and with a home page and support address set.
    const tabulon::gui::Links sample{QStringLiteral("https://tabulon.example.org/"),
                                     QStringLiteral("help@tabulon.example.org")};
    for (const auto& [links, file] : {std::pair{window.links(), "about.png"}, {sample, "about-links.png"}}) {
        tabulon::gui::AboutDialog about(links, window.helpFile(), &window);
        about.show();
        QTest::qWait(100);
        about.grab().save(QDir(out).filePath(file));
    }
    return 0;
}
