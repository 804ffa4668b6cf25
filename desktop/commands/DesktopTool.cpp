#include "commands/DesktopTool.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "Desktop.h"
#include "display/DisplayWindows.h"
#include "HostPlatform.h"
#include "PlatformException.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "launch/ApplicationRegistry.h"
#include "network/HostReachability.h"
#include "posix/Posix.h"
#include "posix/Spawn.h"
#include "scripting/SystemEventsRunner.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxInspection.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// "reachable,connection-required" and the like as the service's flags; "none" is 0, and
// nothing for a word it does not know.
std::optional<std::uint32_t> reachabilityFlags(const std::string& words) {
    static const std::map<std::string, std::uint32_t> kFlags = {
        {"none", 0},
        {"reachable", reachability_flag::kReachable},
        {"connection-required", reachability_flag::kConnectionRequired},
        {"transient-connection", reachability_flag::kTransientConnection},
    };
    std::uint32_t flags = 0;
    std::stringstream list(words);
    std::string word;
    while (std::getline(list, word, ',')) {
        auto flag = kFlags.find(word);
        if (flag == kFlags.end())
            return std::nullopt;
        flags |= flag->second;
    }
    return flags;
}

const char* const kUsage = R"(usage: quaymark-desktop [-d DESKTOP] COMMAND [ARGUMENTS]

The desktop folder comes from -d or from $QUAYMARK_DESKTOP.

  create DESKTOP [--system-version 10.14.6] [--terminals Terminal,iTerm,iTerm2,xterm]
                 [--iterm2-version 3.4.0] [--shell bash|zsh]
                          lay out a fresh desktop: system root, home, stand-in applications
  install [--home] [--info KEY=VALUE]... [APP]
                          copy a built Quaymark.app into /Applications (or ~/Applications),
                          with each KEY of the copy's Info.plist set to the text VALUE
                          (CFBundleVersion, SUFeedURL, SUPublicEDKey, ...)
  start APP               start Finder, Terminal, iTerm, iTerm2 or Quaymark (one that runs
                          comes to the front instead); the desktop's X display starts first
  settings                start Quaymark without arguments: its settings window
  stop APP|--all          end an application (or all of them, with the display and the
                          feed server) by pid; Finder stays stopped until started again,
                          while a Finder ended any other way (killall, a crash) is back
                          within a second, as on a Mac
  open PATH               open a Finder window in front, showing PATH
  close                   close the front Finder window
  finder                  Finder's windows, front to back, and the toolbar it loaded
  add-to-toolbar PATH     drag an item (such as QuaymarkHelper.app) into Finder's toolbar
  click [INDEX]           click a toolbar item (by default the first that leads to an app)
  show [APP]              each terminal's windows and tabs, with what their screens show
  keystrokes allow|refuse let System Events press keys, or refuse as a Mac without the
                          permission to control the computer does
  reachability HOST FLAG[,FLAG...]|real
                          what the network reachability service answers for HOST:
                          reachable, connection-required, transient-connection or none;
                          real asks the machine again
  env                     the environment that runs programs on this desktop, as shell lines
  display                 start the desktop's own X display (Xvfb) if it is not running,
                          and print its DISPLAY
  windows                 the top-level windows shown on the display: id, title, pid, size
  wait-window TITLE [--timeout SECONDS]
                          wait (10 seconds unless told) until a window titled TITLE shows
  keys TITLE KEY...       focus the window titled TITLE and press keys as xdotool names them
                          (Return, Tab, alt+t, ctrl+a)
  type TITLE TEXT         focus the window titled TITLE and type TEXT
  screenshot FILE [TITLE] save the display, or the window titled TITLE, as a PNG file
  serve-feed FOLDER       serve an update feed from FOLDER on 127.0.0.1 and print its URL
  run COMMAND...          run a command on this desktop and pass on its exit status
  destroy                 end every application of the desktop and remove its folder
  demo [--shell bash|zsh] [--keep] [--screenshot FILE]
                          the whole story in a temporary desktop: a folder with a hard
                          name, Finder showing it, a click, the terminal's screen, a
                          picture of the settings window (by default
                          $TMPDIR/quaymark-settings-window.png), and an update from 1.0
                          to 1.1 through a feed on 127.0.0.1
)";

struct Arguments {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
    std::vector<std::string> flags;
    // Every "--info KEY=VALUE", in order.
    std::vector<std::string> infos;

    bool hasFlag(const std::string& flag) const {
        return std::find(flags.begin(), flags.end(), flag) != flags.end();
    }
    std::string option(const std::string& name, const std::string& fallback) const {
        auto found = options.find(name);
        return found == options.end() ? fallback : found->second;
    }
};

// "--name value" for the options that take a value, "--name" for flags, words otherwise;
// everything after "run", "keys" or "type" is a word, so that what is typed can look like an
// option.
Arguments parse(const std::vector<std::string>& arguments) {
    static const std::vector<std::string> kValued = {
        "-d",      "--system-version", "--terminals", "--iterm2-version",
        "--shell", "--timeout",        "--screenshot"};
    Arguments parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!parsed.words.empty() &&
            (parsed.words.front() == "run" || parsed.words.front() == "keys" ||
             parsed.words.front() == "type")) {
            parsed.words.push_back(argument);
        } else if (argument == "--info" && i + 1 < arguments.size()) {
            parsed.infos.push_back(arguments[++i]);
        } else if (std::find(kValued.begin(), kValued.end(), argument) != kValued.end() &&
                   i + 1 < arguments.size()) {
            parsed.options[argument] = arguments[++i];
        } else if (argument.starts_with("--")) {
            parsed.flags.push_back(argument);
        } else {
            parsed.words.push_back(argument);
        }
    }
    return parsed;
}

std::string screenLines(const std::string& screen, const std::string& indent) {
    std::ostringstream out;
    std::istringstream lines(screen);
    std::string line;
    while (std::getline(lines, line))
        out << indent << "| " << line << "\n";
    return out.str();
}

void showTerminals(const Desktop& desktop, const std::string& only, std::ostream& out) {
    for (const std::string name : {"Terminal", "iTerm", "iTerm2"}) {
        if (!only.empty() && only != name)
            continue;
        std::optional<std::vector<TerminalWindowState>> windows =
            inspectTerminal(desktop.systemRoot(), *Desktop::bundleIdentifierForApplication(name));
        if (!windows) {
            if (!only.empty())
                out << name << ": not running\n";
            continue;
        }
        out << name << ": " << windows->size() << (windows->size() == 1 ? " window" : " windows")
            << "\n";
        for (std::size_t w = 0; w < windows->size(); ++w) {
            const TerminalWindowState& window = (*windows)[w];
            out << "  window " << w + 1 << (w == 0 ? " (front)" : "") << ": " << window.tabs.size()
                << (window.tabs.size() == 1 ? " tab" : " tabs") << "\n";
            for (std::size_t t = 0; t < window.tabs.size(); ++t) {
                const TerminalTabState& tab = window.tabs[t];
                out << "    tab " << t + 1 << (t == window.selectedTab ? " (selected)" : "")
                    << ", shell in " << tab.shellDirectory << "\n"
                    << screenLines(tab.screen, "      ");
            }
        }
    }
    if (only.empty() || only == "xterm") {
        for (const XtermWindow& xterm : desktop.xtermWindows()) {
            out << "xterm: pid " << xterm.pid << " in " << xterm.workingDirectory << "\n";
        }
    }
}

std::string describe(const PlistDictionary& answer) {
    if (const PlistValue* error = answer.find("Error"))
        return "failed: " + error->description();
    std::ostringstream out;
    for (const auto& [key, value] : answer)
        out << key << " " << value << "; ";
    return out.str();
}

// Starts the desktop's display and puts it into this process's environment, so that what is
// started next shows there; false (with the reason written) when there is none.
bool showOnDisplay(const Desktop& desktop, std::ostream& err) {
    if (auto problem = desktop.startDisplay()) {
        err << "no display: " << *problem << "\n";
        return false;
    }
    desktop.enter();
    return true;
}

std::optional<DisplayWindows> displayWindows(const Desktop& desktop, std::ostream& err) {
    if (!DisplayWindows::isXdotoolInstalled()) {
        err << DisplayWindows::kXdotool << " is not installed (Debian package xdotool)\n";
        return std::nullopt;
    }
    if (!showOnDisplay(desktop, err))
        return std::nullopt;
    return DisplayWindows(desktop.display()->address,
                          StandInPrograms::besideRunningExecutable("quaymark-screenshot"));
}

// The window commands: windows, wait-window, keys, type, screenshot; nothing when `command`
// is none of them.
std::optional<int> runWindowCommand(const Desktop& desktop, const std::string& command,
                                    const std::vector<std::string>& rest,
                                    const Arguments& arguments, std::ostream& out,
                                    std::ostream& err) {
    bool known =
        (command == "windows" && rest.empty()) || (command == "wait-window" && rest.size() == 1) ||
        (command == "keys" && rest.size() >= 2) || (command == "type" && rest.size() == 2) ||
        (command == "screenshot" && (rest.size() == 1 || rest.size() == 2));
    if (!known)
        return std::nullopt;
    std::optional<DisplayWindows> windows = displayWindows(desktop, err);
    if (!windows)
        return 1;
    if (command == "windows") {
        for (const DisplayWindow& window : windows->shownWindows())
            out << describeWindow(window) << "\n";
        return 0;
    }
    std::string title = command == "screenshot" ? (rest.size() == 2 ? rest[1] : "") : rest[0];
    std::optional<DisplayWindow> window;
    if (!title.empty()) {
        double seconds = command == "wait-window"
                             ? std::strtod(arguments.option("--timeout", "10").c_str(), nullptr)
                             : 0;
        window = windows->waitForWindow(
            title, std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        if (!window) {
            err << "no window titled \"" << title << "\" is shown\n";
            return 1;
        }
    }
    if (command == "wait-window") {
        out << describeWindow(*window) << "\n";
        return 0;
    }
    if (command == "screenshot") {
        std::string path = fs::absolute(rest[0]).string();
        if (auto problem = windows->saveScreenshot(path, window)) {
            err << *problem << "\n";
            return 1;
        }
        out << "saved " << path << "\n";
        return 0;
    }
    bool done = command == "keys" ? windows->pressKeys(*window, {rest.begin() + 1, rest.end()})
                                  : windows->typeText(*window, rest[1]);
    if (!done) {
        err << "xdotool could not " << (command == "keys" ? "press the keys" : "type") << "\n";
        return 1;
    }
    return 0;
}

// A Qt window shows within a second; the rest allows for a loaded machine.
constexpr auto kSettingsShowTime = std::chrono::seconds(20);

// Waits until Terminal has more than `windowsBefore` windows and the front one's shell is in
// `folder` with pwd's answer on its screen; that screen, or nothing after 15 seconds.
std::string waitForTerminalIn(const Desktop& desktop, const std::string& folder,
                              std::size_t windowsBefore) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
        if (windows && windows->size() > windowsBefore) {
            const TerminalWindowState& front = windows->front();
            const TerminalTabState& tab = front.tabs[front.selectedTab];
            if (tab.shellDirectory == folder && tab.screen.find(folder) != std::string::npos)
                return tab.screen;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

std::size_t terminalWindowCount(const Desktop& desktop) {
    auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
    return windows ? windows->size() : 0;
}

// The update story: Quaymark 1.0 installed with a feed on 127.0.0.1 that offers 1.1, packed by
// make-release and signed with a key made for the demo; the stored launch date three days
// back, a click, Return in the update window, and 1.1 in place. Each step is one line; false,
// with the reason written, when one failed.
bool updateStory(const Desktop& desktop, const DisplayWindows& display, const std::string& folder,
                 std::ostream& out, std::ostream& err) {
    desktop.stopApplication("Quaymark");
    const fs::path feed = fs::path(desktop.folder()) / "feed";
    const fs::path keys = fs::path(desktop.folder()) / "release-key";
    fs::create_directories(feed);
    if (auto problem = desktop.serveFeed(
            feed.string(), StandInPrograms::besideRunningExecutable("feed/quaymark-feed-server"))) {
        err << *problem << "\n";
        return false;
    }
    const std::string address = desktop.feed()->address;
    out << "== Update story. A feed is served from " << feed.string() << " at " << address << "\n";
    out.flush();
    std::string made;
    const std::optional<std::string> publicKey = makeRelease(
        {"--version", "1.1", "--app", QUAYMARK_BUILT_APP, "--new-key", keys.string(), "--feed",
         feed.string(), "--url", address, "--feed-url", address + "appcast.xml"},
        made);
    if (!publicKey) {
        err << "make-release failed: " << made;
        return false;
    }
    out << "== make-release packed Quaymark 1.1, signed with a new key in " << keys.string()
        << ", into the feed\n";
    if (auto problem = desktop.installQuaymarkForUpdates(QUAYMARK_BUILT_APP, "1.0", *publicKey)) {
        err << *problem << "\n";
        return false;
    }
    out << "== Installed with that feed and key: Quaymark --version says "
        << desktop.installedQuaymarkVersion() << "\n";

    HostPlatform host("quaymark-desktop", kPreferencesDomain, desktop.systemRoot(), desktop.home());
    Preferences& preferences = host.platform().preferences;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    preferences.setAppValue(
        preference_key::kLastLaunchDate,
        PlistDate::fromUnixSeconds(std::chrono::duration<double>(now).count() - 3 * 86400 - 60),
        kPreferencesDomain);
    if (!preferences.appSynchronize(kPreferencesDomain)) {
        err << "cannot store the last launch date\n";
        return false;
    }
    out << "== \"Last Launch Date\" set three days back, so the next click checks for updates\n";
    std::size_t windowsBefore = terminalWindowCount(desktop);
    PlistDictionary click = desktop.clickToolbarItem(std::nullopt);
    if (click.contains("Error") || waitForTerminalIn(desktop, folder, windowsBefore).empty()) {
        err << "the click opened no terminal at the folder: " << describe(click) << "\n";
        return false;
    }
    out << "== Click: Terminal opens the folder, and the button starts Quaymark for updates\n";
    out.flush();
    std::optional<DisplayWindow> offer =
        display.waitForWindow("Software Update", kSettingsShowTime);
    if (!offer) {
        err << "no update window came\n";
        return false;
    }
    out << "== The update window shows: " << describeWindow(*offer) << "\n";
    if (!display.pressKeys(*offer, {"Return"})) {
        err << "xdotool could not press Return\n";
        return false;
    }
    out << "== Return pressed on the display: Install Update\n";
    out.flush();
    std::optional<DisplayWindow> relaunched =
        display.waitForSuccessor("Quaymark", offer->pid, kSettingsShowTime);
    if (!relaunched) {
        err << "the new version did not start in place of the old one\n";
        return false;
    }
    out << "== 1.0 has ended and the new version shows its window: " << describeWindow(*relaunched)
        << "\n";
    const std::string version = desktop.installedQuaymarkVersion();
    out << "== $ /Applications/Quaymark.app/Contents/MacOS/Quaymark --version: " << version << "\n";
    windowsBefore = terminalWindowCount(desktop);
    click = desktop.clickToolbarItem(std::nullopt);
    const bool opened =
        !click.contains("Error") && !waitForTerminalIn(desktop, folder, windowsBefore).empty();
    out << "== A click afterwards " << (opened ? "opens" : "did not open")
        << " a terminal at the folder\n";
    desktop.stopApplication("Quaymark");
    return version == "Quaymark 1.1" && opened;
}

// A folder name that gets everything wrong a shell can get wrong.
const char* const kHardName = "It's \"quoted\" $(echo pwned) & `date`; {a,b} *?[x] ~ \\ 漢字 🚀";

int demo(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    std::string pattern = (fs::temp_directory_path() / "quaymark-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        err << "cannot make a temporary folder\n";
        return 1;
    }
    Desktop desktop(pattern);
    DesktopOptions options;
    options.shell = arguments.option("--shell", "bash");
    out << "== A fresh desktop in " << desktop.folder() << " (system " << options.systemVersion
        << ", shell " << options.shell << ")\n";
    if (auto problem = Desktop::create(desktop.folder(), options,
                                       StandInPrograms::besideRunningExecutable())) {
        err << problem->c_str() << "\n";
        return 1;
    }
    desktop.enter();
    int status = 1;
    [&] {
        // Started first, so that Finder and all it launches show their windows there.
        std::optional<DisplayWindows> display = displayWindows(desktop, err);
        if (!display)
            return;
        if (auto problem =
                desktop.installQuaymark(QUAYMARK_BUILT_APP, InstallLocation::Applications)) {
            err << *problem << "\n";
            return;
        }
        out << "== Quaymark.app installed in /Applications\n";
        if (desktop.startApplication("Finder") <= 0) {
            err << "Finder did not start\n";
            return;
        }
        out << "== Finder runs. Quaymark puts its button into Finder's toolbar:\n"
            << "   $ /Applications/Quaymark.app/Contents/MacOS/Quaymark install\n";
        out.flush();
        SpawnRequest install;
        install.executable =
            desktop.systemRoot().map("/Applications/Quaymark.app/Contents/MacOS/Quaymark");
        install.arguments = {"install"};
        install.environment = currentEnvironment();
        SpawnResult installer = spawnProcess(install);
        std::optional<int> installStatus = installer ? waitForChild(installer.pid) : std::nullopt;
        if (!installStatus || exitStatusOf(*installStatus) != 0) {
            err << "Quaymark install failed\n";
            return;
        }

        fs::path folder = fs::path(desktop.home()) / "Projects" / kHardName;
        fs::create_directories(folder);
        desktop.openFinderWindow(folder.string());
        out << "== A folder with a hard name:\n   " << folder.string() << "\n"
            << "== Finder's front window shows " << *desktop.finderWindows().front().targetUrl
            << "\n";

        PlistDictionary click = desktop.clickToolbarItem(std::nullopt);
        out << "== Click on the toolbar button: " << describe(click) << "\n";
        HostPlatform host("quaymark-desktop", kPreferencesDomain, desktop.systemRoot(),
                          desktop.home());
        TerminalIdentifiers terminals(host.platform());
        out << "== The button typed into Terminal:\n   "
            << terminals.commandWithPath(terminals.fixedPath(folder.string())) << "\n";
        if (click.contains("Error"))
            return;

        std::string shown = waitForTerminalIn(desktop, folder.string(), 0);
        out << "== Terminal now shows:\n";
        showTerminals(desktop, "Terminal", out);
        if (shown.empty()) {
            out << "== The shell did not arrive in the folder.\n";
            return;
        }
        out << "== pwd printed the folder exactly, and the shell is there.\n";

        out << "== Quaymark opened as the user opens it shows its settings window:\n";
        out.flush();
        int settings = desktop.startApplication("Quaymark");
        std::optional<DisplayWindow> window =
            settings > 0 ? display->waitForWindow("Quaymark", kSettingsShowTime, settings)
                         : std::nullopt;
        if (!window) {
            err << "Quaymark showed no settings window on " << desktop.display()->address << "\n";
            return;
        }
        out << "   " << describeWindow(*window) << "\n";
        std::string picture = arguments.option(
            "--screenshot", (fs::temp_directory_path() / "quaymark-settings-window.png").string());
        if (auto problem = display->saveScreenshot(picture, window)) {
            err << *problem << "\n";
            return;
        }
        out << "== A picture of it is in " << picture << "\n";
        if (updateStory(desktop, *display, folder.string(), out, err))
            status = 0;
    }();
    desktop.stopAll();
    desktop.stopServices();
    if (arguments.hasFlag("--keep")) {
        out << "== The desktop stays in " << desktop.folder() << "\n";
    } else {
        std::error_code error;
        fs::remove_all(desktop.folder(), error);
    }
    return status;
}

DesktopOptions optionsFrom(const Arguments& arguments) {
    DesktopOptions options;
    options.systemVersion = arguments.option("--system-version", options.systemVersion);
    options.iTerm2Version = arguments.option("--iterm2-version", options.iTerm2Version);
    options.shell = arguments.option("--shell", options.shell);
    if (arguments.options.contains("--terminals")) {
        std::string list = "," + arguments.option("--terminals", "") + ",";
        options.terminal = list.find(",Terminal,") != std::string::npos;
        options.iTerm = list.find(",iTerm,") != std::string::npos;
        options.iTerm2 = list.find(",iTerm2,") != std::string::npos;
        options.xterm = list.find(",xterm,") != std::string::npos;
    }
    return options;
}

}  // namespace

int runDesktopTool(const std::vector<std::string>& argumentList, std::ostream& out,
                   std::ostream& err) {
    Arguments arguments = parse(argumentList);
    if (arguments.words.empty() || arguments.hasFlag("--help")) {
        (arguments.words.empty() && !arguments.hasFlag("--help") ? err : out) << kUsage;
        return arguments.hasFlag("--help") ? 0 : 2;
    }
    // An option the tool does not know, or one left without its value, is a mistake to tell
    // rather than to ignore.
    static const std::vector<std::string> kFlags = {"--help", "--home", "--all", "--keep"};
    for (const std::string& flag : arguments.flags) {
        if (std::find(kFlags.begin(), kFlags.end(), flag) == kFlags.end()) {
            err << "unknown option, or one without its value: " << flag << "\n" << kUsage;
            return 2;
        }
    }
    const std::string command = arguments.words.front();
    const std::vector<std::string> rest(arguments.words.begin() + 1, arguments.words.end());

    if (command == "demo")
        return demo(arguments, out, err);
    if (command == "create") {
        if (rest.size() != 1) {
            err << "usage: quaymark-desktop create DESKTOP [options]\n";
            return 2;
        }
        if (auto problem = Desktop::create(rest[0], optionsFrom(arguments),
                                           StandInPrograms::besideRunningExecutable())) {
            err << *problem << "\n";
            return 1;
        }
        out << "created " << fs::canonical(rest[0]).string() << "\n";
        return 0;
    }

    const char* fromEnvironment = std::getenv("QUAYMARK_DESKTOP");
    std::string folder = arguments.option("-d", fromEnvironment ? fromEnvironment : "");
    if (folder.empty()) {
        err << "which desktop? Give -d DESKTOP or set QUAYMARK_DESKTOP\n";
        return 2;
    }
    std::error_code error;
    Desktop desktop(fs::weakly_canonical(folder, error).string());
    if (!desktop.exists()) {
        err << folder << " is no desktop (make one with: quaymark-desktop create " << folder
            << ")\n";
        return 1;
    }
    desktop.enter();

    if (command == "install") {
        std::string app = rest.empty() ? QUAYMARK_BUILT_APP : rest[0];
        InstallLocation location = arguments.hasFlag("--home") ? InstallLocation::HomeApplications
                                                               : InstallLocation::Applications;
        PlistDictionary infoChanges;
        for (const std::string& info : arguments.infos) {
            const std::size_t equals = info.find('=');
            if (equals == 0 || equals == std::string::npos) {
                err << "--info wants KEY=VALUE, not \"" << info << "\"\n";
                return 2;
            }
            infoChanges.set(info.substr(0, equals), info.substr(equals + 1));
        }
        if (auto problem = desktop.installQuaymark(app, location, infoChanges)) {
            err << *problem << "\n";
            return 1;
        }
        out << "installed " << desktop.installedQuaymark().value_or("?") << "\n";
        return 0;
    }
    if (command == "settings" || (command == "start" && rest.size() == 1)) {
        std::string application = command == "settings" ? "Quaymark" : rest[0];
        // Without a display an application still starts; only its windows have nowhere to go.
        showOnDisplay(desktop, err);
        std::vector<RunningApplication> before = desktop.runningApplications();
        int pid = desktop.startApplication(application);
        if (pid <= 0) {
            err << "cannot start " << application << "\n";
            return 1;
        }
        bool ranBefore =
            std::any_of(before.begin(), before.end(),
                        [&](const RunningApplication& each) { return each.pid == pid; });
        out << application
            << (ranBefore ? " runs already and is now in front, pid " : " started, pid ") << pid
            << "\n";
        return 0;
    }
    if (command == "stop" && (rest.size() == 1 || arguments.hasFlag("--all"))) {
        if (arguments.hasFlag("--all")) {
            desktop.stopAll();
            desktop.stopServices();
            return 0;
        }
        if (!desktop.stopApplication(rest[0])) {
            err << rest[0] << " is not running\n";
            return 1;
        }
        return 0;
    }
    if (command == "open" && rest.size() == 1) {
        std::string path = fs::absolute(rest[0]).lexically_normal().string();
        if (!desktop.openFinderWindow(path)) {
            err << "cannot open a Finder window\n";
            return 1;
        }
        return 0;
    }
    if (command == "close") {
        if (!desktop.closeFinderWindow()) {
            err << "Finder has no window\n";
            return 1;
        }
        return 0;
    }
    if (command == "finder") {
        std::vector<FinderWindow> windows = desktop.finderWindows();
        out << "Finder windows, front to back: " << windows.size() << "\n";
        for (const FinderWindow& window : windows)
            out << "  " << window.targetUrl.value_or("(no target)") << "\n";
        if (auto toolbar = desktop.loadedToolbar())
            out << "Toolbar loaded at start: " << PlistValue(*toolbar) << "\n";
        return 0;
    }
    if ((command == "click" && rest.size() <= 1) ||
        (command == "add-to-toolbar" && rest.size() == 1)) {
        PlistDictionary answer =
            command == "click"
                ? desktop.clickToolbarItem(rest.empty() ? std::nullopt
                                                        : std::optional<int>(std::stoi(rest[0])))
                : desktop.addToolbarItem(rest[0]);
        (answer.contains("Error") ? err : out) << describe(answer) << "\n";
        return answer.contains("Error") ? 1 : 0;
    }
    if (command == "show" && rest.size() <= 1) {
        showTerminals(desktop, rest.empty() ? "" : rest[0], out);
        return 0;
    }
    if (command == "keystrokes" && rest.size() == 1 &&
        (rest[0] == "allow" || rest[0] == "refuse")) {
        if (!SystemEventsRunner::setRefusesKeystrokes(desktop.systemRoot(), rest[0] == "refuse")) {
            err << "cannot change whether System Events presses keys\n";
            return 1;
        }
        return 0;
    }
    if (command == "reachability" && rest.size() == 2) {
        std::optional<std::uint32_t> flags = reachabilityFlags(rest[1]);
        if (!flags && rest[1] != "real") {
            err << "unknown reachability flags: " << rest[1] << "\n";
            return 2;
        }
        if (!HostReachability::setFlagsForHostName(desktop.systemRoot(), rest[0], flags)) {
            err << "cannot set the reachability of " << rest[0] << "\n";
            return 1;
        }
        return 0;
    }
    if (command == "env") {
        for (const auto& [name, value] : desktop.environment())
            out << "export " << name << "='" << value << "'\n";
        return 0;
    }
    if (command == "run" && !rest.empty()) {
        SpawnRequest request;
        request.executable = rest[0].find('/') == std::string::npos ? "/usr/bin/env" : rest[0];
        request.arguments.assign(rest.begin() + (request.executable == "/usr/bin/env" ? 0 : 1),
                                 rest.end());
        request.environment = currentEnvironment();
        SpawnResult started = spawnProcess(request);
        if (!started) {
            err << started.error << "\n";
            return 127;
        }
        std::optional<int> status = waitForChild(started.pid);
        return status ? exitStatusOf(*status) : 127;
    }
    if (command == "display" && rest.empty()) {
        if (!showOnDisplay(desktop, err))
            return 1;
        out << "DISPLAY=" << desktop.display()->address << "\n";
        return 0;
    }
    if (std::optional<int> status = runWindowCommand(desktop, command, rest, arguments, out, err))
        return *status;
    if (command == "serve-feed" && rest.size() == 1) {
        std::string server = StandInPrograms::besideRunningExecutable("feed/quaymark-feed-server");
        if (auto problem = desktop.serveFeed(fs::absolute(rest[0]).string(), server)) {
            err << *problem << "\n";
            return 1;
        }
        out << desktop.feed()->address << "\n";
        return 0;
    }
    if (command == "destroy") {
        desktop.stopAll();
        desktop.stopServices();
        fs::remove_all(desktop.folder(), error);
        return error ? 1 : 0;
    }
    err << kUsage;
    return 2;
}

}  // namespace quaymark
