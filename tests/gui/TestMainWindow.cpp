#include "gui/AboutDialog.h"
#include "gui/MainWindow.h"
#include "gui/StateFiles.h"
#include "tests/gui/Fakes.h"
#include "tests/gui/GuiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace tabulon;
using namespace tabulon::testing;
using gui::MainWindow;

namespace {

void writeAll(const QString& file, const QByteArray& bytes)
{
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(bytes);
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void windowHasItsFixedLayout()
    {
        QTemporaryDir state;
        MainWindow window(state.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Tabulon"));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint),
                 Qt::WindowMinimizeButtonHint);
        QCOMPARE(window.centralWidget()->size(), QSize(606, 543));

        const struct {
            const char* name;
            QRect geometry;
        } controls[] = {
            {"Command1", {8, 0, 81, 65}},   {"Command9", {536, 0, 65, 65}},     {"ListView1", {8, 72, 561, 177}},
            {"Command3", {576, 112, 25, 41}}, {"ListView3", {280, 280, 289, 185}}, {"Combo5", {144, 496, 321, 22}},
            {"ProgressBar1", {8, 520, 593, 17}},
        };
        for (const auto& c : controls)
            QCOMPARE(child<QWidget>(&window, c.name)->geometry(), c.geometry);

        auto* namingMode = child<QComboBox>(&window, "Combo1");
        QVERIFY(!namingMode->isEditable() && child<QComboBox>(&window, "Combo5")->isEditable());
        QCOMPARE(namingMode->count(), 3);
        QCOMPARE(namingMode->currentIndex(), 0);
        QCOMPARE(child<QLabel>(&window, "Label7")->text(), QStringLiteral("Select  output directory:"));
        QCOMPARE(child<QProgressBar>(&window, "ProgressBar1")->maximum(), 100);
        QCOMPARE(child<QTreeWidget>(&window, "ListView2")->headerItem()->text(0), QStringLiteral("WorkBooks"));

        // Tab order: the seven picture buttons, then the source list.
        QWidget* next = child<QWidget>(&window, "Command1");
        QStringList order;
        for (int i = 0; i < 9; ++i, next = next->nextInFocusChain()) {
            while (next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            order << next->objectName();
        }
        QCOMPARE(order.join(' '), QStringLiteral("Command1 Command5 Command2 Command6 Command8 Command7 Command9 "
                                                 "ListView1 Combo1"));
    }

    void menuItemsRepeatTheirButtons()
    {
        QTemporaryDir state;
        MainWindow window(state.path());
        const struct {
            const char* item;
            const char* button;
        } pairs[] = {{"Help1", "Command8"}, {"HomePage", "Command7"}, {"AddExcel", "Command1"},
                     {"AddFolder", "Command5"}, {"RemoveItem", "Command2"}, {"Separate", "Command6"}};
        for (const auto& p : pairs) {
            // What each way asked of the shell, the dialogs and the message boxes.
            auto record = [&](const std::function<void()>& act) {
                FakeShell shell;
                FakeDialogs dialogs;
                FakeMessages messages;
                act();
                QStringList asked{QString::number(dialogs.openRequests.size()), dialogs.folderCaptions.join('|')};
                for (const auto& call : shell.calls)
                    asked << call.target + ' ' + QString::number(call.showCommand);
                for (const auto& shown : messages.shown)
                    asked << shown.text + ' ' + QString::number(int(shown.icon));
                return asked;
            };
            QCOMPARE(record([&] { child<QAction>(&window, p.item)->trigger(); }),
                     record([&] { child<QToolButton>(&window, p.button)->click(); }));
        }
        QAction* settings = child<QAction>(&window, "Settings");
        QVERIFY(!settings->menu());
        QVERIFY(window.menuBar()->actions().contains(settings));
    }

    void helpHomePageAndAboutFollowTheConfiguredLinks()
    {
        QTemporaryDir state;
        MainWindow window(state.path(), state.path());
        const QString help = MainWindow::helpFile();
        const struct {
            gui::Links links;
            QString home;     // what HomePage and the web link open
            QString webText;  // the web link's text
            QString mail;     // what the mail link opens; empty: no mail link
        } cases[] = {
            {{}, help, QStringLiteral("help.html"), QString()},
            {{"https://tabulon.example.org/start", "help@tabulon.example.org"}, "https://tabulon.example.org/start",
             "tabulon.example.org", "mailto:help@tabulon.example.org"},
        };
        for (const auto& c : cases) {
            window.setLinks(c.links);
            FakeShell shell;
            child<QToolButton>(&window, "Command8")->click();
            child<QToolButton>(&window, "Command7")->click();
            QCOMPARE(shell.calls[0].owner.data(), &window);

            // The About window, twice: modal, built afresh, its links ask the shell.
            for (int round = 0; round < 2; ++round) {
                bool seen = false;
                whenModal([&](QWidget* modal) {
                    seen = true;
                    QCOMPARE(modal->objectName(), QStringLiteral("Dialog1"));
                    QCOMPARE(modal->windowTitle(), QStringLiteral("About us"));
                    QCOMPARE(child<QLabel>(modal, "Label4")->text(), QStringLiteral("Version:" TABULON_VERSION));
                    QCOMPARE(child<QLabel>(modal, "Label8")->text(), c.webText);
                    QCOMPARE(child<QLabel>(modal, "Label2")->isVisible(), !c.mail.isEmpty());
                    QCOMPARE(child<QLabel>(modal, "Label3")->isVisible(), !c.mail.isEmpty());
                    QTest::mouseClick(child<QLabel>(modal, "Label2"), Qt::LeftButton);
                    QTest::mouseClick(child<QLabel>(modal, "Label8"), Qt::LeftButton);
                    QCOMPARE(child<QLabel>(modal, "Label8")->cursor().shape(), Qt::PointingHandCursor);
                    child<QPushButton>(modal, "OKButton")->click();
                });
                child<QAction>(&window, "About")->trigger();
                QVERIFY(seen);
                QVERIFY(window.findChildren<gui::AboutDialog*>().isEmpty());
            }
            QStringList asked, expected{help + " 5", c.home + " 5"};
            for (const auto& call : shell.calls)
                asked << call.target + ' ' + QString::number(call.showCommand);
            for (int round = 0; round < 2; ++round) {
                if (!c.mail.isEmpty())
                    expected << c.mail + " 3";
                expected << c.home + " 5";
            }
            QCOMPARE(asked, expected);
            QCOMPARE(shell.calls.last().ownerName, QStringLiteral("Dialog1"));
        }
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(TABULON_VERSION).hasMatch());
    }

    void settingDialogWritesOnlyOnOk()
    {
        QTemporaryDir state;
        const QString setFile = QDir(state.path()).filePath("set.txt");
        writeAll(setFile, "0\r\n1\r\n");
        MainWindow window(state.path());

        whenModal([](QWidget* modal) {
            QCOMPARE(modal->objectName(), QStringLiteral("Setting"));
            QVERIFY(!child<QCheckBox>(modal, "Check1")->isChecked());
            QVERIFY(child<QCheckBox>(modal, "Check2")->isChecked());
            child<QCheckBox>(modal, "Check1")->setChecked(true);
            child<QPushButton>(modal, "CancelButton")->click();
        });
        child<QAction>(&window, "Settings")->trigger();
        QCOMPARE(readAll(setFile), QByteArray("0\r\n1\r\n"));

        whenModal([](QWidget* modal) {
            child<QCheckBox>(modal, "Check1")->setChecked(true);
            child<QCheckBox>(modal, "Check2")->setChecked(false);
            child<QPushButton>(modal, "OKButton")->click();
        });
        child<QAction>(&window, "Settings")->trigger();
        QCOMPARE(readAll(setFile), QByteArray("1\r\n0\r\n"));

        // The new switches count at this run's shut-down.
        window.close();
        QCOMPARE(readAll(QDir(state.path()).filePath("EXCEL.txt")), QByteArray(""));
        QCOMPARE(readAll(QDir(state.path()).filePath("output.txt")), QByteArray("<missing>"));
    }

    void startUpRestoresTheLists()
    {
        QTemporaryDir state, data;
        const QString file = data.filePath("Book.xlsx");
        writeAll(file, "x");
        const QString missing = data.filePath("gone");
        writeAll(QDir(state.path()).filePath("EXCEL.txt"),
                 (missing + "\r" + data.path() + "\n\r\n" + file).toUtf8());  // CR, LF, CR LF, no end
        writeAll(QDir(state.path()).filePath("output.txt"), "/out/a\r\n/out/b\r\n");
        MainWindow window(state.path());

        auto* sources = child<QTreeWidget>(&window, "ListView1");
        QCOMPARE(itemTexts(sources), (QStringList{missing, data.path(), QString(), file}));
        QList<int> icons;
        for (int i = 0; i < 4; ++i)
            icons << sources->topLevelItem(i)->data(0, Qt::UserRole).toInt();
        QCOMPARE(icons, (QList<int>{3, 2, 3, 1}));
        auto* outputs = child<QComboBox>(&window, "Combo5");
        QCOMPARE(outputs->count(), 2);
        QCOMPARE(outputs->currentText() + ' ' + outputs->itemText(1), QStringLiteral("/out/a /out/b"));
        QCOMPARE(child<QTreeWidget>(&window, "ListView2")->topLevelItemCount(), 0);
    }

    void shutDownSavesWhatTheSwitchesSay()
    {
        const struct {
            QByteArray switches;  // empty: no set.txt
            bool sources, outputs;
        } cases[] = {{"1\r\n1\r\n", true, true}, {"0\r\n0\r\n", false, false}, {"1", true, false},
                     {"1 \r\n1\n", false, true}, {"", false, false}};  // one with a blank is no
        QByteArray manyOutputs;
        for (int i = 0; i < 250; ++i)
            manyOutputs += "/out/" + QByteArray::number(i) + "\r\n";
        for (const auto& [switches, sources, outputs] : cases) {
            QTemporaryDir state;
            const QDir dir(state.path());
            if (!switches.isEmpty())
                writeAll(dir.filePath("set.txt"), switches);
            writeAll(dir.filePath("EXCEL.txt"), "/old/source\r\n");
            writeAll(dir.filePath("output.txt"), manyOutputs);
            {
                MainWindow window(state.path());
                window.show();
                window.removeAllClick();
                child<QComboBox>(&window, "Combo5")->insertItem(0, QStringLiteral("/new/Ü"));
                child<QToolButton>(&window, "Command9")->click();
                QVERIFY(!window.isVisible());
            }
            QCOMPARE(readAll(dir.filePath("EXCEL.txt")), sources ? QByteArray() : QByteArray("/old/source\r\n"));
            const QByteArray savedOutputs = readAll(dir.filePath("output.txt"));
            if (outputs) {
                QCOMPARE(savedOutputs.count("\r\n"), 201);
                QVERIFY(savedOutputs.startsWith("/new/\xc3\x9c\r\n/out/0\r\n") && savedOutputs.endsWith("/out/199\r\n"));
            } else {
                QCOMPARE(savedOutputs, manyOutputs);
            }
            // The next start shows what was saved.
            MainWindow next(state.path());
            QCOMPARE(child<QTreeWidget>(&next, "ListView1")->topLevelItemCount(), sources ? 0 : 1);
            QCOMPARE(child<QComboBox>(&next, "Combo5")->count(), outputs ? 201 : 250);
        }
    }

    void stateFolderFallsBackWhenTheProgramFolderIsUnusable()
    {
        QTemporaryDir temp;
        QCOMPARE(gui::chooseStateFolder(temp.path()), temp.path());
        const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        const QString notAFolder = temp.filePath("file");
        writeAll(notAFolder, "x");
        for (const QString& unusable : {notAFolder, temp.filePath("missing"), QString()}) {
            QCOMPARE(gui::chooseStateFolder(unusable), config);
            QVERIFY(QFileInfo(config).isDir());
        }
        if (geteuid() != 0) {  // permission bits do not stop root
            QFile::setPermissions(temp.path(), QFile::ReadOwner | QFile::ExeOwner);
            QCOMPARE(gui::chooseStateFolder(temp.path()), config);
            QFile::setPermissions(temp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void stateFilesAreReplacedWhole()
    {
        QTemporaryDir temp;
        const QString file = temp.filePath("list.txt");
        writeAll(file, "a long old line that must not survive\r\n");
        QVERIFY(gui::writeLines(file, {"x", "", "y"}));
        QCOMPARE(readAll(file), QByteArray("x\r\n\r\ny\r\n"));
        QCOMPARE(gui::readLines(file), (QStringList{"x", "", "y"}));
        QCOMPARE(QDir(temp.path()).entryList(QDir::Files), QStringList{"list.txt"});  // no temporary left
        QVERIFY(!gui::writeLines(temp.filePath("missing/list.txt"), {"x"}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
