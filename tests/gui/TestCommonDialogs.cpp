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
        QCOMPARE(fake.openRequests[0].caption, QStringLiteral("Select Excel File"));
        QCOMPARE(fake.openRequests[0].filters, QStringList{CommonDialogs::workbookFilter()});
        QVERIFY(fake.openRequests[0].mustExist);
        QCOMPARE(dialog.fileName(), QStringLiteral("/data/q1/Budget.xlsx"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("Budget.xlsx"));
        QCOMPARE(dialog.path(), QStringLiteral("/data/q1"));
        QVERIFY(dialog.showOpen());  // a file in the root keeps "/" as its folder
        QCOMPARE(dialog.path(), QStringLiteral("/"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("Root.xls"));
    }

    void workbookFilterNamesWhatItShows()
    {
        // "Description(named;patterns) (offered patterns)": what the user reads must be what
        // the dialog lists, in any letter case.
        const QString filter = CommonDialogs::workbookFilter();
        const QString description = filter.left(filter.lastIndexOf(QStringLiteral(" (")));
        const QString named = description.mid(description.indexOf('(') + 1).chopped(1);
        const QString offered = filter.mid(filter.lastIndexOf('(') + 1).chopped(1);
        auto matches = [](const QStringList& patterns, const QString& name, QRegularExpression::PatternOptions options) {
            for (const QString& pattern : patterns)
                if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern), options)
                        .match(name)
                        .hasMatch())
                    return true;
            return false;
        };
        const struct {
            const char* name;
            bool shown;
        } cases[] = {
            {"a.xls", true},
            {"a.XLSX", true},
            {"a.Xlsm", true},
            {"a.xlsb", true},
            {"a.xltx", true},
            {"a.ods", true},
            {"a.ODS", true},
            {"a.csv", false},
            {"a.odt", false},
            {"xls", false},
        };
        for (const auto& c : cases) {
            const QString name = QString::fromLatin1(c.name);
            QCOMPARE(matches(offered.split(' '), name, QRegularExpression::NoPatternOption), c.shown);
            QCOMPARE(matches(named.split(';'), name, QRegularExpression::CaseInsensitiveOption), c.shown);
            QCOMPARE(CommonDialogs::matchesWorkbookFilter(name), c.shown);
        }
    }

    void openAndFolderStartInPath()
    {
        QTemporaryDir temp;
        const struct {
            QString path, start;
        } cases[] = {
            {temp.path(), temp.path()},
            {temp.filePath("missing"), QString()},
            {QString(), QString()},
        };
        for (const auto& c : cases) {
            FakeDialogs fake;
            CommonDialogs dialog;
            dialog.setPath(c.path);
            QVERIFY(!dialog.showOpen() && !dialog.showFolder());
            QCOMPARE(fake.openRequests.first().directory, c.start);
            QCOMPARE(fake.folderDirectories.first(), c.start);
            QCOMPARE(dialog.path(), c.path);  // cancelled: untouched
        }
    }

    void cancelLeavesTheResultsAloneAndFolderClearsTheFileFields()
    {
        FakeDialogs fake;  // no answers queued: every dialog is cancelled
        CommonDialogs dialog;
        dialog.setFileName(QStringLiteral("/old/name.xls"));
        dialog.setFileTitle(QStringLiteral("name.xls"));
        dialog.setPath(QStringLiteral("/old"));
        dialog.setColor(0x123456);
        dialog.setFontName(QStringLiteral("Arial"));
        dialog.setFontSize(12);
        QVERIFY(!dialog.showOpen() && !dialog.showFolder() && !dialog.showColor(false) && !dialog.showFont());
        QCOMPARE(dialog.fileName(), QStringLiteral("/old/name.xls"));
        QCOMPARE(dialog.fileTitle(), QStringLiteral("name.xls"));
        QCOMPARE(dialog.path(), QStringLiteral("/old"));
        QCOMPARE(dialog.color(), 0x123456);
        QCOMPARE(dialog.fontName(), QStringLiteral("Arial"));
        QCOMPARE(dialog.fontSize(), int16_t(12));

        fake.folders = {QStringLiteral("/data/out")};
        fake.folderCaptions.clear();
        dialog.setTitle(QStringLiteral("Output Folder"));
        QVERIFY(dialog.showFolder());
        QCOMPARE(fake.folderCaptions, QStringList{QStringLiteral("Output Folder")});
        QCOMPARE(dialog.path(), QStringLiteral("/data/out"));
        QVERIFY(dialog.fileName().isEmpty() && dialog.fileTitle().isEmpty());
    }

    void gettersCutAtTheFirstNul()
    {
        CommonDialogs dialog;
        const QString padded = QStringLiteral("abc") + QChar(0) + QStringLiteral("def");
        for (auto set : {&CommonDialogs::setFileName, &CommonDialogs::setFileTitle, &CommonDialogs::setPath,
                         &CommonDialogs::setTitle, &CommonDialogs::setFilter, &CommonDialogs::setDefExt,
                         &CommonDialogs::setFontName})
            (dialog.*set)(padded);
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
            QVERIFY(!request.confirmOverwrite && !request.mustExist);
            QCOMPARE(dialog.fileName(), QStringLiteral("/tmp/out/result.txt"));
            QCOMPARE(dialog.fileTitle(), QStringLiteral("result.txt"));
            QCOMPARE(dialog.path(), QStringLiteral("/tmp/out"));
        }
    }

    void colorAndFontTravelAsTheyShould()
    {
        FakeDialogs fake;
        fake.colors = {QColor(0x10, 0x20, 0x30)};
        CommonDialogs dialog;
        dialog.setColor(0x0000FF);  // red: colours travel as red, green, blue bytes
        QVERIFY(dialog.showColor(true));
        QCOMPARE(fake.colorRequests.first().initial, QColor(Qt::red));
        QVERIFY(fake.colorRequests.first().fullOpen);
        QCOMPARE(dialog.color(), 0x302010);

        // The font size rounds down; underline and colour stay.
        QFont chosen(QStringLiteral("Liberation Serif"));
        chosen.setPointSizeF(10.5);
        chosen.setBold(true);
        chosen.setItalic(true);
        fake.fonts = {chosen};
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
        QVERIFY(dialog.fontBold() && dialog.fontItalic() && dialog.fontUnderline());
        QCOMPARE(dialog.color(), 0x00FF00);
    }
};

QTEST_MAIN(TestCommonDialogs)
#include "TestCommonDialogs.moc"
