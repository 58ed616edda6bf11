#include "core/Spreadsheet.h"
#include "gui/MainWindow.h"
#include "tests/gui/Fakes.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/Workbooks.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace tabulon;
using namespace tabulon::testing;
using dialogs::MessageIcon;
using Shown = FakeMessages::Shown;

namespace {

QStringList ticks(QTreeWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        result << (list->topLevelItem(i)->checkState(0) == Qt::Checked ? "x" : "-");
    return result;
}

// Every file below `folder`, as "sub/name=<content>", sorted.
QStringList tree(const QString& folder)
{
    QStringList result;
    const QDir root(folder);
    for (const QString& sub : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        result << sub + '/';
        for (const QString& file : QDir(root.filePath(sub)).entryList(QDir::Files, QDir::Name))
            result << sub + '/' + file + '=' + QString::fromUtf8(readAll(root.filePath(sub + '/' + file)));
    }
    return result;
}

// Counts the workbooks the spreadsheet facade opens.
struct OpenCounter {
    int opens = 0;
    OpenCounter()
    {
        core::Spreadsheet::setOpenerForTests([this](const std::filesystem::path& file) {
            ++opens;
            return engine::openWorkbook(file);
        });
    }
    ~OpenCounter() { core::Spreadsheet::setOpenerForTests(nullptr); }
};

// A window over a temporary state folder, a folder of workbooks and an output folder.
struct Fixture {
    QTemporaryDir state, data, out;
    FakeDialogs dialogs;
    FakeMessages messages;
    FakeShell shell;
    gui::MainWindow window{state.path()};
    QTreeWidget* sources = child<QTreeWidget>(&window, "ListView1");
    QTreeWidget* workbooks = child<QTreeWidget>(&window, "ListView2");
    QTreeWidget* sheets = child<QTreeWidget>(&window, "ListView3");
    QComboBox* outputs = child<QComboBox>(&window, "Combo5");

    Fixture() { window.show(); }

    void writeBooks()
    {
        QVERIFY(writeWorkbook(data.filePath("Book A.xlsx"),
                              {{"One", {{"a1", "b1"}, {"a2", "b,2"}}}, {"Two", {{"x"}}}, {"Three", {{"z"}}}}));
        QVERIFY(writeWorkbook(data.filePath("Book.B.xlsx"), {{"Alpha", {{"al"}}}, {"Beta", {{"be"}}}}));
        QVERIFY(writeWorkbook(data.filePath("c.XLSX"), {{"Sheet1", {{"c"}}}}));
        QVERIFY(writeWorkbook(data.filePath(".hidden.xlsx"), {{"S", {{"h"}}}}));
        QFile(data.filePath("notes.txt")).open(QIODevice::WriteOnly);
        QDir(data.path()).mkdir("sub.xlsx");
    }
    void press(const char* button) { child<QAbstractButton>(&window, button)->click(); }
    void addFolder(const QString& folder) { dialogs.folders.push_back(folder), press("Command5"); }
    void addFile(const QString& file) { dialogs.files.push_back(file), press("Command1"); }
    void click(QTreeWidget* list, int row)
    {
        QTreeWidgetItem* item = list->topLevelItem(row);
        QVERIFY(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    }
    void untick(QTreeWidget* list, int row) { list->topLevelItem(row)->setCheckState(0, Qt::Unchecked); }
    void browseOutput(const QString& folder) { dialogs.folders.push_back(folder), press("Command10"); }
    void convert() { press("Command6"); }
    void trigger(const char* action) { child<QAction>(&window, action)->trigger(); }
    void batchInto(const QString& folder)  // a batch over the data folder into `folder`
    {
        addFolder(data.path());
        browseOutput(folder);
    }
    // Two messages: the error naming `detail`, then the usual failure message.
    void verifyFailure(const char* detail, const char* failure, MessageIcon first = MessageIcon::None)
    {
        QCOMPARE(messages.shown.size(), 2);
        QCOMPARE(messages.shown[0].icon, first);
        QVERIFY2(messages.shown[0].text.contains(detail), qPrintable(messages.shown[0].text));
        QCOMPARE(messages.shown[1], (Shown{failure, MessageIcon::Critical}));
    }
    void verifyReset()
    {
        // No workbook's status stays behind; a batch that ran leaves its summary.
        const QString status = child<QLabel>(&window, "Label1")->text();
        QVERIFY2(status.isEmpty() || status.startsWith("Done: "), qPrintable(status));
        QCOMPARE(child<QProgressBar>(&window, "ProgressBar1")->value(), 0);
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

}  // namespace

class TestConversion : public QObject {
    Q_OBJECT

private slots:
    void addFolderUntickSwitchAndConvert()
    {
        Fixture f;
        f.writeBooks();
        OpenCounter counter;
        f.addFolder(f.data.path());
        QCOMPARE(itemTexts(f.sources), QStringList{f.data.path()});
        QCOMPARE(f.sources->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 2);
        // Workbooks only, hidden ones and folders left out, sorted without regard to case.
        QCOMPARE(itemTexts(f.workbooks), (QStringList{"Book A.xlsx", "Book.B.xlsx", "c.XLSX"}));
        QCOMPARE(ticks(f.workbooks), (QStringList{"x", "x", "x"}));
        QCOMPARE(itemTexts(f.sheets), (QStringList{"One", "Two", "Three"}));
        QCOMPARE(counter.opens, 1);

        f.untick(f.sheets, 1);
        f.click(f.workbooks, 1);
        QCOMPARE(itemTexts(f.sheets), (QStringList{"Alpha", "Beta"}));
        QCOMPARE(counter.opens, 2);
        f.untick(f.sheets, 0);
        f.click(f.workbooks, 0);  // restored from the cache, not reopened
        QCOMPARE(itemTexts(f.sheets), (QStringList{"One", "Two", "Three"}));
        QCOMPARE(ticks(f.sheets), (QStringList{"x", "-", "x"}));
        QCOMPARE(counter.opens, 2);
        // Moving with the keys shows the worksheets as a click does.
        f.workbooks->setFocus();
        QTest::keyClick(f.workbooks, Qt::Key_Down);
        QCOMPARE(itemTexts(f.sheets), (QStringList{"Alpha", "Beta"}));
        QTest::keyClick(f.workbooks, Qt::Key_Up);
        QCOMPARE(ticks(f.sheets), (QStringList{"x", "-", "x"}));
        QCOMPARE(counter.opens, 2);
        f.untick(f.sheets, 2);  // counts although never switched away from

        f.browseOutput(f.out.path());
        QCOMPARE(f.outputs->currentText(), f.out.path());
        f.convert();
        QCOMPARE(f.messages.shown, QList<Shown>{});
        QCOMPARE(tree(f.out.path()), (QStringList{"BookA/", "BookA/One.csv=a1,b1\r\na2,\"b,2\"\r\n", "BookB/",
                                                  "BookB/Beta.csv=be\r\n", "c/", "c/Sheet1.csv=c\r\n"}));
        QCOMPARE(f.shell.calls.size(), 1);
        QCOMPARE(f.shell.calls[0].target + QString::number(f.shell.calls[0].showCommand), f.out.path() + "/5");
        f.verifyReset();

        // The same batch again gets fresh folders.
        f.convert();
        QVERIFY(QDir(f.out.filePath("BookA1")).exists() && QDir(f.out.filePath("c1")).exists());
    }

    void sourceListActions()
    {
        Fixture f;
        f.writeBooks();
        const QString single = f.data.filePath("Book A.xlsx");
        f.addFile(single);
        QCOMPARE(f.dialogs.openRequests.last().caption, QStringLiteral("Select Excel File"));
        QCOMPARE(itemTexts(f.workbooks), QStringList{"Book A.xlsx"});
        QCOMPARE(itemTexts(f.sheets), (QStringList{"One", "Two", "Three"}));
        QTemporaryDir empty;
        f.addFolder(empty.path());  // no workbook: the worksheets stay
        QVERIFY(itemTexts(f.workbooks).isEmpty());
        QCOMPARE(itemTexts(f.sheets).size(), 3);
        f.addFile(single);  // the same file twice is allowed
        QCOMPARE(itemTexts(f.sources), (QStringList{single, empty.path(), single}));
        f.dialogs.folders.clear();
        f.press("Command5");  // cancelled
        QCOMPARE(f.sources->topLevelItemCount(), 3);

        // Moving keeps icons; the ends stay put.
        f.click(f.sources, 0);
        f.press("Command3");
        QCOMPARE(f.sources->indexOfTopLevelItem(f.sources->currentItem()), 0);
        f.press("Command4");
        QCOMPARE(itemTexts(f.sources), (QStringList{empty.path(), single, single}));
        QCOMPARE(f.sources->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
        QCOMPARE(f.sources->currentItem(), f.sources->topLevelItem(1));

        // Removing selects the entry before, or the new first one.
        f.click(f.sources, 0);
        f.press("Command2");
        QCOMPARE(f.sources->currentItem(), f.sources->topLevelItem(0));
        QCOMPARE(itemTexts(f.workbooks), QStringList{"Book A.xlsx"});
        f.click(f.sources, 1);
        f.trigger("RemoveItem");
        QCOMPARE(itemTexts(f.sources), QStringList{single});
        f.press("Command2");
        QVERIFY(itemTexts(f.sources).isEmpty() && itemTexts(f.workbooks).isEmpty() && itemTexts(f.sheets).isEmpty());
        QVERIFY(f.window.sheetCache().name(1, 1).empty());
        QCOMPARE(f.messages.shown, QList<Shown>{});
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void unreadableWorkbooksAreReported()
    {
        Fixture f;
        f.writeBooks();
        QFile out(f.data.filePath("Bad.xlsx"));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("PK\x03\x04 this is no workbook") > 0);
        out.close();
        f.addFile(out.fileName());
        f.verifyFailure("Bad.xlsx", "Excel file open failed!", MessageIcon::Critical);
        QVERIFY(itemTexts(f.sheets).isEmpty());
        f.messages.shown.clear();

        // In a batch: the broken one gives two messages, a deleted one gives one, the rest convert.
        f.addFolder(f.data.path());
        QCOMPARE(itemTexts(f.workbooks), (QStringList{"Bad.xlsx", "Book A.xlsx", "Book.B.xlsx", "c.XLSX"}));
        f.messages.shown.clear();
        QVERIFY(QFile::remove(f.data.filePath("c.XLSX")));
        f.browseOutput(f.out.path());
        QStringList statuses;
        // While the batch runs the window takes no input, but a message box (any other window) does.
        QPushButton elsewhere;
        elsewhere.show();
        int elsewhereClicks = 0;
        connect(&elsewhere, &QPushButton::clicked, this, [&] { ++elsewhereClicks; });
        f.messages.whileShown = [&] {
            statuses << child<QLabel>(&f.window, "Label1")->text();
            QTest::mouseClick(child<QToolButton>(&f.window, "Command1"), Qt::LeftButton);
            QTest::mouseClick(&elsewhere, Qt::LeftButton);
        };
        f.convert();
        QCOMPARE(statuses, (QStringList{"Convert Bad (workbook 1 of 4)", "Convert Bad (workbook 1 of 4)",
                                        "Convert c (workbook 4 of 4)"}));
        QCOMPARE(f.dialogs.openRequests.size(), 1);  // only the Add Excel before the batch
        QCOMPARE(elsewhereClicks, 3);
        QCOMPARE(f.messages.shown.size(), 3);
        QCOMPARE(f.messages.shown[2], (Shown{"Convert c file failed!", MessageIcon::Critical}));
        f.messages.shown.removeLast();
        f.verifyFailure("Bad.xlsx", "Convert Bad file failed!");
        QCOMPARE(QDir(f.out.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{"Bad", "BookA", "BookB", "c"}));
        QCOMPARE(QDir(f.out.filePath("BookA")).entryList(QDir::Files).size(), 3);
        f.verifyReset();
    }

    void folderSuffixesAppendToTheLastAttempt()
    {
        Fixture f;
        QVERIFY(writeWorkbook(f.data.filePath("My Book.final.xlsx"), {{"S", {{"s"}}}}));
        QVERIFY(writeWorkbook(f.data.filePath("MyBook.xlsx"), {{"T", {{"t"}}}}));
        QDir(f.out.path()).mkdir("MyBookfinal");
        QDir(f.out.path()).mkdir("MyBookfinal1");
        QFile(f.out.filePath("MyBook")).open(QIODevice::WriteOnly);  // a file in the way
        f.batchInto(f.out.path());
        f.convert();
        QVERIFY(QFile::exists(f.out.filePath("MyBookfinal12/S.csv")));
        // A file where the folder should go: the error and the usual failure message.
        f.verifyFailure("MyBook", "Convert MyBook file failed!");
        QCOMPARE(f.shell.calls.size(), 1);
        f.verifyReset();
    }

    void outputDirectoryIsValidated()
    {
        Fixture f;
        f.writeBooks();
        f.convert();
        QCOMPARE(f.messages.shown, (QList<Shown>{{"Please select excel at fast!", MessageIcon::Information}}));
        QDir(f.out.path()).mkdir("gone");
        f.batchInto(f.out.filePath("gone"));
        QDir(f.out.path()).rmdir("gone");
        const struct {
            QString typed;  // empty: keep the selected entry
            QList<Shown> messages;
            QString opened;
        } cases[] = {
            {QString(), {{"Folder does not exist!", MessageIcon::Critical}}, QString()},
            {"\x01", {{"Please select output folder", MessageIcon::Information}}, QString()},
            {f.out.filePath("a/b"), {{"Failed to create folder!", MessageIcon::Critical}}, QString()},
            {f.out.filePath("new") + "//", {}, f.out.filePath("new") + '/'},
            {f.out.path(), {}, f.out.path() + '/'},
        };
        for (const auto& c : cases) {
            if (c.typed == "\x01")
                f.outputs->setEditText(QString());
            else if (!c.typed.isEmpty())
                f.outputs->setEditText(c.typed);
            f.messages.shown.clear();
            f.shell.calls.clear();
            f.convert();
            QCOMPARE(f.messages.shown, c.messages);
            QCOMPARE(f.shell.calls.isEmpty() ? QString() : f.shell.calls[0].target, c.opened);
            f.verifyReset();
        }
        QVERIFY(QDir(f.out.filePath("new/BookA")).exists());
        QVERIFY(!QDir(f.out.filePath("a")).exists());
    }

    void outputDirectoryList()
    {
        Fixture f;
        for (const char* name : {"A", "B", "C", "D"})
            QDir(f.out.path()).mkdir(name);
        for (const char* name : {"D", "C", "B", "A"})
            f.browseOutput(f.out.filePath(name));
        f.browseOutput(f.out.filePath("A"));  // twice: both stay, the newer on top
        QCOMPARE(f.outputs->count(), 5);
        f.outputs->removeItem(0);

        auto current = [&] { return f.outputs->currentText().section('/', -1); };
        f.outputs->setCurrentIndex(1);
        f.trigger("Removeoutput");
        QCOMPARE(f.outputs->count(), 3);
        QCOMPARE(current(), QStringLiteral("C"));
        f.outputs->setCurrentIndex(2);
        f.trigger("Removeoutput");
        QCOMPARE(current(), QStringLiteral("C"));
        f.outputs->setEditText(QStringLiteral("typed"));
        f.trigger("Removeoutput");  // typed text is no entry
        QCOMPARE(f.outputs->count(), 2);

        // View opens existing folders only, typed ones too.
        for (const char* typed : {"B", "missing"}) {
            f.outputs->setEditText(f.out.filePath(typed));
            f.press("Command11");
        }
        QCOMPARE(f.shell.calls.size(), 1);
        QCOMPARE(f.shell.calls[0].target, f.out.filePath("B") + '/');

        f.trigger("RemoveAllOutput");
        QCOMPARE(f.outputs->count(), 0);
        f.browseOutput(f.out.filePath("A"));
        f.trigger("Removeoutput");
        QCOMPARE(f.outputs->count(), 0);
        QCOMPARE(f.outputs->currentIndex(), -1);
        QCOMPARE(f.messages.shown, QList<Shown>{});
    }

    void aFolderListsAtMost500Workbooks()
    {
        Fixture f;
        for (int i = 0; i < 600; ++i)
            QFile(f.data.filePath(QStringLiteral("w%1.xls").arg(i, 3, 10, QLatin1Char('0')))).open(QIODevice::WriteOnly);
        f.addFolder(f.data.path());
        QCOMPARE(f.workbooks->topLevelItemCount(), 500);
        QCOMPARE(f.workbooks->topLevelItem(499)->text(0), QStringLiteral("w499.xls"));
        QCOMPARE(ticks(f.workbooks).count("x"), 500);
        // The first one is empty, so listing its worksheets fails with the two messages.
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.messages.shown[1].text, QStringLiteral("Excel file open failed!"));
    }
};

QTEST_MAIN(TestConversion)
#include "TestConversion.moc"
