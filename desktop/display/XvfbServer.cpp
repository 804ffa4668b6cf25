#include "display/XvfbServer.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "launch/ApplicationRegistry.h"
#include "posix/Posix.h"
#include "posix/Spawn.h"

namespace quaymark {

namespace {

// Xvfb is ready within a second; ten allow for a loaded machine.
constexpr int kReadyMilliseconds = 10000;

}  // namespace

bool XvfbServer::isInstalled() {
    return access(kProgram, X_OK) == 0;
}

Result<StartedXvfb> XvfbServer::start() {
    std::optional<Pipe> numberPipe = makePipe();
    if (!numberPipe)
        return Result<StartedXvfb>::failure("cannot make a pipe for Xvfb");
    // With -displayfd Xvfb takes the first free display number itself, so two desktops never
    // race for one, and writes it to descriptor 3 once it accepts clients. Without -noreset
    // the server resets whenever its last client leaves, and a client that connects during
    // the reset (an application starting just after a look at the windows) is turned away.
    Result<StartedProcess> started =
        spawnProcess({.executable = kProgram,
                      .arguments = {"-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen",
                                    "0", "1280x800x24"},
                      .standardOutput = TaskStream::Discard,
                      .standardError = TaskStream::Discard,
                      .descriptor3 = numberPipe->writeEnd.get(),
                      .detached = true});
    numberPipe->writeEnd.close();
    if (!started)
        return Result<StartedXvfb>::failure("cannot start " + std::string(kProgram) + ": " +
                                            started.error());

    std::string number;
    pollfd waiting{numberPipe->readEnd.get(), POLLIN, 0};
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyMilliseconds);
    while (number.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || retryOnInterrupt([&] {
                                     return poll(&waiting, 1, static_cast<int>(left.count()));
                                 }) <= 0) {
            break;
        }
        char buffer[16];
        ssize_t got = retryOnInterrupt(
            [&] { return read(numberPipe->readEnd.get(), buffer, sizeof buffer); });
        if (got <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(got));
    }
    if (number.empty() || number.back() != '\n' ||
        number.find_first_not_of("0123456789\n") != std::string::npos) {
        endProcess(started->pid, std::chrono::seconds(2));
        return Result<StartedXvfb>::failure("Xvfb did not get ready");
    }
    return Result<StartedXvfb>::success(
        StartedXvfb{started->pid, ":" + number.substr(0, number.size() - 1)});
}

}  // namespace quaymark
