// A batch as it runs and ends: stopping it, an output directory that refuses writing, and
// the status line during and after.
#include "core/ConvertCommand.h"
#include "core/Spreadsheet.h"
#include "gui/MainWindow.h"
#include "tests/gui/Fakes.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/Workbooks.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <unistd.h>

using namespace tabulon;
using namespace tabulon::testing;
using dialogs::MessageIcon;
using Shown = FakeMessages::Shown;

namespace {

const QString kStopQuestion = QStringLiteral("Stop the conversion after the current worksheet?");

// Calls `saved` with the workbook's file name and the sheet position after each worksheet
// is written, while a batch runs.
class SaveWatch {
public:
    explicit SaveWatch(std::function<void(const QString& book, int sheet)> saved)
    {
        core::Spreadsheet::setOpenerForTests([saved](const std::filesystem::path& file) {
            return std::unique_ptr<engine::Workbook>(
                new Watched(engine::openWorkbook(file), QString::fromStdString(file.filename().string()), saved));
        });
    }
    ~SaveWatch() { core::Spreadsheet::setOpenerForTests(nullptr); }

private:
    struct Watched : engine::Workbook {
        Watched(std::unique_ptr<engine::Workbook> b, QString n, std::function<void(const QString&, int)> s)
            : book(std::move(b)), name(std::move(n)), saved(std::move(s))
        {
        }
        int sheetCount() const override { return book->sheetCount(); }
        std::string sheetName(int position) const override { return book->sheetName(position); }
        void selectSheet(int position) override { book->selectSheet(selected = position); }
        void saveAsCsv(const std::filesystem::path& target, std::optional<int> position,
                   const engine::RowProgress& progress) override
        {
            book->saveAsCsv(target, position, progress);
            saved(name, position.value_or(selected));
        }
        void close() override { book->close(); }

        std::unique_ptr<engine::Workbook> book;
        QString name;
        std::function<void(const QString&, int)> saved;
        int selected = 1;
    };
};

// Workbooks A (3 sheets), B (2) and C (1) listed from one folder, an output folder chosen.
struct Batch {
    QTemporaryDir state, data, out;
    FakeDialogs dialogs;
    FakeMessages messages;
    FakeShell shell;
    gui::MainWindow window{state.path(), state.path()};
    QLabel* status = child<QLabel>(&window, "Label1");

    Batch()
    {
        window.show();
        book("A.xlsx", {{"A1", {{"a1"}}}, {"A2", {{"a2"}}}, {"A3", {{"a3"}}}});
        book("B.xlsx", {{"B1", {{"b1"}}}, {"B2", {{"b2"}}}});
        book("C.xlsx", {{"C1", {{"c1"}}}});
        dialogs.folders = {data.path(), out.path()};
        press("Command5");
        press("Command10");
    }
    void book(const char* name, const std::vector<TestSheet>& sheets)
    {
        QVERIFY(writeWorkbook(data.filePath(QString::fromLatin1(name)), sheets));
    }
    void press(const char* button) { child<QAbstractButton>(&window, button)->click(); }
    void convert() { press("Command6"); }
    // Every file under the output folder, as "folder/name".
    QStringList written() const
    {
        QStringList files;
        for (QDirIterator it(out.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            files << QDir(out.path()).relativeFilePath(it.next());
        files.sort();
        return files;
    }
    // The status line without the time it took, which no test can know.
    QString summary() const { return status->text().remove(QRegularExpression(", \\d+:\\d\\d$")); }
};

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT

private slots:
    void escapeAsksAndStopsAfterTheCurrentWorksheet()
    {
        Batch b;
        b.messages.answers = {false, true};  // go on the first time, stop the second
        QStringList statuses;
        SaveWatch watch([&](const QString& book, int sheet) {
            statuses << b.status->text();
            if (sheet == 1 && book != "C.xlsx")
                QTest::keyClick(&b.window, Qt::Key_Escape);
        });
        b.convert();
        QCOMPARE(b.messages.questions, (QStringList{kStopQuestion, kStopQuestion}));
        QCOMPARE(statuses, (QStringList{"Convert A (workbook 1 of 3)", "Convert A (workbook 1 of 3)",
                                        "Convert A (workbook 1 of 3)", "Convert B (workbook 2 of 3)"}));
        // B's first worksheet is whole, its second never started, C never begun; no partial files.
        QCOMPARE(b.written(), (QStringList{"A/A1.csv", "A/A2.csv", "A/A3.csv", "B/B1.csv"}));
        QCOMPARE(b.summary(), QStringLiteral("Stopped at workbook 2 of 3: 1 converted (4 worksheets), 0 failed"));
        QCOMPARE(b.messages.shown, QList<Shown>{});
        QCOMPARE(b.shell.calls.size(), 1);  // the output directory still opens
        QVERIFY(b.window.isVisible());

        // The next batch starts afresh and runs to its end.
        b.convert();
        QCOMPARE(b.summary(), QStringLiteral("Done: 3 of 3 workbooks converted (6 worksheets), 0 failed"));
        QCOMPARE(b.messages.questions.size(), 4);  // asked twice more, answered No
    }

    void closingDuringABatchStopsItAndThenCloses()
    {
        Batch b;
        QFile set(b.state.filePath("set.txt"));
        QVERIFY(set.open(QIODevice::WriteOnly) && set.write("1\r\n1\r\n") == 6);
        set.close();
        b.messages.answers = {false, true};
        SaveWatch watch([&](const QString& book, int sheet) {
            if ((book == "A.xlsx" && sheet == 2) || (book == "B.xlsx" && sheet == 1))
                b.window.close();
        });
        b.convert();
        QCOMPARE(b.messages.questions, (QStringList{kStopQuestion, kStopQuestion}));
        QCOMPARE(b.written(), (QStringList{"A/A1.csv", "A/A2.csv", "A/A3.csv", "B/B1.csv"}));
        QVERIFY(!b.window.isVisible());
        QCOMPARE(b.shell.calls.size(), 0);  // nobody is left to look at the folder
        QCOMPARE(readAll(b.state.filePath("EXCEL.txt")), (b.data.path() + "\r\n").toUtf8());  // closed as usual
    }

    void anOutputDirectoryThatRefusesWritingStopsTheBatchOnce()
    {
        // B's folder cannot be created; A's and C's can.
        const struct {
            std::errc error;
            bool refuses;  // the output directory as a whole, not B's name
        } cases[] = {
            {std::errc::permission_denied, true},
            {std::errc::operation_not_permitted, true},
            {std::errc::read_only_file_system, true},
            {std::errc::no_space_on_device, true},
            {std::errc::filename_too_long, false},
            {std::errc::invalid_argument, false},
        };
        for (const auto& c : cases) {
            Batch b;
            const std::error_code error = std::make_error_code(c.error);
            core::setFolderCreatorForTests([&](const std::filesystem::path& folder, std::error_code& ec) {
                if (folder.filename() == "B") {
                    ec = error;
                    return false;
                }
                return std::filesystem::create_directory(folder, ec);
            });
            b.convert();
            core::setFolderCreatorForTests(nullptr);
            const QString message = QString::fromStdString(error.message());
            if (c.refuses) {
                QCOMPARE(b.messages.shown, (QList<Shown>{{"Cannot create folders in the output directory \"" + b.out.path()
                                                              + "\": " + message + ". The conversion stops here.",
                                                          MessageIcon::Critical}}));
                QCOMPARE(b.written(), (QStringList{"A/A1.csv", "A/A2.csv", "A/A3.csv"}));
                QCOMPARE(b.summary(), QStringLiteral("Stopped at workbook 2 of 3: 1 converted (3 worksheets), 1 failed"));
            } else {
                QCOMPARE(b.messages.shown,
                         (QList<Shown>{{"Cannot create the folder \"" + b.out.filePath("B") + "\": " + message + ".",
                                        MessageIcon::None},
                                       {"Convert B file failed!", MessageIcon::Critical}}));
                QCOMPARE(b.written(), (QStringList{"A/A1.csv", "A/A2.csv", "A/A3.csv", "C/C1.csv"}));
                QCOMPARE(b.summary(), QStringLiteral("Done: 2 of 3 workbooks converted (4 worksheets), 1 failed"));
            }
            QCOMPARE(b.shell.calls.size(), 1);
        }
    }

    void aReadOnlyOutputDirectoryGivesOneMessage()
    {
        if (geteuid() == 0)
            QSKIP("permission bits do not stop root; the seam above covers the rule");
        Batch b;
        QVERIFY(QFile::setPermissions(b.out.path(), QFile::ReadOwner | QFile::ExeOwner));
        b.convert();
        QFile::setPermissions(b.out.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY(b.messages.shown[0].text.startsWith("Cannot create folders in the output directory"));
        QCOMPARE(b.summary(), QStringLiteral("Stopped at workbook 1 of 3: 0 converted (0 worksheets), 1 failed"));
    }

    void theSummaryStaysUntilTheNextAction()
    {
        Batch b;
        QFile bad(b.data.filePath("D bad.xlsx"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("PK\x03\x04 no workbook") > 0);
        bad.close();
        b.dialogs.folders = {b.data.path()};
        b.press("Command5");  // the folder again, now with D
        auto* workbooks = child<QTreeWidget>(&b.window, "ListView2");
        auto* sheets = child<QTreeWidget>(&b.window, "ListView3");
        workbooks->topLevelItem(1)->setCheckState(0, Qt::Unchecked);  // B
        sheets->topLevelItem(2)->setCheckState(0, Qt::Unchecked);     // A3
        b.convert();
        QCOMPARE(b.summary(), QStringLiteral("Done: 2 of 3 workbooks converted (3 worksheets), 1 failed"));
        QVERIFY(QRegularExpression(", 0:0\\d$").match(b.status->text()).hasMatch());
        QCOMPARE(b.messages.shown.size(), 2);  // D's error and its failure message

        sheets->topLevelItem(2)->setCheckState(0, Qt::Checked);  // a tick is no action
        QVERIFY(b.status->text().startsWith("Done: "));
        b.press("Command11");  // View
        QCOMPARE(b.status->text(), QString());

        // A command that stops at its checks leaves no summary.
        child<QComboBox>(&b.window, "Combo5")->setEditText(QString());
        b.convert();
        QCOMPARE(b.messages.shown.last().text, QStringLiteral("Please select output folder"));
        QCOMPARE(b.status->text(), QString());
    }
};

QTEST_MAIN(TestBatch)
#include "TestBatch.moc"
