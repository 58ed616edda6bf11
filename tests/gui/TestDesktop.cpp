// The desktop program as people use it: typed paths, captions, drops, the command line,
// the keyboard, remembered places and where an installation keeps its files.
#include "dialogs/Seams.h"
#include "gui/Installation.h"
#include "gui/MainWindow.h"
#include "gui/PictureButton.h"
#include "gui/QtPaths.h"
#include "tests/gui/Fakes.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/Workbooks.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

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

// A window over temporary state and configuration folders, with a folder of workbooks.
struct Desk {
    QTemporaryDir state, config, data;
    FakeDialogs dialogs;
    FakeMessages messages;
    FakeShell shell;
    std::unique_ptr<MainWindow> window;

    Desk() { reopen(); }
    void reopen()
    {
        if (window)
            window->close();
        window = std::make_unique<MainWindow>(state.path(), config.path());
        window->show();
    }
    QTreeWidget* list(const char* name) { return child<QTreeWidget>(window.get(), name); }
    QComboBox* outputs() { return child<QComboBox>(window.get(), "Combo5"); }
    void press(const char* button) { child<QAbstractButton>(window.get(), button)->click(); }
    QString book(const char* name, std::vector<TestSheet> sheets = {{"One", {{"1"}}}, {"Two", {{"2"}}}})
    {
        const QString file = data.filePath(QString::fromLatin1(name));
        if (!writeWorkbook(file, sheets))
            qFatal("cannot write %s", name);
        return file;
    }
};

// Drags `data` onto `target` and drops it there unless `enterOnly`; the action the target
// took, or IgnoreAction when it refused.
Qt::DropAction dragOnto(QWidget* target, const QMimeData& data, Qt::DropActions possible,
                        Qt::KeyboardModifiers modifiers, bool enterOnly = false)
{
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, possible, &data, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    if (enterOnly)
        return enter.dropAction();
    QDropEvent drop(at, possible, &data, Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

// HOME for the length of a test.
struct HomeFolder {
    QTemporaryDir folder;
    QByteArray saved = qgetenv("HOME");
    HomeFolder() { qputenv("HOME", QFile::encodeName(folder.path())); }
    ~HomeFolder() { qputenv("HOME", saved); }
};

}  // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void typedOutputFoldersAreTakenFromTheHomeFolder()
    {
        HomeFolder home;
        const QString h = home.folder.path();
        QTemporaryDir elsewhere;
        const struct {
            QString typed, shown;  // typed into the box; shown there after Convert
        } cases[] = {
            {"relout", h + "/relout"},
            {"~", h},
            {"~/tilde//", h + "/tilde//"},
            {"two/levels", h + "/two/levels"},  // refused: only one missing level is created
            {elsewhere.path(), elsewhere.path()},
        };
        for (const auto& c : cases) {
            Desk d;
            d.window->addSources({d.book("Book.xlsx")});
            d.outputs()->setEditText(c.typed);
            d.press("Command6");
            QCOMPARE(d.outputs()->currentText(), c.shown);
            QCOMPARE(d.messages.shown.size(), c.typed == "two/levels" ? 1 : 0);
            if (!d.messages.shown.isEmpty())
                continue;
            const QString folder = QDir::cleanPath(c.shown);
            QVERIFY2(QFile::exists(folder + "/Book/One.csv"), qPrintable(folder));
            QCOMPARE(d.shell.calls.size(), 1);
            QCOMPARE(QDir::cleanPath(d.shell.calls[0].target), folder);
            QVERIFY(dialogs::shellUrl(d.shell.calls[0].target).isLocalFile());
            QVERIFY(QDir::isAbsolutePath(dialogs::shellUrl(d.shell.calls[0].target).toLocalFile()));
        }
        QVERIFY(!QFile::exists(QDir::current().filePath("~")) && !QFile::exists(QDir::current().filePath("relout")));

        // Saved relative entries come back, and are saved again, as absolute folders.
        Desk d;
        d.window.reset();  // not closed: it would save its empty list
        writeAll(d.state.filePath("set.txt"), "0\r\n1\r\n");
        writeAll(d.state.filePath("output.txt"), "saved\r\n~/docs\r\n/abs\r\n");
        d.reopen();
        QCOMPARE(d.outputs()->currentText(), h + "/saved");
        QCOMPARE(d.outputs()->itemText(1), h + "/docs");
        d.window->close();
        QCOMPARE(readAll(d.state.filePath("output.txt")), (h + "/saved\r\n" + h + "/docs\r\n/abs\r\n").toUtf8());
    }

    void theShellIsHandedAbsoluteUrls()
    {
        const QString cwd = QDir::currentPath();
        const struct {
            QString target, url;
        } cases[] = {
            {"/data/out/", "file:///data/out/"},
            {"/data/help.html", "file:///data/help.html"},
            {"relative/out/", QUrl::fromLocalFile(cwd + "/relative/out/").toString()},
            {"https://tabulon.example.org/", "https://tabulon.example.org/"},
            {"mailto:help@tabulon.example.org", "mailto:help@tabulon.example.org"},
        };
        for (const auto& c : cases)
            QCOMPARE(dialogs::shellUrl(c.target).toString(), c.url);
    }

    // Run again by CTest at 150 % and 200 % (QT_SCALE_FACTOR). With TABULON_SCREENSHOTS set
    // to a folder, the window is saved there as captions-<scale>.png to be looked at.
    void captionsShowWhole()
    {
        Desk d;
        QVERIFY(QTest::qWaitForWindowExposed(d.window.get()));
        const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
        if (!scale.isEmpty())
            QCOMPARE(d.window->devicePixelRatioF(), scale.toDouble());
        const auto buttons = d.window->findChildren<gui::PictureButton*>();
        QVERIFY(buttons.size() >= 9);
        int captionTop = -1;
        for (gui::PictureButton* button : buttons) {
            const QString name = button->objectName();
            const QRect picture = button->pictureRect();
            QVERIFY2(!picture.isEmpty() && button->rect().contains(picture), qPrintable(name));
            if (button->text().isEmpty())
                continue;
            // Whole: the font's full height (descenders too) and the whole width, inside the
            // frame, clear of the picture; every caption on one line across the row.
            const QRect caption = button->captionRect();
            const QFontMetrics metrics(button->font());
            const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
            QVERIFY2(caption.height() >= metrics.height(), qPrintable(name));
            QVERIFY2(caption.width() >= metrics.horizontalAdvance(button->text()), qPrintable(name));
            QVERIFY2(button->rect().adjusted(frame, frame, -frame, -frame).contains(caption), qPrintable(name));
            QVERIFY2(!caption.intersects(picture), qPrintable(name));
            QVERIFY2(captionTop < 0 || caption.top() == captionTop, qPrintable(name));
            captionTop = caption.top();
            // The picture gives way only as far as it must.
            QVERIFY2(picture.height() >= std::min(button->pictureSize(), caption.top() - 2 * frame - 2), qPrintable(name));
        }
        const QString shots = qEnvironmentVariable("TABULON_SCREENSHOTS");
        if (!shots.isEmpty())
            QVERIFY(d.window->grab().save(QDir(shots).filePath("captions-" + (scale.isEmpty() ? "1" : scale) + ".png")));
    }

    void droppedWorkbooksAndFoldersBecomeSources()
    {
        Desk d;
        const QString first = d.book("First.xlsx"), second = d.book("Second.ods.xlsx");
        QTemporaryDir folder;
        writeAll(d.data.filePath("notes.txt"), "x");
        QWidget* target = d.list("ListView1")->viewport();
        auto urls = [](const QStringList& paths) {
            auto* data = new QMimeData;
            QList<QUrl> list;
            for (const QString& path : paths)
                list << (path.contains("://") ? QUrl(path) : QUrl::fromLocalFile(path));
            data->setUrls(list);
            return std::unique_ptr<QMimeData>(data);
        };
        const struct {
            QStringList paths;
            Qt::DropActions possible;
            Qt::KeyboardModifiers modifiers;  // Shift proposes Move
            Qt::DropAction taken;
        } refusals[] = {
            {{d.data.filePath("notes.txt"), "https://tabulon.example.org/a.xlsx"}, Qt::CopyAction, Qt::NoModifier,
             Qt::IgnoreAction},
            {{d.data.filePath("missing.xlsx")}, Qt::CopyAction, Qt::NoModifier, Qt::IgnoreAction},
            {{first}, Qt::MoveAction, Qt::ShiftModifier, Qt::IgnoreAction},  // never a move
            {{first}, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier, Qt::CopyAction},
        };
        for (const auto& r : refusals)
            QCOMPARE(dragOnto(target, *urls(r.paths), r.possible, r.modifiers, true), r.taken);
        QCOMPARE(d.list("ListView1")->topLevelItemCount(), 0);
        QMimeData text;  // text, even a path, is no file
        text.setText(first);
        QCOMPARE(dragOnto(target, text, Qt::CopyAction, Qt::NoModifier), Qt::IgnoreAction);

        // One entry each, what cannot be a source left out; the last one is shown.
        const auto dropped = urls({folder.path(), d.data.filePath("notes.txt"), first, second});
        QCOMPARE(dragOnto(target, *dropped, Qt::CopyAction | Qt::MoveAction, Qt::ShiftModifier), Qt::CopyAction);
        QCOMPARE(itemTexts(d.list("ListView1")), (QStringList{folder.path(), first, second}));
        QList<int> icons;
        for (int i = 0; i < 3; ++i)
            icons << d.list("ListView1")->topLevelItem(i)->data(0, Qt::UserRole).toInt();
        QCOMPARE(icons, (QList<int>{MainWindow::kIconFolder, MainWindow::kIconWorkbook, MainWindow::kIconWorkbook}));
        QCOMPARE(d.list("ListView1")->currentItem()->text(0), second);
        QCOMPARE(itemTexts(d.list("ListView2")), QStringList{"Second.ods.xlsx"});
        QCOMPARE(itemTexts(d.list("ListView3")), (QStringList{"One", "Two"}));
        QCOMPARE(d.messages.shown.size(), 0);
        QVERIFY(QFile::exists(first));  // nothing moved away
    }

    void commandLineSourcesAreAdded()
    {
        Desk d;
        const QString book = d.book("Book.xlsx");
        writeAll(d.data.filePath("notes.txt"), "x");
        QVERIFY(d.window->addSources({}).isEmpty());  // nothing given: starts as always
        QCOMPARE(d.list("ListView1")->topLevelItemCount(), 0);
        QCOMPARE(d.list("ListView2")->topLevelItemCount(), 0);

        const QString previous = QDir::currentPath();
        QDir::setCurrent(d.data.path());  // relative arguments count from the working folder
        const QStringList rejected =
            d.window->addSources({"Book.xlsx", "notes.txt", "missing.xlsx", ".", QString(), d.data.path() + "/"});
        QDir::setCurrent(previous);
        QCOMPARE(rejected, (QStringList{"notes.txt", "missing.xlsx", QString()}));
        QCOMPARE(itemTexts(d.list("ListView1")), (QStringList{book, d.data.path(), d.data.path()}));
        QCOMPARE(d.list("ListView1")->currentItem(), d.list("ListView1")->topLevelItem(2));
        QCOMPARE(itemTexts(d.list("ListView2")), QStringList{"Book.xlsx"});
        QCOMPARE(itemTexts(d.list("ListView3")), (QStringList{"One", "Two"}));
    }

    void keyboardReachesTheActions()
    {
        Desk d;
        QApplication::setActiveWindow(d.window.get());
        QVERIFY(QTest::qWaitForWindowActive(d.window.get()));
        const struct {
            const char* action;
            QKeySequence keys;
        } shortcuts[] = {
            {"AddExcel", QKeySequence(Qt::CTRL | Qt::Key_O)},
            {"AddFolder", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
            {"Separate", QKeySequence(Qt::CTRL | Qt::Key_R)},
            {"Help1", QKeySequence(Qt::Key_F1)},
        };
        for (const auto& s : shortcuts) {
            QCOMPARE(child<QAction>(d.window.get(), s.action)->shortcut(), s.keys);  // shown in the menu
            QTest::keySequence(d.window.get(), s.keys);
        }
        QCOMPARE(d.dialogs.openRequests.size(), 1);
        QCOMPARE(d.dialogs.folderCaptions, QStringList{"Add all excel files in folder"});
        QCOMPARE(d.messages.shown.size(), 1);
        QCOMPARE(d.messages.shown[0].text, QStringLiteral("Please select excel at fast!"));
        QCOMPARE(d.shell.calls.size(), 1);
        QCOMPARE(d.shell.calls[0].target, MainWindow::helpFile());

        // Delete removes the selected source, in the source list only.
        const QString book = d.book("Book.xlsx", {{"A", {{"a"}}}, {"B", {{"b"}}}, {"C", {{"c"}}}});
        d.window->addSources({book, d.data.path()});
        QLineEdit* edit = d.outputs()->lineEdit();
        edit->setFocus();
        edit->setText("abc");
        edit->setCursorPosition(0);
        QTest::keyClick(edit, Qt::Key_Delete);
        QCOMPARE(edit->text(), QStringLiteral("bc"));
        QCOMPARE(d.list("ListView1")->topLevelItemCount(), 2);
        QTreeWidget* sources = d.list("ListView1");
        sources->setFocus();
        QTest::keyClick(sources, Qt::Key_Delete);
        QCOMPARE(itemTexts(sources), QStringList{book});
        QCOMPARE(itemTexts(d.list("ListView3")), (QStringList{"A", "B", "C"}));

        // Ctrl+A in the worksheet list ticks all, or unticks all when all are ticked.
        QTreeWidget* sheets = d.list("ListView3");
        auto ticks = [&] {
            QString marks;
            for (int i = 0; i < sheets->topLevelItemCount(); ++i)
                marks += sheets->topLevelItem(i)->checkState(0) == Qt::Checked ? 'x' : '-';
            return marks;
        };
        sheets->setFocus();
        QTest::keySequence(sheets, QKeySequence::SelectAll);
        QCOMPARE(ticks(), QStringLiteral("---"));
        sheets->topLevelItem(1)->setCheckState(0, Qt::Checked);
        QTest::keySequence(sheets, QKeySequence::SelectAll);
        QCOMPARE(ticks(), QStringLiteral("xxx"));
        // The same from the list's context menu.
        const QPoint inside = sheets->viewport()->rect().center();
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, inside, sheets->viewport()->mapToGlobal(inside));
        QCoreApplication::sendEvent(sheets->viewport(), &menuEvent);
        auto* menu = child<QMenu>(d.window.get(), "SheetMenu");
        QTRY_VERIFY(menu->isVisible());
        child<QAction>(menu, "UntickAllSheets")->trigger();
        menu->close();
        QCOMPARE(ticks(), QStringLiteral("---"));
        child<QAction>(menu, "TickAllSheets")->trigger();
        QCOMPARE(ticks(), QStringLiteral("xxx"));
        QCOMPARE(d.messages.shown.size(), 1);
    }

    void everyControlHasAnAccessibleName()
    {
        Desk d;
        for (QWidget* widget : d.window->findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            const bool control = widget->focusPolicy() != Qt::NoFocus || name == "ProgressBar1" || name == "Label1";
            if (name.isEmpty() || name.startsWith("qt_") || !control || widget->window() != d.window.get())
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY2(accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(name));
        }
    }

    void dialogsAndTheWindowStartWhereTheyWereLeft()
    {
        Desk d;
        const QString book = d.book("Book.xlsx");
        QTemporaryDir out;
        d.dialogs.files = {book};
        d.dialogs.folders = {d.data.path(), out.path()};
        for (const char* button : {"Command1", "Command5", "Command10"})
            d.press(button);
        QCOMPARE(d.dialogs.openRequests[0].directory, QString());  // the first time: the system's choice
        QCOMPARE(d.dialogs.folderDirectories, (QStringList{QString(), QString()}));
        d.window->move(140, 90);
        d.reopen();
        QCOMPARE(d.window->pos(), QPoint(140, 90));
        for (const char* button : {"Command1", "Command5", "Command10"})
            d.press(button);  // cancelled
        QCOMPARE(d.dialogs.openRequests[1].directory, d.data.path());
        QCOMPARE(d.dialogs.folderDirectories.mid(2), (QStringList{d.data.path(), out.path()}));
        // Kept in the configuration folder, apart from the three state files.
        QVERIFY(QFile::exists(d.window->places().file()));
        QVERIFY(d.window->places().file().startsWith(d.config.path()));
        QCOMPARE(QDir(d.state.path()).entryList(QDir::Files), QStringList{});
    }

    void helpPageAndStateFolderFollowTheInstallation()
    {
        QTemporaryDir root;
        const QString build = root.filePath("build/gui"), bin = root.filePath("usr/bin"), bare = root.filePath("bare");
        const QString installedHelp = root.filePath("usr/share/tabulon/help.html");
        for (const QString& folder : {build, bin, bare, root.filePath("usr/share/tabulon")})
            QVERIFY(QDir().mkpath(folder));
        writeAll(build + "/help.html", "<html>");
        writeAll(installedHelp, "<html>");
        const gui::InstallLayout configured{bin, installedHelp, "../share/tabulon/help.html"};
        const gui::InstallLayout moved{"/nowhere/bin", "/nowhere/share/tabulon/help.html", "../share/tabulon/help.html"};
        const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        const struct {
            QString folder;
            const gui::InstallLayout& layout;
            QString help;
            bool installed;
        } cases[] = {
            {build, configured, build + "/help.html", false},
            {bin, configured, installedHelp, true},
            {bin, moved, installedHelp, true},  // installed under another prefix
            {bare, configured, installedHelp, false},
            {bare, moved, bare + "/help.html", false},  // none there: the shell says so
        };
        for (const auto& c : cases) {
            QCOMPARE(QDir::cleanPath(gui::findHelpFile(c.folder, c.layout)), c.help);
            QCOMPARE(gui::isInstalled(c.folder, c.layout), c.installed);
            QCOMPARE(gui::stateFolderFor(c.folder, c.layout), c.installed ? config : c.folder);
        }
    }
};

QTEST_MAIN(TestDesktop)
#include "TestDesktop.moc"
