// The built Quaymark program run as a user runs it, `Quaymark install` and friends, on a
// fresh stand-in desktop: Finder's preference file, Finder's restart, and a click on the
// button that opens a terminal at Finder's folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "Desktop.h"
#include "FinderToolBarController.h"
#include "HostSystem.h"
#include "HostTestSupport.h"
#include "launch/ApplicationRegistry.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/FilePreferences.h"
#include "scripting/TmuxInspection.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace finder_toolbar;
using std::chrono::steady_clock;

struct QuaymarkRun {
    int exitStatus = -1;  // -1: it was killed at the moment given, or did not end in time
    std::string output;
    double seconds = 0;
    // When the Finder that ran at the start ended, in seconds after the start; -1: it did not
    // end while Quaymark ran.
    double finderEnded = -1;
};

class InstallerDesktopTest : public ::testing::Test {
protected:
    void createDesktop(const std::string& systemVersion) {
        DesktopOptions options;
        options.systemVersion = systemVersion;
        options.iTerm = options.iTerm2 = options.xterm = false;
        Result<void> laidOut =
            Desktop::create(desktop.folder(), options,
                            StandInPrograms{QUAYMARK_FINDER_PROGRAM, QUAYMARK_KILLALL_PROGRAM,
                                            QUAYMARK_STANDIN_PROGRAM});
        ASSERT_TRUE(laidOut) << laidOut.error();
        Result<void> installed =
            desktop.installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications);
        ASSERT_TRUE(installed) << installed.error();
        quaymark = desktop.root() + "/Applications/Quaymark.app";
    }

    void TearDown() override { desktop.stopAll(); }

    // Starts Finder and waits until it has loaded its toolbar; its pid.
    int startFinder() {
        int pid = desktop.startApplication("Finder");
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(finderLoadedToolbar(pid));
        return pid;
    }
    bool finderLoadedToolbar(int pid) {
        return testing::waitUntil([&] {
            std::optional<PlistDictionary> loaded = desktop.loadedToolbar();
            const PlistValue* recorded = loaded ? loaded->find("Pid") : nullptr;
            return recorded && recorded->asInteger() == pid;
        });
    }
    std::optional<int> finderPid() {
        for (const RunningApplication& application : desktop.runningApplications()) {
            if (application.bundleIdentifier == kFinderDomain)
                return application.pid;
        }
        return std::nullopt;
    }

    // Runs the installed program with the desktop's environment, and kills it (by pid) when it
    // has not ended `killAfter` its start. Its output goes to a file: the Finder it starts
    // inherits the streams and outlives it.
    QuaymarkRun runQuaymark(const std::string& command,
                            std::chrono::microseconds killAfter = std::chrono::seconds(60)) {
        std::string program = quaymark + "/Contents/MacOS/Quaymark";
        fs::path log = directory.path() / "quaymark.log";
        Environment environment = currentEnvironment();
        for (const auto& [name, value] : desktop.environment())
            environment[name] = value;
        // The log is appended to, and must hold this run alone.
        fs::remove(log);
        const std::optional<int> finder = finderPid();
        auto started = steady_clock::now();
        Result<StartedProcess> spawned = spawnProcess({.executable = program,
                                                       .arguments = {command},
                                                       .environment = environment,
                                                       .logFile = log.string()});
        QuaymarkRun run;
        if (!spawned) {
            run.output = spawned.error();
            return run;
        }
        auto seconds = [&] {
            return std::chrono::duration<double>(steady_clock::now() - started).count();
        };
        int status = 0;
        while (waitpid(spawned->pid, &status, WNOHANG) == 0) {
            if (finder && run.finderEnded < 0 && !processStartTime(*finder))
                run.finderEnded = seconds();
            if (steady_clock::now() - started >= killAfter) {
                kill(spawned->pid, SIGKILL);
                waitpid(spawned->pid, &status, 0);
                run.output = testing::readFile(log);
                return run;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        run.seconds = seconds();
        run.exitStatus = exitStatusOf(status);
        run.output = testing::readFile(log);
        return run;
    }

    // Runs the installed program without any capability, so that root, as tests run, meets
    // file permissions as a user does.
    testing::ProcessResult runWithoutCapabilities(const std::string& command) {
        Environment environment = currentEnvironment();
        for (const auto& [name, value] : desktop.environment())
            environment[name] = value;
        return testing::runProcess({"/usr/bin/setpriv", "--inh-caps=-all", "--bounding-set=-all",
                                    quaymark + "/Contents/MacOS/Quaymark", command},
                                   environment, std::chrono::seconds(20));
    }
    testing::ProcessResult preferenceScript(const std::vector<std::string>& arguments) {
        return testing::runPython(testing::readFile(QUAYMARK_FINDER_PREFERENCES_SCRIPT), arguments);
    }

    fs::path finderPreferences() const {
        return fs::path(desktop.home()) / "Library" / "Preferences" / "com.apple.finder.plist";
    }
    std::optional<PlistDictionary> storedFinderPreferences() const {
        std::optional<DecodedPlist> saved = readPlistFile(finderPreferences().string());
        const PlistDictionary* stored = saved ? saved->value.asDictionary() : nullptr;
        return stored ? std::optional<PlistDictionary>(*stored) : std::nullopt;
    }
    testing::TemporaryDirectory directory;
    Desktop desktop{(directory.path() / "desktop").string()};
    std::string quaymark;
};

struct FileCase {
    const char* form;
    const char* kind;    // whether the toolbar holds "TB Item Plists"
    const char* values;  // "hard": also the values a reader most easily gets wrong
};

class InstallerFileFormatTest : public InstallerDesktopTest,
                                public ::testing::WithParamInterface<FileCase> {};

// Install and uninstall restart Finder, which loads the new toolbar, and change nothing but
// the button as plistlib reads the file; the installed button opens a terminal.
TEST_P(InstallerFileFormatTest, InstallAndUninstallKeepEveryOtherFinderSetting) {
    createDesktop("10.9");
    const FileCase& file = GetParam();
    testing::ProcessResult written = preferenceScript(
        {"write", finderPreferences().string(), file.form, file.kind, file.values});
    ASSERT_EQ(written.exitStatus, 0) << written.output;
    fs::path before = directory.path() / "before.plist";
    fs::copy_file(finderPreferences(), before);
    int finder = startFinder();

    for (auto [command, allowed] :
         {std::pair{"install", "button"}, {"uninstall", "empty-plists"}}) {
        QuaymarkRun run = runQuaymark(command);
        ASSERT_EQ(run.exitStatus, 0) << command << "\n" << run.output;
        EXPECT_GE(run.seconds, 1.0);
        std::optional<int> restarted = finderPid();
        ASSERT_TRUE(restarted) << command;
        EXPECT_NE(*restarted, finder) << command;
        finder = *restarted;
        ASSERT_TRUE(finderLoadedToolbar(finder));
        std::optional<PlistDictionary> loaded = desktop.loadedToolbar();
        std::optional<PlistDictionary> stored = storedFinderPreferences();
        ASSERT_TRUE(loaded && loaded->contains("Toolbar") && stored &&
                    stored->contains(kConfigurationKey));
        EXPECT_EQ(*loaded->find("Toolbar"), *stored->find(kConfigurationKey));
        testing::ProcessResult compared = preferenceScript(
            {"compare", before.string(), finderPreferences().string(), file.form, allowed});
        EXPECT_EQ(compared.exitStatus, 0) << command << ": " << compared.output;
        if (std::string(command) == "uninstall")
            continue;
        // The helper got the Mavericks icon, and its button opens a terminal at the folder.
        EXPECT_EQ(testing::readFile(fs::path(quaymark) / "Contents/MacOS/QuaymarkHelper.app/"
                                                         ".CustomIcon.icns"),
                  testing::readFile(fs::path(quaymark) / "Contents/Resources/mav.icns"));
        fs::path folder = fs::path(desktop.home()) / "Work" / "a folder";
        fs::create_directories(folder);
        ASSERT_TRUE(desktop.openFinderWindow(folder.string()));
        PlistDictionary click = desktop.clickToolbarItem(2);
        ASSERT_FALSE(click.contains("Error")) << PlistValue(click);
        EXPECT_TRUE(testing::waitUntil(
            [&] {
                auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
                return windows && !windows->empty() && !windows->front().tabs.empty() &&
                       windows->front().tabs.front().shellDirectory == folder.string();
            },
            std::chrono::seconds(20)));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, InstallerFileFormatTest,
                         ::testing::Values(FileCase{"binary", "plists", "ordinary"},
                                           FileCase{"xml", "none", "ordinary"},
                                           FileCase{"binary", "plists", "hard"},
                                           FileCase{"xml", "plists", "hard"}),
                         [](const ::testing::TestParamInfo<FileCase>& each) {
                             return std::string(each.param.form) + "_" + each.param.values;
                         });

// A Finder preference file that cannot be read is never replaced, and Finder, whose windows a
// restart would close, runs on.
TEST_F(InstallerDesktopTest, AnUnreadableFinderPreferenceFileIsLeftAsItWas) {
    createDesktop("10.9.5");
    int finder = startFinder();
    fs::path file = finderPreferences();
    fs::create_directories(file.parent_path());
    for (std::string kind : {"corrupt", "fifo", "unreadable", "locked"}) {
        fs::remove(file);
        int lock = -1;
        if (kind == "fifo") {
            ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
        } else {
            testing::writeFile(
                file, kind == "corrupt" ? "bplist00\x01garbage" : "<plist><dict/></plist>");
        }
        if (kind == "unreadable")
            fs::permissions(file, fs::perms::none);
        // The writers' lock, held for longer than any writer waits.
        if (kind == "locked") {
            lock = open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            ASSERT_EQ(flock(lock, LOCK_EX), 0);
        }
        std::string bytes = kind == "fifo" ? "" : testing::readFile(file);

        for (const char* command : {"install", "uninstall", "status"}) {
            testing::ProcessResult run = runWithoutCapabilities(command);
            EXPECT_EQ(run.exitStatus, 1) << kind << " " << command << "\n" << run.output;
            EXPECT_NE(run.output.find(file.string() + ": "), std::string::npos)
                << kind << " " << command << "\n"
                << run.output;
            if (std::string(command) != "status") {
                EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
            }
        }
        if (lock >= 0)
            close(lock);
        if (kind == "fifo") {
            EXPECT_TRUE(fs::is_fifo(file));
        } else {
            EXPECT_EQ(testing::readFile(file), bytes) << kind;
        }
        EXPECT_EQ(finderPid(), finder) << kind;
    }
}

// Killed at any moment of an install or uninstall, even between ending Finder and starting it
// again, Quaymark leaves one Finder running again within a second, as a Mac's system restarts
// Finder; Finder's preferences hold the toolbar from before or after, and every other setting.
TEST_F(InstallerDesktopTest, FinderRunsAgainWithinASecondOfAnInstallKilledAtAnyMoment) {
    createDesktop("10.14.6");
    StderrLog log("InstallerDesktopTest");
    FilePreferences preferences = FilePreferences::forHome(desktop.home(), log);
    // A setting of Finder's own beside the toolbar, stored once, which no run may lose.
    preferences.setAppValue("ShowPathbar", PlistValue::boolean(true), kFinderDomain);
    ASSERT_TRUE(preferences.appSynchronize(kFinderDomain));
    auto storeToolbar = [&](const PlistValue& toolbar) {
        preferences.setAppValue(kConfigurationKey, toolbar, kFinderDomain);
        return preferences.appSynchronize(kFinderDomain);
    };
    startFinder();
    // Uninterrupted: the toolbars without and with the button, and when Finder is ended.
    std::optional<PlistValue> toolbars[2];
    double finderEnded = 0;
    double whole = 0;
    for (const char* command : {"install", "uninstall", "install"}) {
        QuaymarkRun run = runQuaymark(command);
        ASSERT_EQ(run.exitStatus, 0) << run.output;
        ASSERT_GT(run.finderEnded, 0) << command;
        finderEnded = std::max(finderEnded, run.finderEnded);
        whole = std::max(whole, run.seconds);
        std::optional<PlistDictionary> stored = storedFinderPreferences();
        ASSERT_TRUE(stored && stored->contains(kConfigurationKey));
        toolbars[std::string(command) == "install"] = *stored->find(kConfigurationKey);
    }

    // QUAYMARK_KILL_SEED repeats a failed run. Most moments fall around Finder's restart, where
    // a kill is likeliest to leave Finder stopped; the rest anywhere in the run.
    const char* given = std::getenv("QUAYMARK_KILL_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
    std::cout << "seed " << seed << "; Finder ended " << finderEnded << " s into a run of " << whole
              << " s\n";
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> nearRestart(0, finderEnded * 2);
    std::uniform_real_distribution<double> anywhere(0, whole);
    // Twenty uninstalls and ten installs.
    auto longestStop = std::chrono::steady_clock::duration::zero();
    for (int round = 0; round < 30; ++round) {
        const bool install = round % 3 == 2;
        ASSERT_TRUE(storeToolbar(*toolbars[!install]));
        const double moment = round % 4 == 3 ? anywhere(random) : nearRestart(random);
        const std::string what = std::string(install ? "install" : "uninstall") + " killed at " +
                                 std::to_string(moment) + " s (seed " + std::to_string(seed) + ")";
        runQuaymark(install ? "install" : "uninstall",
                    std::chrono::microseconds(static_cast<long>(moment * 1e6)));
        // Finder is watched for a while past a second, so that a Finder ended late (by the
        // killall the killed program left running) is seen too.
        const auto killed = steady_clock::now();
        auto lastSeenStopped = killed;
        while (steady_clock::now() - killed < std::chrono::milliseconds(1100)) {
            if (!finderPid())
                lastSeenStopped = steady_clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_LT(lastSeenStopped - killed, std::chrono::seconds(1)) << what;
        longestStop = std::max(longestStop, lastSeenStopped - killed);
        // Finder is the one application of this desktop.
        EXPECT_EQ(desktop.runningApplications().size(), 1u) << what;
        std::optional<PlistDictionary> stored = storedFinderPreferences();
        ASSERT_TRUE(stored && stored->contains(kConfigurationKey)) << what;
        EXPECT_TRUE(*stored->find(kConfigurationKey) == *toolbars[0] ||
                    *stored->find(kConfigurationKey) == *toolbars[1])
            << what;
        const PlistValue* pathbar = stored->find("ShowPathbar");
        EXPECT_TRUE(pathbar && *pathbar == PlistValue::boolean(true)) << what;
    }
    std::cout << "Finder was last seen stopped at most "
              << std::chrono::duration<double>(longestStop).count() << " s after a kill\n";
}

}  // namespace
}  // namespace quaymark
