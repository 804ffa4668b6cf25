// Saves the desktop's X display, or one window on it, as a PNG file.
// usage: quaymark-screenshot FILE [WINDOW-ID]; the display comes from $DISPLAY.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cstdio>
#include <cstdlib>

namespace {

// Whether every pixel has the colour of the first: all a window shows between being mapped
// and drawing itself.
bool isBlank(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}

}  // namespace

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
    // A window that was only just shown gets two seconds to draw itself; one that stays
    // blank, such as an empty window, is saved blank after that.
    for (int attempt = 0; attempt < 20 && !picture.isNull() && isBlank(picture.toImage());
         ++attempt) {
        QThread::msleep(100);
        picture = screen->grabWindow(window);
    }
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
