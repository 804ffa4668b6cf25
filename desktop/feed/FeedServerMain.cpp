// quaymark-feed-server <folder> [--port N]: serves the folder on 127.0.0.1 until SIGTERM.
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "FeedServer.h"
#include "Posix.h"

namespace {

int terminationWriteEnd = -1;

void terminationRequested(int) {
    // Only the write is async-signal-safe; the event loop does the rest.
    quaymark::writeAll(terminationWriteEnd, "x");
}

int usage() {
    std::fprintf(stderr, "usage: quaymark-feed-server <folder> [--port N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() != 1 && !(arguments.size() == 3 && arguments[1] == "--port"))
        return usage();
    quint16 port = 0;
    if (arguments.size() == 3) {
        bool valid = false;
        port = arguments[2].toUShort(&valid);
        if (!valid)
            return usage();
    }
    if (!QFileInfo(arguments[0]).isDir()) {
        std::fprintf(stderr, "quaymark-feed-server: %s is not a folder\n",
                     qPrintable(arguments[0]));
        return 1;
    }

    std::optional<quaymark::Pipe> termination = quaymark::makePipe();
    if (!termination) {
        std::perror("quaymark-feed-server: pipe");
        return 1;
    }
    terminationWriteEnd = termination->writeEnd.get();
    QSocketNotifier notifier(termination->readEnd.get(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
    std::signal(SIGTERM, terminationRequested);

    quaymark::FeedServer server(arguments[0]);
    if (!server.listen(port)) {
        std::fprintf(stderr, "quaymark-feed-server: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("%s\n", qPrintable(server.url().toString()));
    std::fflush(stdout);
    return application.exec();
}
