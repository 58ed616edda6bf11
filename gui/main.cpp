#include "gui/Installation.h"
#include "gui/MainWindow.h"
#include "engine/io/AtomicFile.h"

#include <QApplication>
#include <cstdio>
#include <exception>

// Tabulon [WORKBOOK or FOLDER]...: what a file manager's "Open with" hands over is added
// to the source list.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    tabulon::engine::removeTemporaryFilesOnSignals();
    QApplication::setApplicationName(QStringLiteral("Tabulon"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tabulon.Tabulon"));  // its desktop entry
    try {
        const QString programFolder = QCoreApplication::applicationDirPath();
        tabulon::gui::MainWindow window(tabulon::gui::stateFolderFor(programFolder, tabulon::gui::builtInLayout()));
        window.show();
        // Qt has taken its own options out of the arguments by now.
        for (const QString& rejected : window.addSources(QCoreApplication::arguments().mid(1)))
            std::fprintf(stderr, "Tabulon: \"%s\" is neither a workbook file nor a folder.\n",
                         rejected.toLocal8Bit().constData());
        return app.exec();
    } catch (const std::exception&) {
        return 1;
    }
}
