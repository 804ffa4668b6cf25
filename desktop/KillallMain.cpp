// killall for the stand-in desktop: ends this desktop's registered applications whose
// process has the given name, by pid, and nothing else on the machine.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "ApplicationRegistry.h"
#include "SystemRoot.h"

namespace {

// A terminated application gets this long to end before it is killed.
constexpr auto kGracePeriod = std::chrono::seconds(5);

bool alive(int pid) {
    return quaymark::processStartTime(pid).has_value();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: killall <process name>\n");
        return 2;
    }
    std::string name = argv[1];
    quaymark::ApplicationRegistry registry(
        quaymark::SystemRoot::fromEnvironment().runtimeDirectory());
    std::vector<int> ended;
    for (const quaymark::RunningApplication& application : registry.list()) {
        if (application.processName != name)
            continue;
        if (kill(application.pid, SIGTERM) == 0)
            ended.push_back(application.pid);
    }
    if (ended.empty()) {
        std::fprintf(stderr, "No matching processes belonging to you were found\n");
        return 1;
    }
    auto deadline = std::chrono::steady_clock::now() + kGracePeriod;
    for (int pid : ended) {
        while (alive(pid) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (alive(pid))
            kill(pid, SIGKILL);
        registry.remove(pid);
    }
    return 0;
}
