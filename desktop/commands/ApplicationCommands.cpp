// The commands that start and end the applications of a desktop.
#include <algorithm>
#include <ostream>

#include "commands/DesktopCommand.h"

namespace quaymark {

namespace {

int startApplication(const Invocation& call, const std::string& application) {
    // Without a display an application still starts; only its windows have nowhere to go.
    if (Result<void> shown = showOnDisplay(*call.desktop); !shown)
        call.err << shown.error() << "\n";
    std::vector<RunningApplication> before = call.desktop->runningApplications();
    int pid = call.desktop->startApplication(application);
    if (pid <= 0) {
        call.err << "cannot start " << application << "\n";
        return 1;
    }
    bool ranBefore = std::any_of(before.begin(), before.end(),
                                 [&](const RunningApplication& each) { return each.pid == pid; });
    call.out << application
             << (ranBefore ? " runs already and is now in front, pid " : " started, pid ") << pid
             << "\n";
    return 0;
}

int start(const Invocation& call) {
    return startApplication(call, call.words[0]);
}

int settings(const Invocation& call) {
    return startApplication(call, "Quaymark");
}

int stop(const Invocation& call) {
    if (call.arguments.hasFlag("--all")) {
        call.desktop->stopAll();
        call.desktop->stopServices();
        return 0;
    }
    if (call.words.size() != 1)
        return kWrongArguments;
    if (!call.desktop->stopApplication(call.words[0])) {
        call.err << call.words[0] << " is not running\n";
        return 1;
    }
    return 0;
}

}  // namespace

const DesktopCommand kStartCommand{
    .name = "start",
    .arguments = "APP",
    .usage =
        "start Finder, Terminal, iTerm, iTerm2 or Quaymark (one that runs\n"
        "comes to the front instead); the desktop's X display starts first",
    .handler = start,
    .fewestWords = 1,
    .mostWords = 1};

const DesktopCommand kSettingsCommand{
    .name = "settings",
    .usage = "start Quaymark without arguments: its settings window",
    .handler = settings};

const DesktopCommand kStopCommand{
    .name = "stop",
    .arguments = "APP|--all",
    .usage =
        "end an application (or all of them, with the display and the\n"
        "feed server) by pid; Finder stays stopped until started again,\n"
        "while a Finder ended any other way (killall, a crash) is back\n"
        "within a second, as on a Mac",
    .handler = stop};

}  // namespace quaymark
