#include "core/SheetSelection.h"
#include "core/Spreadsheet.h"
#include "gui/MainWindow.h"
#include "tests/gui/Fakes.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/Workbooks.h"

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
    void addFolder(const QString& folder)
    {
        dialogs.folders.push_back(folder);
        child<QToolButton>(&window, "Command5")->click();
    }
    void addFile(const QString& file)
    {
        dialogs.files.push_back(file);
        child<QToolButton>(&window, "Command1")->click();
    }
    void click(QTreeWidget* list, int row)
    {
        QTreeWidgetItem* item = list->topLevelItem(row);
        QVERIFY(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    }
    void untick(QTreeWidget* list, int row) { list->topLevelItem(row)->setCheckState(0, Qt::Unchecked); }
    void browseOutput(const QString& folder)
    {
        dialogs.folders.push_back(folder);
        child<QPushButton>(&window, "Command10")->click();
    }
    void convert() { child<QToolButton>(&window, "Command6")->click(); }
    void verifyReset()
    {
        QCOMPARE(child<QLabel>(&window, "Label1")->text(), QString());
        QCOMPARE(child<QProgressBar>(&window, "ProgressBar1")->value(), 0);
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

// Stands in for a workbook that cannot save its
// worksheet 2.
class FailingSecondSave : public engine::Workbook {
public:
    explicit FailingSecondSave(std::unique_ptr<engine::Workbook> book) : m_book(std::move(book)) {}
    int sheetCount() const override { return m_book->sheetCount(); }
    std::string sheetName(int position) const override { return m_book->sheetName(position); }
    void selectSheet(int position) override
    {
        m_selected = position;
        m_book->selectSheet(position);
    }
    void saveAsCsv(const std::filesystem::path& target, std::optional<int> position) override
    {
        if (position.value_or(m_selected) == 2)
            throw engine::Error("Cannot save \"" + target.string() + "\": the disk is full.");
        m_book->saveAsCsv(target, position);
    }
    void close() override { m_book->close(); }

private:
    std::unique_ptr<engine::Workbook> m_book;
    int m_selected = 1;
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
        QCOMPARE(f.shell.calls[0].target, f.out.path() + '/');
        QCOMPARE(f.shell.calls[0].showCommand, 5);
        f.verifyReset();

        // The same batch again gets fresh folders.
        f.convert();
        QVERIFY(QDir(f.out.filePath("BookA1")).exists());
        QVERIFY(QDir(f.out.filePath("c1")).exists());
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
        child<QToolButton>(&f.window, "Command5")->click();  // cancelled
        QCOMPARE(f.sources->topLevelItemCount(), 3);

        // Moving keeps icons; the ends stay put.
        f.click(f.sources, 0);
        child<QToolButton>(&f.window, "Command3")->click();
        QCOMPARE(f.sources->indexOfTopLevelItem(f.sources->currentItem()), 0);
        child<QToolButton>(&f.window, "Command4")->click();
        QCOMPARE(itemTexts(f.sources), (QStringList{empty.path(), single, single}));
        QCOMPARE(f.sources->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 1);
        QCOMPARE(f.sources->currentItem(), f.sources->topLevelItem(1));

        // Removing selects the entry before, or the new first one.
        f.click(f.sources, 0);
        child<QToolButton>(&f.window, "Command2")->click();
        QCOMPARE(f.sources->currentItem(), f.sources->topLevelItem(0));
        QCOMPARE(itemTexts(f.workbooks), QStringList{"Book A.xlsx"});
        f.click(f.sources, 1);
        child<QAction>(&f.window, "RemoveItem")->trigger();
        QCOMPARE(itemTexts(f.sources), QStringList{single});
        child<QToolButton>(&f.window, "Command2")->click();
        QVERIFY(itemTexts(f.sources).isEmpty() && itemTexts(f.workbooks).isEmpty() && itemTexts(f.sheets).isEmpty());
        QVERIFY(f.window.sheetCache().name(1, 1).empty());
        QCOMPARE(f.messages.shown, QList<Shown>{});
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void unreadableWorkbooksAreReported()
    {
        Fixture f;
        f.writeBooks();
        const QString bad = f.data.filePath("Bad.xlsx");
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("PK\x03\x04 this is no workbook");
        out.close();
        f.addFile(bad);
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.messages.shown[0].icon, MessageIcon::Critical);
        QVERIFY2(f.messages.shown[0].text.contains("Bad.xlsx"), qPrintable(f.messages.shown[0].text));
        QCOMPARE(f.messages.shown[1], (Shown{"Excel file open failed!", MessageIcon::Critical}));
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
        QCOMPARE(statuses, (QStringList{"Convert Bad", "Convert Bad", "Convert c"}));
        QCOMPARE(f.dialogs.openRequests.size(), 1);  // only the Add Excel before the batch
        QCOMPARE(elsewhereClicks, 3);
        QCOMPARE(f.messages.shown.size(), 3);
        QCOMPARE(f.messages.shown[0].icon, MessageIcon::None);
        QVERIFY(f.messages.shown[0].text.contains("Bad.xlsx"));
        QCOMPARE(f.messages.shown[1], (Shown{"Convert Bad file failed!", MessageIcon::Critical}));
        QCOMPARE(f.messages.shown[2], (Shown{"Convert c file failed!", MessageIcon::Critical}));
        QCOMPARE(QDir(f.out.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{"Bad", "BookA", "BookB", "c"}));
        QCOMPARE(QDir(f.out.filePath("BookA")).entryList(QDir::Files).size(), 3);
        f.verifyReset();
    }

    void namingModesAcrossABatch_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("sheet name") << 0
                                    << QStringList{"BookA/One.csv", "BookA/Three.csv", "BookA/Two.csv",
                                                   "BookB/Alpha.csv", "BookB/Beta.csv", "c/Sheet1.csv"};
        QTest::newRow("workbook and sheet")
            << 1
            << QStringList{"BookA/Book A_One.csv", "BookA/Book A_Three.csv", "BookA/Book A_Two.csv",
                           "BookB/Book.B_Alpha.csv", "BookB/Book.B_Beta.csv", "c/c_Sheet1.csv"};
        QTest::newRow("running number")
            << 2 << QStringList{"BookA/1.csv", "BookA/2.csv", "BookA/3.csv", "BookB/1.csv", "BookB/2.csv", "c/1.csv"};
    }

    void namingModesAcrossABatch()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, files);
        Fixture f;
        f.writeBooks();
        f.addFolder(f.data.path());
        child<QComboBox>(&f.window, "Combo1")->setCurrentIndex(mode);
        f.browseOutput(f.out.path());
        f.convert();
        QStringList written;
        for (const QString& entry : tree(f.out.path()))
            if (!entry.endsWith('/'))
                written << entry.section('=', 0, 0);
        QCOMPARE(written, files);
    }

    void chartSheetBeforeTheWorksheetsShiftsNothing()
    {
        Fixture f;
        QVERIFY(writeWorkbook(f.data.filePath("Charted.xlsx"), {{"Data", {{"1"}, {"2"}}}, {"More", {{"m"}}}}, true));
        f.addFolder(f.data.path());
        QCOMPARE(itemTexts(f.sheets), (QStringList{"Data", "More"}));
        f.browseOutput(f.out.path());
        f.convert();
        QCOMPARE(f.messages.shown, QList<Shown>{});
        QCOMPARE(tree(f.out.path()), (QStringList{"Charted/", "Charted/Data.csv=1\r\n2\r\n", "Charted/More.csv=m\r\n"}));
    }

    void folderSuffixesAppendToTheLastAttempt()
    {
        Fixture f;
        QVERIFY(writeWorkbook(f.data.filePath("My Book.final.xlsx"), {{"S", {{"s"}}}}));
        QVERIFY(writeWorkbook(f.data.filePath("MyBook.xlsx"), {{"T", {{"t"}}}}));
        QDir(f.out.path()).mkdir("MyBookfinal");
        QDir(f.out.path()).mkdir("MyBookfinal1");
        QFile(f.out.filePath("MyBook")).open(QIODevice::WriteOnly);  // a file in the way
        f.addFolder(f.data.path());
        f.browseOutput(f.out.path());
        f.convert();
        QVERIFY(QFile::exists(f.out.filePath("MyBookfinal12/S.csv")));
        // A file where the folder should go: the error and the usual failure message.
        QCOMPARE(f.messages.shown.size(), 2);
        QCOMPARE(f.messages.shown[0].icon, MessageIcon::None);
        QVERIFY(f.messages.shown[0].text.contains("MyBook"));
        QCOMPARE(f.messages.shown[1], (Shown{"Convert MyBook file failed!", MessageIcon::Critical}));
        QCOMPARE(f.shell.calls.size(), 1);
        f.verifyReset();
    }

    void outputDirectoryIsValidated()
    {
        Fixture f;
        f.writeBooks();
        child<QToolButton>(&f.window, "Command6")->click();
        QCOMPARE(f.messages.shown, (QList<Shown>{{"Please select excel at fast!", MessageIcon::Information}}));
        f.addFolder(f.data.path());

        const QString gone = f.out.filePath("gone");
        QDir(f.out.path()).mkdir("gone");
        f.browseOutput(gone);
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
        child<QAction>(&f.window, "Removeoutput")->trigger();
        QCOMPARE(f.outputs->count(), 3);
        QCOMPARE(current(), QStringLiteral("C"));
        f.outputs->setCurrentIndex(2);
        child<QAction>(&f.window, "Removeoutput")->trigger();
        QCOMPARE(current(), QStringLiteral("C"));
        f.outputs->setEditText(QStringLiteral("typed"));
        child<QAction>(&f.window, "Removeoutput")->trigger();  // typed text is no entry
        QCOMPARE(f.outputs->count(), 2);

        // View opens existing folders only, typed ones too.
        f.outputs->setEditText(f.out.filePath("B"));
        child<QPushButton>(&f.window, "Command11")->click();
        f.outputs->setEditText(f.out.filePath("missing"));
        child<QPushButton>(&f.window, "Command11")->click();
        QCOMPARE(f.shell.calls.size(), 1);
        QCOMPARE(f.shell.calls[0].target, f.out.filePath("B") + '/');

        child<QAction>(&f.window, "RemoveAllOutput")->trigger();
        QCOMPARE(f.outputs->count(), 0);
        f.browseOutput(f.out.filePath("A"));
        child<QAction>(&f.window, "Removeoutput")->trigger();
        QCOMPARE(f.outputs->count(), 0);
        QCOMPARE(f.outputs->currentIndex(), -1);
        QCOMPARE(f.messages.shown, QList<Shown>{});
    }

    void failedWorkbookKeepsItsFilesAndTheRunningNumber()
    {
        Fixture f;
        QVERIFY(writeWorkbook(f.data.filePath("A Fails.xlsx"), {{"S1", {{"1"}}}, {"S2", {{"2"}}}, {"S3", {{"3"}}}}));
        QVERIFY(writeWorkbook(f.data.filePath("B.xlsx"), {{"T1", {{"t"}}}, {"T2", {{"u"}}}}));
        struct RestoreOpener {
            ~RestoreOpener() { core::Spreadsheet::setOpenerForTests(nullptr); }
        } restore;
        core::Spreadsheet::setOpenerForTests([](const std::filesystem::path& file) -> std::unique_ptr<engine::Workbook> {
            auto book = engine::openWorkbook(file);
            if (file.filename().string().find("Fails") == std::string::npos)
                return book;
            return std::make_unique<FailingSecondSave>(std::move(book));
        });
        f.addFolder(f.data.path());
        child<QComboBox>(&f.window, "Combo1")->setCurrentIndex(2);
        f.browseOutput(f.out.path());
        f.convert();
        QCOMPARE(f.messages.shown.size(), 2);
        QVERIFY(f.messages.shown[0].text.contains("the disk is full"));
        QCOMPARE(f.messages.shown[0].icon, MessageIcon::None);
        QCOMPARE(f.messages.shown[1], (Shown{"Convert AFails file failed!", MessageIcon::Critical}));
        // Sheet 1 stays written; the next workbook continues the numbers (1 and 2 were used).
        QCOMPARE(tree(f.out.path()), (QStringList{"AFails/", "AFails/1.csv=1\r\n", "B/", "B/3.csv=t\r\n",
                                                  "B/4.csv=u\r\n"}));
        f.verifyReset();
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

    void cacheKeepsToItsBounds()
    {
        core::SheetSelection cache;
        cache.set(501, 1, "x", true);
        cache.set(1, 5001, "x", true);
        cache.set(1, 0, "x", true);
        QVERIFY(!cache.isListed(501));
        QVERIFY(cache.name(1, 5001).empty());
        std::vector<core::SheetEntry> shown(5100, {"s", false});
        shown[4999] = {"last", true};
        cache.shownWorkbookIndex = 500;
        cache.set(500, 5000, "old", false);
        cache.saveSheetTicks(shown);
        QCOMPARE(cache.name(500, 5000), std::string("last"));
        QVERIFY(cache.ticked(500, 5000));
        QVERIFY(cache.name(500, 5001).empty());
        // Entries past a shorter list keep what they held.
        cache.saveSheetTicks({{"only", true}});
        QCOMPARE(cache.name(500, 2), std::string("s"));
    }
};

QTEST_MAIN(TestConversion)
#include "TestConversion.moc"
