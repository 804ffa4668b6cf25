#include "Desktop.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Url.h"
#include "launch/HostWorkspace.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"
#include "standins/FinderStandIn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Finder answers a click within this time, or the click counts as failed.
constexpr auto kFinderAnswerTime = std::chrono::seconds(10);

}  // namespace

bool Desktop::openFinderWindow(const std::string& path) const {
    std::error_code error;
    bool isFolder = fs::is_directory(path, error);
    return FinderWindowsFile(FinderWindowsFile::pathForHome(home()))
        .openWindow({Url::fileUrlWithPath(path, isFolder).absoluteString()});
}

bool Desktop::closeFinderWindow() const {
    return FinderWindowsFile(FinderWindowsFile::pathForHome(home())).closeFrontWindow();
}

std::vector<FinderWindow> Desktop::finderWindows() const {
    return FinderWindowsFile(FinderWindowsFile::pathForHome(home())).windows();
}

std::optional<PlistDictionary> Desktop::loadedToolbar() const {
    std::optional<DecodedPlist> record = readPlistFile(FinderChannel(systemRoot()).loadedToolbar);
    if (!record || !record->value.asDictionary())
        return std::nullopt;
    return *record->value.asDictionary();
}

bool Desktop::waitUntilFinderServes(int pid) const {
    // Finder records its toolbar, with its pid, once it takes requests; a signal sent
    // before then would end it.
    auto deadline = std::chrono::steady_clock::now() + kFinderAnswerTime;
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<PlistDictionary> record = loadedToolbar();
        const PlistValue* recorded = record ? record->find("Pid") : nullptr;
        if (recorded && recorded->asInteger() == pid)
            return true;
        if (!processStartTime(pid))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<XtermWindow> Desktop::xtermWindows() const {
    struct Found {
        XtermWindow window;
        int parent;
    };
    std::vector<Found> found;
    const std::string marker = "QUAYMARK_SYSTEM_ROOT=" + root();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::string command;
        if (!std::getline(comm, command) || command != "xterm")
            continue;
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        std::string variable;
        bool onThisDesktop = false;
        while (std::getline(environ, variable, '\0'))
            onThisDesktop = onThisDesktop || variable == marker;
        if (!onThisDesktop)
            continue;
        // The parent pid is the field after the command name, which ends at the last ")".
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(std::min(line.size(), line.rfind(')') + 1)));
        std::string state;
        int parent = 0;
        fields >> state >> parent;
        std::string directory = fs::read_symlink(entry.path() / "cwd", error).string();
        found.push_back({{std::stoi(name), error ? std::string() : directory}, parent});
    }
    // An xterm forks the child that becomes its shell; until that child has exec'd the shell
    // it is named xterm too, and it is no window of its own.
    std::vector<XtermWindow> windows;
    for (const Found& each : found) {
        bool forkedByXterm = std::any_of(found.begin(), found.end(), [&](const Found& other) {
            return other.window.pid == each.parent;
        });
        if (!forkedByXterm)
            windows.push_back(each.window);
    }
    return windows;
}

PlistDictionary Desktop::askFinder(const PlistDictionary& request) const {
    std::vector<RunningApplication> finders =
        HostWorkspace(systemRoot(), home())
            .runningApplicationsWithBundleIdentifier("com.apple.finder");
    if (finders.empty())
        return PlistDictionary{{"Error", "Finder is not running"}};

    if (!waitUntilFinderServes(finders.front().pid)) {
        return PlistDictionary{{"Error", "Finder did not get ready"}};
    }
    FinderChannel channel(systemRoot());
    static int serial = 0;
    std::string name = std::to_string(getpid()) + "-" + std::to_string(++serial) + ".plist";
    fs::path requestPath = fs::path(channel.requests) / name;
    // Finder only ever sees the whole request.
    if (!writePlistFileAtomically(requestPath.string(), request))
        return PlistDictionary{{"Error", "cannot write the request"}};
    std::error_code error;
    kill(finders.front().pid, SIGUSR1);

    fs::path responsePath = fs::path(channel.responses) / name;
    auto deadline = std::chrono::steady_clock::now() + kFinderAnswerTime;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::optional<DecodedPlist> response = readPlistFile(responsePath.string())) {
            fs::remove(responsePath, error);
            if (const PlistDictionary* answer = response->value.asDictionary())
                return *answer;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fs::remove(requestPath, error);
    return PlistDictionary{{"Error", "Finder did not answer"}};
}

PlistDictionary Desktop::clickToolbarItem(std::optional<int> index) const {
    PlistDictionary request{{"Action", "click"}};
    if (index)
        request.set("Index", PlistValue::integer(*index));
    return askFinder(request);
}

PlistDictionary Desktop::addToolbarItem(const std::string& path) const {
    return askFinder(PlistDictionary{{"Action", "add-item"}, {"Path", path}});
}

}  // namespace quaymark
