// quaymark-feed-server <folder> [--port N] [--hold PATH]...: serves the folder on 127.0.0.1
// until SIGTERM. Its first line of output is its address. Requests for a held path wait until
// SIGUSR1, and each prints "held PATH" as it starts waiting.
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "FeedServer.h"
#include "posix/Posix.h"

namespace {

int signalWriteEnd = -1;

// Only the write is async-signal-safe; the event loop reads which signal came.
void terminationRequested(int) {
    quaymark::writeAll(signalWriteEnd, "t");
}
void releaseRequested(int) {
    quaymark::writeAll(signalWriteEnd, "r");
}

int usage() {
    std::fprintf(stderr, "usage: quaymark-feed-server <folder> [--port N] [--hold PATH]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() % 2 != 1)
        return usage();
    quint16 port = 0;
    QStringList held;
    for (qsizetype option = 1; option < arguments.size(); option += 2) {
        const QString& value = arguments[option + 1];
        if (arguments[option] == "--hold" && value.startsWith('/')) {
            held.append(value);
        } else if (arguments[option] == "--port") {
            bool valid = false;
            port = value.toUShort(&valid);
            if (!valid)
                return usage();
        } else {
            return usage();
        }
    }
    if (!QFileInfo(arguments[0]).isDir()) {
        std::fprintf(stderr, "quaymark-feed-server: %s is not a folder\n",
                     qPrintable(arguments[0]));
        return 1;
    }

    std::optional<quaymark::Pipe> wakeups = quaymark::makePipe();
    if (!wakeups) {
        std::perror("quaymark-feed-server: pipe");
        return 1;
    }
    quaymark::FeedServer server(arguments[0]);
    for (const QString& path : held)
        server.hold(path);
    QObject::connect(&server, &quaymark::FeedServer::requestHeld, [](const QString& path) {
        std::printf("held %s\n", qPrintable(path));
        std::fflush(stdout);
    });
    signalWriteEnd = wakeups->writeEnd.get();
    QSocketNotifier notifier(wakeups->readEnd.get(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &application, [&] {
        char which = 0;
        if (read(wakeups->readEnd.get(), &which, 1) != 1 || which == 't')
            application.quit();
        else
            server.releaseHeld();
    });
    std::signal(SIGTERM, terminationRequested);
    std::signal(SIGUSR1, releaseRequested);

    if (!server.listen(port)) {
        std::fprintf(stderr, "quaymark-feed-server: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("%s\n", qPrintable(server.url().toString()));
    std::fflush(stdout);
    return application.exec();
}
