// killall for the stand-in desktop: ends this desktop's registered applications whose
// process has the given name, by pid, and nothing else on the machine.
#include <chrono>
#include <cstdio>
#include <string>

#include "launch/ApplicationRegistry.h"
#include "launch/SystemRoot.h"

namespace {

// A terminated application gets this long to end before it is killed.
constexpr auto kGracePeriod = std::chrono::seconds(5);

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: killall <process name>\n");
        return 2;
    }
    std::string name = argv[1];
    quaymark::ApplicationRegistry registry(
        quaymark::SystemRoot::fromEnvironment().runtimeDirectory());
    bool any = false;
    for (const quaymark::RunningApplication& application : registry.list()) {
        if (application.processName != name)
            continue;
        any = true;
        quaymark::endProcess(application.pid, kGracePeriod);
        registry.remove(application.pid);
    }
    if (!any) {
        std::fprintf(stderr, "No matching processes belonging to you were found\n");
        return 1;
    }
    return 0;
}
