// A bare Qt Widgets program that shows one empty top-level window: the yardstick against
// which the settings window's start-up time is measured, and a window to drive the desktop's
// display commands with. The first argument, if given, is the window's title.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Empty"));
    window.resize(480, 320);
    window.show();
    return application.exec();
}
