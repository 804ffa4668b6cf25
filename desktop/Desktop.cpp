#include "Desktop.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "standins/FinderKeeper.h"
#include "standins/FinderStandIn.h"
#include "PathUtilities.h"
#include "standins/StandInBundles.h"
#include "display/XvfbServer.h"
#include "launch/HostWorkspace.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Finder answers a click within this time, or the click counts as failed.
constexpr auto kFinderAnswerTime = std::chrono::seconds(10);
// The feed server prints its address as soon as it listens.
constexpr auto kFeedReadyTime = std::chrono::seconds(10);
// A server that does not end on SIGTERM within this time is killed.
constexpr auto kServiceGrace = std::chrono::seconds(3);

// Qt wants its runtime folder private to the user.
void makeRuntimeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    fs::permissions(folder, fs::perms::owner_all, error);
}

// The desktop's URL opener, found first on the applications' search path (as xdg-open, which
// Qt asks on a desktop it does not know): it records each address it is asked to open, in
// the order asked, where urlsOpened() reads them.
void layOutUrlOpener(const std::string& folder) {
    const fs::path opener = fs::path(folder) / "bin" / "xdg-open";
    std::error_code error;
    if (fs::exists(opener, error))
        return;
    fs::create_directories(opener.parent_path(), error);
    writeFileAtomically(opener.string(),
                        "#!/bin/sh\n"
                        "# Records the addresses it is asked to open, one a line.\n"
                        "for url in \"$@\"; do\n"
                        "  printf '%s\\n' \"$url\" >> \"$(dirname \"$0\")/../urls-opened\"\n"
                        "done\n",
                        {.mode = 0755});
}

bool writePlist(const fs::path& path, const PlistValue& value) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return writePlistFileAtomically(path.string(), value);
}

bool copyExecutable(const std::string& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    if (error)
        return false;
    fs::permissions(to,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
    return !error;
}

PlistDictionary bundleInfo(const std::string& identifier, const std::string& executable,
                           const std::string& version) {
    return PlistDictionary{{"CFBundleIdentifier", identifier},
                           {"CFBundleExecutable", executable},
                           {"CFBundleName", executable},
                           {"CFBundlePackageType", "APPL"},
                           {"CFBundleShortVersionString", version}};
}

HostWorkspace workspaceOf(const Desktop& desktop) {
    return HostWorkspace(desktop.systemRoot(), desktop.home());
}

}  // namespace

StandInPrograms StandInPrograms::besideRunningExecutable() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string folder = stringByDeletingLastPathComponent(
        length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "");
    return StandInPrograms{folder + "/quaymark-finder", folder + "/quaymark-killall",
                           folder + "/quaymark-standin"};
}

std::string StandInPrograms::besideRunningExecutable(const std::string& name) {
    return stringByDeletingLastPathComponent(besideRunningExecutable().finder) + "/" + name;
}

Desktop::Desktop(std::string folder) : _folder(std::move(folder)) {}

bool Desktop::exists() const {
    std::error_code error;
    return fs::is_directory(root(), error) && fs::is_directory(home(), error);
}

std::optional<std::string> Desktop::create(const std::string& folder, const DesktopOptions& options,
                                           const StandInPrograms& programs) {
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_empty(folder, error))
        return folder + " is not empty";
    fs::create_directories(folder, error);
    if (error)
        return "cannot create " + folder + ": " + error.message();
    Desktop desktop(fs::canonical(folder, error).string());
    fs::path root = desktop.root();
    fs::path home = desktop.home();
    for (const char* sub : {"Desktop", "Documents", "Library/Preferences", "Applications"}) {
        fs::create_directories(home / sub, error);
    }
    fs::create_directories(root / "Applications" / "Utilities", error);
    makeRuntimeFolder(desktop.runtimeFolder());
    layOutUrlOpener(desktop.folder());
    if (error)
        return "cannot lay out " + folder + ": " + error.message();

    if (!writePlist(root / "System/Library/CoreServices/SystemVersion.plist",
                    PlistDictionary{{"ProductName", "Mac OS X"},
                                    {"ProductVersion", options.systemVersion}})) {
        return std::string("cannot write SystemVersion.plist");
    }

    fs::path finder = root / "Applications" / "Finder.app";
    if (!writePlist(finder / "Contents" / "Info.plist",
                    bundleInfo("com.apple.finder", "Finder", "10.14")) ||
        !copyExecutable(programs.finder, finder / "Contents" / "MacOS" / "Finder")) {
        return "cannot install the Finder stand-in from " + programs.finder;
    }
    if (!copyExecutable(programs.killall, root / "usr" / "bin" / "killall")) {
        return "cannot install killall from " + programs.killall;
    }

    SystemRoot systemRoot = desktop.systemRoot();
    struct Wanted {
        bool installed;
        TerminalKind kind;
        std::string version;
    };
    const Wanted terminals[] = {
        {options.terminal, TerminalKind::AppleTerminal, "2.8"},
        {options.iTerm, TerminalKind::ITerm, "0.10"},
        {options.iTerm2, TerminalKind::ITerm2, options.iTerm2Version},
    };
    for (const Wanted& wanted : terminals) {
        if (!wanted.installed)
            continue;
        if (auto problem = layOutTerminalStandIn(systemRoot, wanted.kind, wanted.version,
                                                 options.shell, programs.terminal)) {
            return problem;
        }
    }
    if (options.xterm) {
        fs::create_directories(root / "usr" / "X11R6" / "bin", error);
        fs::create_symlink("/usr/bin/xterm", root / "usr" / "X11R6" / "bin" / "xterm", error);
        if (error)
            return "cannot link xterm: " + error.message();
    }
    return std::nullopt;
}

Environment Desktop::environment() const {
    Environment environment{{"HOME", home()},
                            {"QUAYMARK_SYSTEM_ROOT", root()},
                            {"XDG_RUNTIME_DIR", runtimeFolder()},
                            {"PATH", _folder + "/bin:/usr/local/bin:/usr/bin:/bin"}};
    if (std::optional<DesktopService> shown = display())
        environment["DISPLAY"] = shown->address;
    return environment;
}

void Desktop::enter() const {
    // Desktops laid out before the runtime folder was part of them get it now.
    makeRuntimeFolder(runtimeFolder());
    layOutUrlOpener(_folder);
    for (const auto& [name, value] : environment())
        setenv(name.c_str(), value.c_str(), 1);
}

std::optional<std::string> copyApplication(const std::string& builtApp, const std::string& target,
                                           const PlistDictionary& infoChanges) {
    std::error_code error;
    if (!fs::exists(fs::path(builtApp) / "Contents" / "Info.plist", error)) {
        return builtApp + " is no application bundle";
    }
    fs::remove_all(target, error);
    fs::create_directories(fs::path(target).parent_path(), error);
    fs::copy(builtApp, target, fs::copy_options::recursive, error);
    if (error)
        return "cannot copy " + builtApp + ": " + error.message();
    if (infoChanges.empty())
        return std::nullopt;
    const std::string infoPath = target + "/Contents/Info.plist";
    std::optional<DecodedPlist> info = readPlistFile(infoPath);
    PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    if (dictionary == nullptr)
        return infoPath + " is not a property-list dictionary";
    for (const auto& [key, value] : infoChanges)
        dictionary->set(key, value);
    if (std::optional<std::string> problem = plistEncodingProblem(info->value, info->format))
        return "cannot write " + infoPath + ": " + *problem;
    if (!writeFileAtomically(infoPath, encodePlist(info->value, info->format), {.mode = 0644}))
        return "cannot write " + infoPath + ": " + std::strerror(errno);
    return std::nullopt;
}

std::optional<std::string> Desktop::installQuaymark(const std::string& builtApp,
                                                    InstallLocation location,
                                                    const PlistDictionary& infoChanges) const {
    fs::path folder = location == InstallLocation::Applications ? fs::path(root()) / "Applications"
                                                                : fs::path(home()) / "Applications";
    return copyApplication(builtApp, (folder / "Quaymark.app").string(), infoChanges);
}

std::optional<std::string> Desktop::installQuaymarkForUpdates(const std::string& builtApp,
                                                              const std::string& version,
                                                              const std::string& publicKey) const {
    const std::optional<DesktopService> served = feed();
    if (!served)
        return "the desktop serves no feed";
    return installQuaymark(builtApp, InstallLocation::Applications,
                           {{"CFBundleVersion", version},
                            {"CFBundleShortVersionString", version},
                            {"SUFeedURL", served->address + "appcast.xml"},
                            {"SUPublicEDKey", publicKey}});
}

std::string Desktop::installedQuaymarkVersion() const {
    const std::optional<std::string> app = installedQuaymark();
    if (!app)
        return "Quaymark is not installed";
    ProcessOutcome shown =
        runAndCollect({.executable = systemRoot().map(*app + "/Contents/MacOS/Quaymark"),
                       .arguments = {"--version"},
                       .environment = environment(),
                       .capture = Capture::Both},
                      std::chrono::seconds(20));
    std::string text = shown.output + shown.errorOutput;
    if (text.ends_with('\n'))
        text.pop_back();
    return text;
}

std::optional<std::string> makeRelease(const std::vector<std::string>& arguments,
                                       std::string& output) {
    // Its signing and packing take seconds for a large bundle, far more in a sanitizer build.
    ProcessOutcome made = runAndCollect({.executable = QUAYMARK_MAKE_RELEASE,
                                         .arguments = arguments,
                                         .environment = currentEnvironment(),
                                         .capture = Capture::Both},
                                        std::chrono::seconds(120));
    output = made.output + made.errorOutput;
    const std::string label = "public key: ";
    const std::size_t printed = made.output.rfind(label);
    if (made.exitStatus != 0 || printed == std::string::npos)
        return std::nullopt;
    const std::size_t start = printed + label.size();
    return made.output.substr(start, made.output.find('\n', start) - start);
}

std::optional<std::string> Desktop::installedQuaymark() const {
    std::error_code error;
    if (fs::exists(fs::path(root()) / "Applications" / "Quaymark.app", error)) {
        return std::string("/Applications/Quaymark.app");
    }
    fs::path inHome = fs::path(home()) / "Applications" / "Quaymark.app";
    if (fs::exists(inHome, error))
        return inHome.string();
    return std::nullopt;
}

std::optional<std::string> Desktop::bundleIdentifierForApplication(const std::string& name) {
    if (name == "Finder")
        return std::string("com.apple.finder");
    if (name == "Terminal")
        return std::string("com.apple.Terminal");
    if (name == "iTerm")
        return std::string("net.sourceforge.iTerm");
    if (name == "iTerm2")
        return std::string("com.googlecode.iterm2");
    if (name == "Quaymark")
        return std::string("com.brindlewood.Quaymark");
    if (name.find('.') != std::string::npos)
        return name;
    return std::nullopt;
}

int Desktop::startApplication(const std::string& name) const {
    std::optional<std::string> identifier = bundleIdentifierForApplication(name);
    if (!identifier)
        return -1;
    enter();
    HostWorkspace workspace = workspaceOf(*this);
    std::optional<std::string> path = workspace.absolutePathForAppBundleWithIdentifier(*identifier);
    if (!path)
        return -1;
    return workspace.launchBundle(*path, {});
}

bool Desktop::stopApplication(const std::string& name) const {
    std::optional<std::string> identifier = bundleIdentifierForApplication(name);
    if (!identifier)
        return false;
    HostWorkspace workspace = workspaceOf(*this);
    // A Finder that ends is started again by its keeper, as on a Mac; stopping Finder on purpose
    // ends the keeper first. A Finder that was just starting may have started a keeper anew
    // before it was ended, so the two are looked at again until neither runs.
    const bool finder = *identifier == "com.apple.finder";
    bool stopped = false;
    for (int round = 0; round < 3; ++round) {
        std::optional<int> keeper = finder ? FinderKeeper::running(systemRoot()) : std::nullopt;
        if (keeper)
            endProcess(*keeper, kServiceGrace);
        std::vector<RunningApplication> running =
            workspace.runningApplicationsWithBundleIdentifier(*identifier);
        for (const RunningApplication& application : running) {
            endProcess(application.pid, std::chrono::seconds(5));
            workspace.registry().remove(application.pid);
        }
        stopped = stopped || !running.empty() || keeper;
        if (!finder || (!keeper && running.empty()))
            break;
    }
    return stopped;
}

std::vector<RunningApplication> Desktop::runningApplications() const {
    return workspaceOf(*this).runningApplications();
}

void Desktop::stopAll() const {
    // Finder first, with its keeper, which would otherwise start it again meanwhile.
    stopApplication("Finder");
    for (const RunningApplication& application : runningApplications()) {
        stopApplication(application.bundleIdentifier);
    }
}

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

std::optional<DesktopService> Desktop::service(const std::string& name) const {
    std::optional<DecodedPlist> record = readPlistFile(servicesFile());
    const PlistDictionary* services = record ? record->value.asDictionary() : nullptr;
    const PlistValue* entry = services ? services->find(name) : nullptr;
    const PlistDictionary* fields = entry ? entry->asDictionary() : nullptr;
    if (!fields)
        return std::nullopt;
    const PlistValue* pid = fields->find("Pid");
    const PlistValue* started = fields->find("Started");
    const PlistValue* address = fields->find("Address");
    if (!pid || !pid->asInteger() || !started || !started->asInteger() || !address ||
        !address->asString()) {
        return std::nullopt;
    }
    // A recorded pid names our server only while a process with that pid has run since the
    // time recorded with it; otherwise the number may have gone to another process.
    auto runningSince = processStartTime(static_cast<int>(*pid->asInteger()));
    if (!runningSince || static_cast<std::int64_t>(*runningSince) != *started->asInteger())
        return std::nullopt;
    return DesktopService{static_cast<int>(*pid->asInteger()), *address->asString()};
}

bool Desktop::recordService(const std::string& name, const DesktopService& service) const {
    std::optional<DecodedPlist> record = readPlistFile(servicesFile());
    const PlistDictionary* read = record ? record->value.asDictionary() : nullptr;
    PlistDictionary services = read ? *read : PlistDictionary{};
    auto started = processStartTime(service.pid);
    if (!started)
        return false;
    services.set(
        name, PlistDictionary{{"Pid", PlistValue::integer(service.pid)},
                              {"Started", PlistValue::integer(static_cast<std::int64_t>(*started))},
                              {"Address", service.address}});
    return writePlistFileAtomically(servicesFile(), services);
}

std::optional<std::string> Desktop::startDisplay() const {
    if (display())
        return std::nullopt;
    if (!XvfbServer::isInstalled())
        return std::string(XvfbServer::kProgram) + " is not installed (Debian package xvfb)";
    auto started = XvfbServer::start();
    if (const std::string* problem = std::get_if<std::string>(&started))
        return *problem;
    const StartedXvfb& xvfb = std::get<StartedXvfb>(started);
    if (!recordService("Display", {xvfb.pid, xvfb.display})) {
        endProcess(xvfb.pid, kServiceGrace);
        return "cannot record the display in " + servicesFile();
    }
    return std::nullopt;
}

std::optional<DesktopService> Desktop::display() const {
    return service("Display");
}

std::optional<std::string> Desktop::serveFeed(const std::string& folder,
                                              const std::string& serverProgram,
                                              const std::vector<std::string>& options) const {
    if (feed())
        return std::nullopt;
    if (access(serverProgram.c_str(), X_OK) != 0)
        return serverProgram + " is not built";
    fs::path log = feedServerLog();
    std::error_code error;
    fs::remove(log, error);
    std::vector<std::string> arguments{folder};
    arguments.insert(arguments.end(), options.begin(), options.end());
    SpawnResult started = spawnProcess({.executable = serverProgram,
                                        .arguments = arguments,
                                        .logFile = log.string(),
                                        .detached = true});
    if (!started)
        return "cannot start " + serverProgram + ": " + started.error;
    // The server's first line of standard output is its address; anything it says on
    // standard error goes to the same log and is passed over.
    auto deadline = std::chrono::steady_clock::now() + kFeedReadyTime;
    while (std::chrono::steady_clock::now() < deadline && processStartTime(started.pid)) {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            // A line without its line end may still be being written.
            if (line.starts_with("http://127.0.0.1:") && !in.eof()) {
                if (!recordService("Feed", {started.pid, line}))
                    break;
                return std::nullopt;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    endProcess(started.pid, kServiceGrace);
    return "the feed server gave no address; its log is " + log.string();
}

std::optional<DesktopService> Desktop::feed() const {
    return service("Feed");
}

std::string Desktop::feedServerOutput() const {
    std::ifstream in(feedServerLog());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Desktop::releaseHeldFeedRequests() const {
    const std::optional<DesktopService> served = feed();
    return served && processStartTime(served->pid) && ::kill(served->pid, SIGUSR1) == 0;
}

void Desktop::stopServices() const {
    for (const char* name : {"Feed", "Display"}) {
        if (std::optional<DesktopService> running = service(name))
            endProcess(running->pid, kServiceGrace);
    }
    std::error_code error;
    fs::remove(servicesFile(), error);
}

std::vector<std::string> Desktop::urlsOpened() const {
    std::vector<std::string> urls;
    std::ifstream file(_folder + "/urls-opened");
    for (std::string line; std::getline(file, line);)
        urls.push_back(line);
    return urls;
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
        workspaceOf(*this).runningApplicationsWithBundleIdentifier("com.apple.finder");
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
