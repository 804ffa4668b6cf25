// Saves the desktop's X display, or one window on it, as a PNG file.
// usage: quaymark-screenshot FILE [WINDOW-ID]; the display comes from $DISPLAY.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fputs("usage: quaymark-screenshot FILE [WINDOW-ID]\n", stderr);
        return 2;
    }
    // The picture is of the X display itself, whatever platform the caller's Qt would pick.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    char* end = nullptr;
    // Window 0 is the whole screen.
    WId window = argc == 3 ? static_cast<WId>(std::strtoull(argv[2], &end, 0)) : 0;
    if (argc == 3 && (end == argv[2] || *end != '\0')) {
        std::fprintf(stderr, "quaymark-screenshot: %s is no window id\n", argv[2]);
        return 2;
    }
    QPixmap picture = screen ? screen->grabWindow(window) : QPixmap();
    if (picture.isNull()) {
        std::fputs("quaymark-screenshot: the display gave no picture\n", stderr);
        return 1;
    }
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "quaymark-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
