// The demo: the whole story on a temporary desktop, told as a script of steps.
#include <unistd.h>

#include <filesystem>
#include <ostream>

#include "HostPlatform.h"
#include "QuaymarkPreferences.h"
#include "TerminalIdentifiers.h"
#include "commands/DesktopCommand.h"
#include "commands/ScriptOfSteps.h"
#include "commands/UpdateStory.h"
#include "posix/Spawn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// A folder name that gets everything wrong a shell can get wrong.
const char* const kHardName = "It's \"quoted\" $(echo pwned) & `date`; {a,b} *?[x] ~ \\ 漢字 🚀";

// A folder with a hard name open in Finder, a click, the terminal's screen, and a picture
// of the settings window.
class ClickStory {
public:
    ClickStory(const Desktop& desktop, std::string picture)
        : _desktop(desktop),
          _picture(std::move(picture)),
          _folder((fs::path(desktop.home()) / "Projects" / kHardName).string()) {}

    const std::optional<DisplayWindows>& display() const { return _display; }
    const std::string& folder() const { return _folder; }

    std::vector<Step> steps();

private:
    // The display, Quaymark installed, Finder running with the button in its toolbar, and
    // the folder open in Finder.
    std::vector<Step> installSteps();
    // The click, the terminal's screen, and the settings window with its picture.
    std::vector<Step> clickSteps();
    Result<void> startDisplay();
    Result<void> putButtonIntoToolbar();
    Result<void> openHardFolder();
    Result<void> click();
    Result<void> showSettings();

    const Desktop& _desktop;
    const std::string _picture;
    const std::string _folder;
    std::optional<DisplayWindows> _display;
    std::string _frontWindow;
    PlistDictionary _click;
    std::string _typed;
    std::string _shown;
    std::optional<DisplayWindow> _settings;
};

std::vector<Step> ClickStory::steps() {
    std::vector<Step> steps = installSteps();
    for (Step& step : clickSteps())
        steps.push_back(std::move(step));
    return steps;
}

std::vector<Step> ClickStory::installSteps() {
    return {
        // Started first, so that Finder and all it launches show their windows there.
        {.name = "the display", .run = [this] { return startDisplay(); }},
        {.name = "install Quaymark",
         .run =
             [this] {
                 return _desktop.installQuaymark(QUAYMARK_BUILT_APP, InstallLocation::Applications);
             },
         .tell = [](std::ostream& out) { out << "== Quaymark.app installed in /Applications\n"; }},
        {.name = "start Finder",
         .run =
             [this] {
                 return _desktop.startApplication("Finder") > 0
                            ? Result<void>::success()
                            : Result<void>::failure("Finder did not start");
             },
         .tell =
             [](std::ostream& out) {
                 out << "== Finder runs. Quaymark puts its button into Finder's toolbar:\n"
                     << "   $ /Applications/Quaymark.app/Contents/MacOS/Quaymark install\n";
             }},
        {.name = "the button into the toolbar", .run = [this] { return putButtonIntoToolbar(); }},
        {.name = "a folder with a hard name in Finder",
         .run = [this] { return openHardFolder(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== A folder with a hard name:\n   " << _folder << "\n"
                     << "== Finder's front window shows " << _frontWindow << "\n";
             }},
    };
}

std::vector<Step> ClickStory::clickSteps() {
    return {
        {.name = "click",
         .run = [this] { return click(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== Click on the toolbar button: " << describe(_click) << "\n"
                     << "== The button typed into Terminal:\n   " << _typed << "\n";
             }},
        {.name = "the terminal's screen",
         .run =
             [this] {
                 // Finder's answer was told with the click.
                 if (_click.contains("Error"))
                     return Result<void>::failure("");
                 _shown = waitForTerminalIn(_desktop, _folder, 0);
                 return Result<void>::success();
             },
         .tell =
             [this](std::ostream& out) {
                 out << "== Terminal now shows:\n";
                 showTerminals(_desktop, "Terminal", out);
                 out << (_shown.empty()
                             ? "== The shell did not arrive in the folder.\n"
                             : "== pwd printed the folder exactly, and the shell is there.\n");
             }},
        {.name = "the shell in the folder",
         .run =
             [this] {
                 // Told with the terminal's screen.
                 return _shown.empty() ? Result<void>::failure("") : Result<void>::success();
             }},
        {.name = "the settings window",
         .announce =
             [](std::ostream& out) {
                 out << "== Quaymark opened as the user opens it shows its settings window:\n";
             },
         .run = [this] { return showSettings(); },
         .tell = [this](std::ostream& out) { out << "   " << describeWindow(*_settings) << "\n"; }},
        {.name = "a picture of it",
         .run = [this] { return _display->saveScreenshot(_picture, _settings); },
         .tell =
             [this](std::ostream& out) { out << "== A picture of it is in " << _picture << "\n"; }},
    };
}

Result<void> ClickStory::startDisplay() {
    Result<DisplayWindows> windows = displayWindows(_desktop);
    if (!windows)
        return Result<void>::failure(windows.error());
    _display = std::move(windows).value();
    return Result<void>::success();
}

Result<void> ClickStory::putButtonIntoToolbar() {
    // What the installer prints goes straight to the demo's standard output.
    SpawnRequest install;
    install.executable =
        _desktop.systemRoot().map("/Applications/Quaymark.app/Contents/MacOS/Quaymark");
    install.arguments = {"install"};
    install.environment = currentEnvironment();
    Result<StartedProcess> installer = spawnProcess(install);
    std::optional<int> status = installer ? waitForChild(installer->pid) : std::nullopt;
    if (!status || exitStatusOf(*status) != 0)
        return Result<void>::failure("Quaymark install failed");
    return Result<void>::success();
}

Result<void> ClickStory::openHardFolder() {
    fs::create_directories(_folder);
    _desktop.openFinderWindow(_folder);
    std::vector<FinderWindow> windows = _desktop.finderWindows();
    if (windows.empty() || !windows.front().targetUrl)
        return Result<void>::failure("Finder shows no window");
    _frontWindow = *windows.front().targetUrl;
    return Result<void>::success();
}

Result<void> ClickStory::click() {
    _click = _desktop.clickToolbarItem(std::nullopt);
    HostPlatform host("quaymark-desktop", kPreferencesDomain, _desktop.systemRoot(),
                      _desktop.home());
    TerminalIdentifiers terminals(host.platform());
    _typed = terminals.commandWithPath(terminals.fixedPath(_folder));
    return Result<void>::success();
}

Result<void> ClickStory::showSettings() {
    int settings = _desktop.startApplication("Quaymark");
    if (settings > 0)
        _settings = _display->waitForWindow("Quaymark", kSettingsShowTime, settings);
    if (!_settings) {
        return Result<void>::failure("Quaymark showed no settings window on " +
                                     _desktop.display()->address);
    }
    return Result<void>::success();
}

int demo(const Invocation& call) {
    std::string pattern = (fs::temp_directory_path() / "quaymark-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        call.err << "cannot make a temporary folder\n";
        return 1;
    }
    Desktop desktop(pattern);
    DesktopOptions options;
    options.shell = call.arguments.option("--shell", "bash");
    call.out << "== A fresh desktop in " << desktop.folder() << " (system " << options.systemVersion
             << ", shell " << options.shell << ")\n";
    Result<void> created =
        Desktop::create(desktop.folder(), options, StandInPrograms::besideRunningExecutable());
    if (!created) {
        call.err << created.error() << "\n";
        return 1;
    }
    desktop.enter();
    ClickStory clicks(
        desktop,
        call.arguments.option(
            "--screenshot", (fs::temp_directory_path() / "quaymark-settings-window.png").string()));
    UpdateStory update(desktop, clicks.display(), clicks.folder());
    std::vector<Step> script = clicks.steps();
    for (Step& step : update.steps())
        script.push_back(std::move(step));
    const int status = runSteps(script, call.out, call.err) ? 0 : 1;

    desktop.stopAll();
    desktop.stopServices();
    if (call.arguments.hasFlag("--keep")) {
        call.out << "== The desktop stays in " << desktop.folder() << "\n";
    } else {
        std::error_code error;
        fs::remove_all(desktop.folder(), error);
    }
    return status;
}

}  // namespace

const DesktopCommand kDemoCommand{
    .name = "demo",
    .arguments = "[--shell bash|zsh] [--keep] [--screenshot FILE]",
    .usage =
        "the whole story in a temporary desktop: a folder with a hard\n"
        "name, Finder showing it, a click, the terminal's screen, a\n"
        "picture of the settings window (by default\n"
        "$TMPDIR/quaymark-settings-window.png), and an update from 1.0\n"
        "to 1.1 through a feed on 127.0.0.1",
    .handler = demo,
    .onDesktop = false};

}  // namespace quaymark
