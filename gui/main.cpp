#include "gui/MainWindow.h"
#include "gui/StateFiles.h"

#include <QApplication>
#include <exception>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tabulon"));
    try {
        tabulon::gui::MainWindow window(tabulon::gui::chooseStateFolder(QCoreApplication::applicationDirPath()));
        window.show();
        return app.exec();
    } catch (const std::exception&) {
        return 1;
    }
}
