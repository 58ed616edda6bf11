// The help page tells users what tabrun takes and how it answers; it must say what the
// README's tabrun reference says, option for option and status for status.
#include "tests/gui/GuiTestSupport.h"

#include <QRegularExpression>
#include <QTest>

namespace {

QString text(const char* file)
{
    const QByteArray bytes = tabulon::testing::readAll(QString::fromUtf8(file));
    if (bytes == "<missing>")
        qFatal("cannot read %s", file);
    return QString::fromUtf8(bytes);
}

QStringList all(const QString& text, const QString& pattern)
{
    QStringList found;
    for (const auto& match : QRegularExpression(pattern).globalMatch(text))
        found << match.captured(1).trimmed();
    return found;
}

// The first cells of the Markdown table whose header row starts with `header`; code spans
// in a cell ("`/quiet` or `-q`") count one by one.
QStringList markdownColumn(const QString& markdown, const QString& header)
{
    const qsizetype start = markdown.indexOf("| " + header + " |");
    if (start < 0)
        return {};
    QStringList cells;
    const QStringList lines = markdown.mid(start).split('\n');
    for (qsizetype i = 2; i < lines.size() && lines[i].startsWith('|'); ++i) {
        const QString cell = lines[i].section('|', 1, 1);
        const QStringList codes = all(cell, "`([^`]+)`");
        cells << (codes.isEmpty() ? QStringList{cell.trimmed()} : codes);
    }
    return cells;
}

// The first cells of the HTML table with this id, code spans one by one as above.
QStringList htmlColumn(const QString& html, const QString& id)
{
    const qsizetype start = html.indexOf("<table id=\"" + id + "\">");
    if (start < 0)
        return {};
    const QString table = html.mid(start, html.indexOf("</table>", start) - start);
    QStringList cells;
    for (const QString& cell : all(table, "<tr><th>(.*?)</th>")) {
        const QStringList codes = all(cell, "<code>(.*?)</code>");
        cells << (codes.isEmpty() ? QStringList{cell} : codes);
    }
    return cells;
}

}  // namespace

class TestHelpPage : public QObject {
    Q_OBJECT

private slots:
    void tabrunTablesAgreeWithTheReadme()
    {
        const QString readme = text(TABULON_README), help = text(TABULON_HELP_PAGE);
        const struct {
            const char* readmeHeader;
            const char* helpTable;
        } tables[] = {
            {"Option", "tabrun-options"},
            {"Status", "tabrun-status"},
        };
        for (const auto& t : tables) {
            QStringList expected = markdownColumn(readme, t.readmeHeader), shown = htmlColumn(help, t.helpTable);
            QVERIFY2(!expected.isEmpty() && !shown.isEmpty(), t.helpTable);
            expected.sort();
            shown.sort();
            QCOMPARE(shown, expected);
        }
    }
};

QTEST_MAIN(TestHelpPage)
#include "TestHelpPage.moc"
