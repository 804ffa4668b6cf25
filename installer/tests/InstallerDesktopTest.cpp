// The built Quaymark program run as a user runs it, `Quaymark install` and friends, on a
// fresh stand-in desktop: Finder's preference file, Finder's restart, and a click on the
// button that opens a terminal at Finder's folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "Desktop.h"
#include "FinderPreferenceScripts.h"
#include "FinderToolBarController.h"
#include "HostTestSupport.h"
#include "PlistCodec.h"
#include "Spawn.h"
#include "TmuxInspection.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace finder_toolbar;
using std::chrono::steady_clock;

struct QuaymarkRun {
    int exitStatus = -1;  // -1: it did not end within the time limit and was killed
    std::string output;
    double seconds = 0;
};

class InstallerDesktopTest : public ::testing::Test {
protected:
    void createDesktop(const std::string& systemVersion) {
        DesktopOptions options;
        options.systemVersion = systemVersion;
        options.iTerm = options.iTerm2 = options.xterm = false;
        ASSERT_EQ(Desktop::create(desktop.folder(), options,
                                  StandInPrograms{QUAYMARK_FINDER_PROGRAM, QUAYMARK_KILLALL_PROGRAM,
                                                  QUAYMARK_STANDIN_PROGRAM}),
                  std::nullopt);
        ASSERT_EQ(desktop.installQuaymark(QUAYMARK_APP_DIR, InstallLocation::Applications),
                  std::nullopt);
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

    // Runs the installed program with the desktop's environment. Its output goes to a file:
    // the Finder it starts inherits the streams and outlives it.
    QuaymarkRun runQuaymark(const std::string& command,
                            std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::string program = quaymark + "/Contents/MacOS/Quaymark";
        fs::path log = directory.path() / "quaymark.log";
        Environment environment = currentEnvironment();
        for (const auto& [name, value] : desktop.environment())
            environment[name] = value;
        // The log is appended to, and must hold this run alone.
        fs::remove(log);
        auto started = steady_clock::now();
        SpawnResult spawned = spawnProcess({.executable = program,
                                            .arguments = {command},
                                            .environment = environment,
                                            .logFile = log.string()});
        QuaymarkRun run;
        if (!spawned) {
            run.output = spawned.error;
            return run;
        }
        pid_t pid = spawned.pid;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (steady_clock::now() - started > limit) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                run.output = testing::readFile(log);
                return run;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        run.seconds = std::chrono::duration<double>(steady_clock::now() - started).count();
        run.exitStatus = exitStatusOf(status);
        run.output = testing::readFile(log);
        return run;
    }

    fs::path finderPreferences() const {
        return fs::path(desktop.home()) / "Library" / "Preferences" / "com.apple.finder.plist";
    }
    PlistDictionary storedConfiguration() const {
        std::optional<DecodedPlist> file = readPlistFile(finderPreferences().string());
        const PlistDictionary* values = file ? file->value.asDictionary() : nullptr;
        const PlistValue* configuration = values ? values->find(kConfigurationKey) : nullptr;
        return configuration && configuration->asDictionary() ? *configuration->asDictionary()
                                                              : PlistDictionary();
    }

    testing::TemporaryDirectory directory;
    Desktop desktop{(directory.path() / "desktop").string()};
    std::string quaymark;
};

TEST_F(InstallerDesktopTest, InstallOnMavericksRestartsFinderWithAButtonThatOpensATerminal) {
    createDesktop("10.9");
    int oldFinder = startFinder();

    QuaymarkRun install = runQuaymark("install");

    ASSERT_EQ(install.exitStatus, 0) << install.output;
    EXPECT_GE(install.seconds, 1.0);
    std::string helperUrl = "file:///Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app/";
    EXPECT_EQ(
        storedConfiguration(),
        (PlistDictionary{
            {kDefaultItemIdentifiers,
             PlistValue::stringArray({"com.apple.finder.BACK", "NSToolbarFlexibleSpaceItem",
                                      "com.apple.finder.SWCH", "com.apple.finder.ACTN",
                                      "com.apple.finder.ARNG", "com.apple.finder.SHAR",
                                      "NSToolbarFlexibleSpaceItem", "NSToolbarFlexibleSpaceItem",
                                      "com.apple.finder.SRCH"})},
            {kItemIdentifiers,
             PlistValue::stringArray({"com.apple.finder.BACK", "NSToolbarFlexibleSpaceItem",
                                      "com.apple.finder.SWCH", "com.apple.finder.ACTN",
                                      "com.apple.finder.ARNG", "com.apple.finder.SHAR",
                                      "NSToolbarFlexibleSpaceItem", "com.apple.finder.loc ",
                                      "NSToolbarFlexibleSpaceItem", "com.apple.finder.SRCH"})},
            {kDisplayMode, PlistValue::integer(2)},
            {kItemPlists,
             PlistDictionary{{"7", PlistDictionary{{kUrlString, helperUrl},
                                                   {kUrlStringType, PlistValue::integer(15)}}}}}}));
    // The program returned with a new Finder running, which loads the new toolbar.
    std::optional<int> newFinder = finderPid();
    ASSERT_TRUE(newFinder);
    EXPECT_NE(*newFinder, oldFinder);
    ASSERT_TRUE(finderLoadedToolbar(*newFinder));
    EXPECT_EQ(*desktop.loadedToolbar()->find("Toolbar"), PlistValue(storedConfiguration()));

    // The helper got the Mavericks icon, as its icon file and as the folder's custom icon.
    fs::path helper = fs::path(quaymark) / "Contents" / "MacOS" / "QuaymarkHelper.app";
    std::string mav = testing::readFile(fs::path(quaymark) / "Contents" / "Resources" / "mav.icns");
    EXPECT_EQ(testing::readFile(helper / "Contents" / "Resources" / "moj.icns"), mav);
    EXPECT_EQ(testing::readFile(helper / ".directory"),
              "[Desktop Entry]\nIcon=./.CustomIcon.icns\n");
    EXPECT_EQ(testing::readFile(helper / ".CustomIcon.icns"), mav);

    fs::path folder = fs::path(desktop.home()) / "Work" / "a folder";
    fs::create_directories(folder);
    ASSERT_TRUE(desktop.openFinderWindow(folder.string()));
    PlistDictionary click = desktop.clickToolbarItem(7);
    ASSERT_FALSE(click.contains("Error")) << PlistValue(click);
    EXPECT_TRUE(testing::waitUntil(
        [&] {
            auto windows = inspectTerminal(desktop.systemRoot(), "com.apple.Terminal");
            return windows && !windows->empty() && !windows->front().tabs.empty() &&
                   windows->front().tabs.front().shellDirectory == folder.string();
        },
        std::chrono::seconds(20)));

    QuaymarkRun again = runQuaymark("install");
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(again.output,
              "The Quaymark button is already in Finder's toolbar; nothing was changed.\n");
    EXPECT_EQ(finderPid(), newFinder);
    QuaymarkRun status = runQuaymark("status");
    EXPECT_NE(status.output.find("Toolbar button: installed (1 entry)\nSystem version: 10.9 "
                                 "(version 9)\nButton icon: mav\n"),
              std::string::npos)
        << status.output;
    EXPECT_NE(status.output.find("Finder: running (pid " + std::to_string(*newFinder) + ")"),
              std::string::npos)
        << status.output;
}

class InstallerFileFormatTest : public InstallerDesktopTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(InstallerFileFormatTest, InstallThenUninstallGivesBackEveryFinderSetting) {
    createDesktop("10.14.6");
    const char* form = GetParam();
    std::string kind = std::string(form) == "binary" ? "plists" : "none";
    testing::ProcessResult written =
        testing::runPython(kWriteFinderPreferences, {finderPreferences().string(), form, kind});
    ASSERT_EQ(written.exitStatus, 0) << written.output;
    fs::path before = directory.path() / "before.plist";
    fs::copy_file(finderPreferences(), before);
    int finder = startFinder();

    for (const char* command : {"install", "uninstall"}) {
        QuaymarkRun run = runQuaymark(command);
        ASSERT_EQ(run.exitStatus, 0) << command << "\n" << run.output;
        std::optional<int> restarted = finderPid();
        ASSERT_TRUE(restarted) << command;
        EXPECT_NE(*restarted, finder) << command;
        finder = *restarted;
    }

    testing::ProcessResult compared = testing::runPython(
        kCompare, {before.string(), finderPreferences().string(), form, "empty-plists"});
    EXPECT_EQ(compared.exitStatus, 0) << compared.output;
}

INSTANTIATE_TEST_SUITE_P(Formats, InstallerFileFormatTest, ::testing::Values("binary", "xml"));

TEST_F(InstallerDesktopTest, AFolderWithABlankIsPercentEncodedInTheButtonsUrl) {
    createDesktop("10.9.5");
    fs::path tools = fs::path(desktop.root()) / "Applications" / "My Tools";
    fs::create_directories(tools);
    fs::rename(quaymark, tools / "Quaymark.app");
    quaymark = (tools / "Quaymark.app").string();
    startFinder();

    QuaymarkRun install = runQuaymark("install");

    ASSERT_EQ(install.exitStatus, 0) << install.output;
    PlistDictionary configuration = storedConfiguration();
    const PlistValue* plists = configuration.find(kItemPlists);
    const PlistValue* button =
        plists && plists->asDictionary() ? plists->asDictionary()->find("7") : nullptr;
    ASSERT_TRUE(button && button->asDictionary()) << PlistValue(configuration);
    EXPECT_EQ(*button->asDictionary()->find(kUrlString),
              PlistValue("file:///Applications/My%20Tools/Quaymark.app/Contents/MacOS/"
                         "QuaymarkHelper.app/"));
}

TEST_F(InstallerDesktopTest, AFinderThatCannotStartHoldsInstallForThirtySecondsAtMost) {
    createDesktop("10.9.5");
    fs::permissions(
        fs::path(desktop.root()) / "Applications" / "Finder.app" / "Contents" / "MacOS" / "Finder",
        fs::perms::owner_read | fs::perms::owner_write);

    QuaymarkRun install = runQuaymark("install");

    EXPECT_EQ(install.exitStatus, 1) << install.output;
    EXPECT_GE(install.seconds, 30.0);
    EXPECT_LT(install.seconds, 36.0);
    EXPECT_NE(install.output.find("Finder did not come back within 30 seconds"), std::string::npos)
        << install.output;
    EXPECT_TRUE(storedConfiguration().contains(kItemPlists));
    EXPECT_NE(runQuaymark("status").output.find("Finder: not running\n"), std::string::npos);
}

}  // namespace
}  // namespace quaymark
