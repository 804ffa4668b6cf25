#include "EndToEndTest.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "HostSystem.h"
#include "QuaymarkPreferences.h"
#include "launch/ApplicationRegistry.h"
#include "preferences/FilePreferences.h"
#include "scripting/TerminalStandIn.h"

namespace quaymark {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

// The button program starts a terminal, which may take a few seconds on a loaded machine.
constexpr seconds kHelperTimeLimit{20};
// After the button program has ended, the shell still has to run what was typed.
constexpr seconds kShellTimeLimit{10};

}  // namespace

bool screenBeginsWithPrinted(std::string_view screen, std::string_view text) {
    if (text.empty())
        return screen.empty() || screen.front() == '\n';
    char c = text.front();
    if (c == ' ' || c == '\t') {
        std::size_t rest = text.find_first_not_of(" \t");
        bool endsLine = rest == std::string_view::npos || text[rest] == '\n';
        if (endsLine && (screen.empty() || screen.front() == '\n') &&
            screenBeginsWithPrinted(screen, text.substr(std::min(rest, text.size())))) {
            return true;
        }
        if (c == ' ') {
            return !screen.empty() && screen.front() == ' ' &&
                   screenBeginsWithPrinted(screen.substr(1), text.substr(1));
        }
        for (std::size_t blanks = 1; blanks <= 8 && blanks <= screen.size(); ++blanks) {
            if (screen[blanks - 1] != ' ')
                break;
            if (screenBeginsWithPrinted(screen.substr(blanks), text.substr(1)))
                return true;
        }
        return false;
    }
    return !screen.empty() && screen.front() == c &&
           screenBeginsWithPrinted(screen.substr(1), text.substr(1));
}

PlistDate now() {
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return PlistDate::fromUnixSeconds(static_cast<double>(elapsed.count()));
}

std::string printable(std::string_view text) {
    std::string shown;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        char escaped[8] = {c, '\0'};
        if (c == '\\' || c == '\n' || c == '\t') {
            std::snprintf(escaped, sizeof escaped, "\\%c", c == '\n' ? 'n' : c == '\t' ? 't' : c);
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
        }
        shown += escaped;
    }
    return shown;
}

void EndToEndTest::TearDown() {
    if (!desktop)
        return;
    for (const XtermWindow& xterm : desktop->xtermWindows())
        endProcess(xterm.pid, milliseconds(2000));
    desktop->stopAll();
    desktop->stopServices();
}

void EndToEndTest::layOut(const DesktopOptions& options, DesktopNeeds needs) {
    StandInPrograms programs{QUAYMARK_FINDER_PROGRAM, QUAYMARK_KILLALL_PROGRAM,
                             QUAYMARK_STANDIN_PROGRAM};
    fs::path folder = directory.path() / "desktop";
    ASSERT_TRUE(succeeded(Desktop::create(folder.string(), options, programs)));
    desktop.emplace(folder.string());
    if (needs.display) {
        ASSERT_TRUE(succeeded(desktop->startDisplay()));
    }
    // What the desktop starts, and what they start in turn, run on this desktop.
    desktop->enter();
    ASSERT_TRUE(
        succeeded(desktop->installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications)));
    if (!needs.realMainProgram)
        replaceMainProgram();

    ASSERT_GT(desktop->startApplication("Finder"), 0);
    PlistDictionary added = desktop->addToolbarItem(kHelperBundle);
    ASSERT_TRUE(added.contains("Index")) << added;
}

void EndToEndTest::replaceMainProgram() {
    launchRecord = directory.path() / "main-program-launches.txt";
    fs::path mainProgram =
        desktop->systemRoot().map("/Applications/Quaymark.app") + "/Contents/MacOS/Quaymark";
    fs::remove(mainProgram);
    testing::writeFile(mainProgram,
                       "#!/bin/sh\nprintf 'checkUpdates=%s\\n' \"${checkUpdates-unset}\" >> '" +
                           launchRecord.string() + "'\n");
    fs::permissions(mainProgram, fs::perms::owner_all);
}

void EndToEndTest::storePreferences(const PlistDictionary& values) {
    StderrLog log("EndToEndTest");
    FilePreferences preferences = FilePreferences::forHome(home(), log);
    for (const auto& [key, value] : values)
        preferences.setAppValue(key, value, kPreferencesDomain);
    ASSERT_TRUE(preferences.appSynchronize(kPreferencesDomain));
}

std::optional<PlistValue> EndToEndTest::storedPreference(const std::string& key) const {
    StderrLog log("EndToEndTest");
    return FilePreferences::forHome(home(), log).copyAppValue(key, kPreferencesDomain);
}

void EndToEndTest::chooseTerminal(const std::string& identifier, bool useWindow) {
    storePreferences({{preference_key::kTerminalIdentifier, identifier},
                      {preference_key::kUseWindow, PlistValue::boolean(useWindow)},
                      {preference_key::kLastLaunchDate, now()}});
}

std::set<int> EndToEndTest::clickQuickly(int clicks, milliseconds apart) {
    std::set<int> runs;
    for (int i = 0; i < clicks; ++i) {
        if (i > 0)
            std::this_thread::sleep_for(apart);
        PlistDictionary answer = desktop->clickToolbarItem(std::nullopt);
        const PlistValue* pid = answer.find("Pid");
        if (!pid || !pid->asInteger()) {
            ADD_FAILURE() << "Finder did not start the button program: " << answer;
            return {};
        }
        runs.insert(static_cast<int>(*pid->asInteger()));
    }
    for (int helper : runs) {
        if (!testing::waitUntil([&] { return !processStartTime(helper); }, kHelperTimeLimit)) {
            ADD_FAILURE() << "QuaymarkHelper (pid " << helper << ") did not end";
            return {};
        }
    }
    return runs;
}

std::string EndToEndTest::makeFolder(const fs::path& relative) const {
    fs::path folder = fs::path(home()) / relative;
    fs::create_directories(folder);
    return folder.string();
}

void EndToEndTest::startTerminal(const std::string& name) {
    ASSERT_GT(desktop->startApplication(name), 0) << name;
    std::string identifier = *Desktop::bundleIdentifierForApplication(name);
    ASSERT_TRUE(testing::waitUntil([&] {
        std::vector<TerminalWindowState> windows = windowsOf(identifier);
        return windows.size() == 1 && windows[0].tabs.size() == 1 &&
               windows[0].tabs[0].shellDirectory == home();
    })) << describe(identifier);
}

void EndToEndTest::closeTerminalWindows(const std::string& bundleIdentifier) {
    TmuxApplication application(bundleIdentifier,
                                tmuxSocketPath(desktop->systemRoot(), bundleIdentifier));
    for (const std::string& window : application.windowsFrontToBack())
        application.run({{"kill-session", "-t", window}});
    ASSERT_TRUE(windowsOf(bundleIdentifier).empty()) << describe(bundleIdentifier);
}

std::vector<TerminalWindowState> EndToEndTest::windowsOf(
    const std::string& bundleIdentifier) const {
    auto windows = inspectTerminal(desktop->systemRoot(), bundleIdentifier);
    return windows ? *windows : std::vector<TerminalWindowState>{};
}

std::vector<std::size_t> EndToEndTest::tabCounts(const std::string& bundleIdentifier) const {
    std::vector<std::size_t> counts;
    for (const TerminalWindowState& window : windowsOf(bundleIdentifier))
        counts.push_back(window.tabs.size());
    return counts;
}

::testing::AssertionResult EndToEndTest::waitUntilShellIsIn(const std::string& bundleIdentifier,
                                                            std::size_t window,
                                                            const std::string& folder) {
    bool arrived = testing::waitUntil(
        [&] {
            std::vector<TerminalWindowState> windows = windowsOf(bundleIdentifier);
            if (window >= windows.size())
                return false;
            const TerminalWindowState& shown = windows[window];
            const TerminalTabState& tab = shown.tabs.at(shown.selectedTab);
            return tab.shellDirectory == folder && screenBeginsWithPrinted(tab.screen, folder);
        },
        kShellTimeLimit);
    if (arrived)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the selected tab of window " << window
                                         << " never showed pwd in " << printable(folder) << "\n"
                                         << describe(bundleIdentifier);
}

std::string EndToEndTest::describe(const std::string& bundleIdentifier) const {
    auto windows = inspectTerminal(desktop->systemRoot(), bundleIdentifier);
    if (!windows)
        return bundleIdentifier + " is not running\n";
    std::ostringstream out;
    out << bundleIdentifier << ": " << windows->size() << " window(s), front first\n";
    // The windows in front are the ones a click touches; the rest would only bury them.
    for (std::size_t w = 0; w < std::min<std::size_t>(windows->size(), 4); ++w) {
        const TerminalWindowState& window = (*windows)[w];
        for (std::size_t t = 0; t < window.tabs.size(); ++t) {
            out << "  window " << w << " tab " << t
                << (t == window.selectedTab ? " (selected)" : "") << ": shell in "
                << printable(window.tabs[t].shellDirectory)
                << "\n    screen: " << printable(window.tabs[t].screen) << "\n";
        }
    }
    return out.str();
}

int EndToEndTest::finderPid() const {
    std::optional<PlistDictionary> loaded = desktop->loadedToolbar();
    const PlistValue* pid = loaded ? loaded->find("Pid") : nullptr;
    return pid && pid->asInteger() ? static_cast<int>(*pid->asInteger()) : -1;
}

std::string EndToEndTest::mainProgramLaunches() const {
    return testing::readFile(launchRecord);  // empty while there is no record
}

}  // namespace quaymark
