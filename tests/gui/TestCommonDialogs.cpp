#include "dialogs/CommonDialogs.h"
#include "tests/gui/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using tabulon::dialogs::CommonDialogs;
using tabulon::testing::FakeDialogs;

class TestCommonDialogs : public QObject {
    Q_OBJECT

private slots:
    void openTakesTheFixedFilterAndFillsTheResults()
    {
        FakeDialogs fake;
        fake.files = {QStringLiteral("/data/q1/Budget.xlsx"), QStringLiteral("/Root.xls")};
        CommonDialogs dialog;
        dialog.init(nullptr);
        dialog.setTitle(QStringLiteral("Select Excel File"));
        dialog.setFilter(QStringLiteral("Text|*.txt"));
        QVERIFY(dialog.showOpen());
        QCOMPARE(fake.openRequests.size(), 1);
        const auto& request = fake.openRequests.first();
        QCOMPARE(request.caption, QStringLiteral("Select Excel File"));
        QCOMPARE(request.filters, QStringList{CommonDialogs::workbookFilter()});
        QVERIFY(request.mustExist);
        QCOMPARE(dialog.fileName(), QStringLiteral("/data/q1/Budget.xlsx"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("Budget.xlsx"));
        QCOMPARE(dialog.path(), QStringLiteral("/data/q1"));

        // A file in the root keeps "/" as its folder.
        QVERIFY(dialog.showOpen());
        QCOMPARE(dialog.path(), QStringLiteral("/"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("Root.xls"));
    }

    void workbookFilterMatchesEveryWorkbookExtensionInAnyCase()
    {
        const QString filter = CommonDialogs::workbookFilter();
        QVERIFY(filter.startsWith(QStringLiteral("Excel files(*.xls;*.xlsx;*.xlsm;*.xlsb)")));
        const QString patterns = filter.mid(filter.lastIndexOf('(') + 1).chopped(1);
        for (const char* name : {"a.xls", "a.XLSX", "a.Xlsm", "a.xlsb", "a.ods", "a.ODS"}) {
            bool matched = false;
            for (const QString& pattern : patterns.split(' '))
                matched |= QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                               .match(QString::fromLatin1(name))
                               .hasMatch();
            QVERIFY2(matched, name);
        }
        QVERIFY(!QRegularExpression(QRegularExpression::wildcardToRegularExpression(patterns.split(' ').first()))
                     .match(QStringLiteral("a.csv"))
                     .hasMatch());
    }

    void cancelLeavesTheResultsAlone()
    {
        FakeDialogs fake;  // no answers queued: every dialog is cancelled
        CommonDialogs dialog;
        dialog.setFileName(QStringLiteral("/old/name.xls"));
        dialog.setFileTitle(QStringLiteral("name.xls"));
        dialog.setPath(QStringLiteral("/old"));
        dialog.setColor(0x123456);
        dialog.setFontName(QStringLiteral("Arial"));
        dialog.setFontSize(12);
        QVERIFY(!dialog.showOpen());
        QVERIFY(!dialog.showFolder());
        QVERIFY(!dialog.showColor(false));
        QVERIFY(!dialog.showFont());
        QCOMPARE(dialog.fileName(), QStringLiteral("/old/name.xls"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("name.xls"));
        QCOMPARE(dialog.path(), QStringLiteral("/old"));
        QCOMPARE(dialog.color(), 0x123456);
        QCOMPARE(dialog.fontName(), QStringLiteral("Arial"));
        QCOMPARE(dialog.fontSize(), int16_t(12));
    }

    void folderClearsTheFileFields()
    {
        FakeDialogs fake;
        fake.folders = {QStringLiteral("/data/out")};
        CommonDialogs dialog;
        dialog.setTitle(QStringLiteral("Output Folder"));
        dialog.setFileName(QStringLiteral("/x/y.xls"));
        dialog.setFileTitle(QStringLiteral("y.xls"));
        QVERIFY(dialog.showFolder());
        QCOMPARE(fake.folderCaptions, QStringList{QStringLiteral("Output Folder")});
        QCOMPARE(dialog.path(), QStringLiteral("/data/out"));
        QVERIFY(dialog.fileName().isEmpty());
        QVERIFY(dialog.fileTitle().isEmpty());
    }

    void gettersCutAtTheFirstNul()
    {
        CommonDialogs dialog;
        const QString padded = QStringLiteral("abc") + QChar(0) + QStringLiteral("def");
        dialog.setFileName(padded);
        dialog.setFileTitle(padded);
        dialog.setPath(padded);
        dialog.setTitle(padded);
        dialog.setFilter(padded);
        dialog.setDefExt(padded);
        dialog.setFontName(padded);
        for (const QString& cut : {dialog.fileName(), dialog.fileTitle(), dialog.path(), dialog.title()})
            QCOMPARE(cut, QStringLiteral("abc"));
        for (const QString& whole : {dialog.filter(), dialog.defExt(), dialog.fontName()})
            QCOMPARE(whole, padded);
    }

    void saveSettlesItsStartFolderEvenOnCancel()
    {
        QTemporaryDir temp;
        const QString programFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
        const struct {
            QString path, expected;
        } cases[] = {
            {QString(), programFolder},
            {QStringLiteral("   "), programFolder},
            {temp.path(), temp.path() + '/'},
            {temp.path() + '/', temp.path() + '/'},
            {temp.path() + QStringLiteral("/missing"), programFolder},
        };
        for (const auto& c : cases) {
            FakeDialogs fake;
            CommonDialogs dialog;
            dialog.setPath(c.path);
            QVERIFY(!dialog.showSave());
            QCOMPARE(dialog.path(), c.expected);
            QCOMPARE(fake.saveRequests.first().directory, c.expected);
        }
    }

    void saveSplitsTheFilterAtBars()
    {
        const struct {
            QString filter;
            QStringList offered;
        } cases[] = {
            {QString(), {QStringLiteral("*.* (*)")}},
            {QStringLiteral("Text|*.txt;*.log|All|*.*"), {QStringLiteral("Text (*.txt *.log)"), QStringLiteral("All (*)")}},
        };
        for (const auto& c : cases) {
            FakeDialogs fake;
            fake.files = {QStringLiteral("/tmp/out/result.txt")};
            CommonDialogs dialog;
            dialog.setFilter(c.filter);
            dialog.setTitle(QStringLiteral("ignored"));
            QVERIFY(dialog.showSave());
            const auto& request = fake.saveRequests.first();
            QCOMPARE(request.filters, c.offered);
            QCOMPARE(request.selectedFilter, 0);
            QCOMPARE(request.caption, QStringLiteral("Save"));
            QVERIFY(!request.confirmOverwrite);
            QVERIFY(!request.mustExist);
            QCOMPARE(dialog.fileName(), QStringLiteral("/tmp/out/result.txt"));
            QCOMPARE(dialog.fileTitle(), QStringLiteral("result.txt"));
            QCOMPARE(dialog.path(), QStringLiteral("/tmp/out"));
        }
    }

    void colorTravelsAsRedGreenBlueBytes()
    {
        FakeDialogs fake;
        fake.colors = {QColor(0x10, 0x20, 0x30)};
        CommonDialogs dialog;
        dialog.setColor(0x0000FF);  // red
        QVERIFY(dialog.showColor(true));
        QCOMPARE(fake.colorRequests.first().initial, QColor(Qt::red));
        QVERIFY(fake.colorRequests.first().fullOpen);
        QCOMPARE(dialog.color(), 0x302010);
    }

    void fontSizeRoundsDownAndUnderlineStays()
    {
        FakeDialogs fake;
        QFont chosen(QStringLiteral("Liberation Serif"));
        chosen.setPointSizeF(10.5);
        chosen.setBold(true);
        chosen.setItalic(true);
        fake.fonts = {chosen};
        CommonDialogs dialog;
        dialog.setFontName(QString(40, 'F'));
        dialog.setFontSize(12);
        dialog.setFontUnderline(true);
        dialog.setColor(0x00FF00);
        QVERIFY(dialog.showFont());
        const QFont& asked = fake.fontRequests.first().initial;
        QCOMPARE(asked.family(), QString(31, 'F'));
        QCOMPARE(asked.pointSize(), 12);
        QVERIFY(asked.underline());
        QCOMPARE(dialog.fontName(), QStringLiteral("Liberation Serif"));
        QCOMPARE(dialog.fontSize(), int16_t(10));
        QVERIFY(dialog.fontBold());
        QVERIFY(dialog.fontItalic());
        QVERIFY(dialog.fontUnderline());
        QCOMPARE(dialog.color(), 0x00FF00);
    }

    void printerDialogsOnlyReport()
    {
        FakeDialogs fake;
        CommonDialogs dialog;
        QVERIFY(!dialog.showPrinter());
        fake.printerAnswer = true;
        QVERIFY(dialog.showPrinterProperties());
        QCOMPARE(fake.printerCalls, 2);
    }
};

QTEST_MAIN(TestCommonDialogs)
#include "TestCommonDialogs.moc"
