#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Tabulon");
    window.setFixedSize(9096 / 15, 8148 / 15);
    window.show();
    return app.exec();
}
