// A bare Qt Widgets program that shows one empty top-level window: the yardstick against
// which the settings window's start-up time is measured, and a window to drive the desktop's
// display commands with. The first argument, if given, is the window's title; with
// `--label TEXT` after it the window shows one line of text, and so pays for loading fonts
// as every window with words on it does.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Empty"));
    if (argc > 3 && std::strcmp(argv[2], "--label") == 0) {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(new QLabel(QString::fromLocal8Bit(argv[3])));
    }
    window.resize(480, 320);
    window.show();
    return application.exec();
}
