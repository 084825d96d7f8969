// The start-up floor: the least a Qt Widgets program does to put a window of
// the panel's size with a line of text on the screen. The text matters: it
// makes the program load the font configuration, as any panel must.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setCentralWidget(new QLabel(QStringLiteral("00")));
    window.resize(613, 396);
    window.show();
    return QApplication::exec();
}
