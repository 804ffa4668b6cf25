// Launch services and tasks on real folder trees inside a private system root.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "HostPlatform.h"
#include "HostTestSupport.h"
#include "HostWorkspace.h"
#include "PlatformException.h"
#include "PosixTaskLauncher.h"
#include "TerminalIdentifiers.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

std::string infoPlist(const std::string& identifier, const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           identifier + "</string><key>CFBundleExecutable</key><string>" + executable +
           "</string></dict></plist>\n";
}

class LaunchServicesTest : public ::testing::Test {
protected:
    // A bundle whose executable prints a line on each output stream, appends its
    // environment's QM_NOTE and a line end to "<executable>.ran", then runs until
    // "<executable>.release" exists or it is deleted.
    void makeBundle(const fs::path& bundle, const std::string& identifier,
                    const std::string& executable = "Program") {
        writeFile(bundle / "Contents" / "Info.plist", infoPlist(identifier, executable));
        fs::path program = bundle / "Contents" / "MacOS" / executable;
        writeFile(program,
                  "#!/bin/sh\necho 'said on standard output'; echo 'and on standard error' >&2\n"
                  "printf '%s\\n' \"${QM_NOTE-none}\" >> \"$0.ran\"\n"
                  "while [ ! -e \"$0.release\" ] && [ -e \"$0\" ]; do sleep 0.05; done\n");
        fs::permissions(program, fs::perms::owner_all);
    }

    // A fresh workspace stands for another process of the desktop.
    HostWorkspace workspace() { return HostWorkspace(SystemRoot(root.string()), home.string()); }
    std::optional<std::string> found(HostWorkspace& in, const char* identifier) {
        return in.absolutePathForAppBundleWithIdentifier(identifier);
    }

    testing::TemporaryDirectory directory;
    fs::path root = directory.path() / "root", home = directory.path() / "home";
};

TEST_F(LaunchServicesTest, FindsBundlesInBothApplicationFoldersAndSeesEveryChange) {
    makeBundle(root / "Applications" / "Utilities" / "Terminal.app", "com.apple.Terminal");
    makeBundle(root / "Applications" / "iTerm.app", "com.googlecode.iterm2");
    makeBundle(home / "Applications" / "My Tools" / "iTerm.app", "net.sourceforge.iTerm");
    // A bundle inside another bundle is no application of the system.
    makeBundle(root / "Applications" / "Outer.app" / "Contents" / "MacOS" / "Inner.app",
               "com.example.inner");
    HostWorkspace asked = workspace();
    EXPECT_EQ(found(asked, "com.apple.Terminal"), "/Applications/Utilities/Terminal.app");
    EXPECT_EQ(found(asked, "com.googlecode.iterm2"), "/Applications/iTerm.app");
    EXPECT_EQ(found(asked, "net.sourceforge.iTerm"),
              (home / "Applications" / "My Tools" / "iTerm.app").string());
    EXPECT_EQ(found(asked, "com.example.inner"), std::nullopt);
    EXPECT_EQ(found(asked, "com.apple.terminal"), std::nullopt);

    // Changes are seen by the workspace that asked before and by other processes, which
    // read the facts the first one kept.
    writeFile(root / "Applications" / "Utilities" / "Terminal.app" / "Contents" / "Info.plist",
              infoPlist("com.example.renamed", "Program"));
    fs::remove_all(root / "Applications" / "iTerm.app");
    makeBundle(root / "Applications" / "New.app", "com.example.new");
    HostWorkspace other = workspace();
    for (HostWorkspace* each : {&asked, &other}) {
        EXPECT_EQ(found(*each, "com.apple.Terminal"), std::nullopt);
        EXPECT_EQ(found(*each, "com.example.renamed"), "/Applications/Utilities/Terminal.app");
        EXPECT_EQ(found(*each, "com.googlecode.iterm2"), std::nullopt);
        EXPECT_EQ(found(*each, "com.example.new"), "/Applications/New.app");
    }
    // A damaged cache is no cache.
    writeFile(SystemRoot(root.string()).runtimeDirectory() + "/launch-services-cache.plist", "x");
    HostWorkspace afterDamage = workspace();
    EXPECT_EQ(found(afterDamage, "com.example.renamed"), "/Applications/Utilities/Terminal.app");
}

// The order of detection is the catalogue's, tested on its own; here the files are real.
TEST_F(LaunchServicesTest, RealBundlesAndAnXtermFileAreDetectedButNotADanglingXtermLink) {
    HostPlatform host("test", "com.example.test", SystemRoot(root.string()), home.string());
    TerminalIdentifiers terminals(host.platform());
    fs::path xterm = root / "usr" / "X11R6" / "bin" / "xterm";
    fs::create_directories(xterm.parent_path());
    fs::create_symlink(directory.path() / "xterm", xterm);
    makeBundle(home / "Applications" / "iTerm.app", "net.sourceforge.iTerm");
    EXPECT_EQ(terminals.installedTerminals(), std::vector<std::string>{"net.sourceforge.iTerm"});

    // Once the link leads to a file it counts, executable or not.
    writeFile(directory.path() / "xterm", "");
    EXPECT_EQ(terminals.installedTerminals(),
              (std::vector<std::string>{"net.sourceforge.iTerm", "/usr/X11R6/bin/xterm"}));
}

TEST_F(LaunchServicesTest, LaunchStartsOnceDetachedAndActivatesWhatRuns) {
    const char* path = "/Applications/Some Place/Recorder.app";
    fs::path macOS = root / "Applications" / "Some Place" / "Recorder.app" / "Contents" / "MacOS";
    makeBundle(macOS.parent_path().parent_path(), "com.example.recorder", "Recorder");
    HostWorkspace launchServices = workspace();
    ASSERT_TRUE(launchServices.launchApplicationAtUrl(Url::fileUrlWithPath(path, true),
                                                      {{"QM_NOTE", "hello there"}}));
    std::vector<RunningApplication> running = launchServices.runningApplications();
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0], (RunningApplication{running[0].pid, "com.example.recorder", "Recorder"}));

    // A second launch, from any process, brings the running one to the front instead.
    HostWorkspace other = workspace();
    EXPECT_EQ(other.launchBundle(path, {}), running[0].pid);
    EXPECT_EQ(other.registry().frontmost(), running[0].pid);
    EXPECT_EQ(launchServices.runningApplications(), running);

    // Once it has ended it is no longer listed, cannot be activated, and starts anew.
    writeFile(macOS / "Recorder.release", "");
    ASSERT_TRUE(testing::waitUntil([&] { return launchServices.runningApplications().empty(); }));
    EXPECT_FALSE(launchServices.activate(running[0]));
    fs::remove(macOS / "Recorder.release");
    int again = launchServices.launchBundle(path, {});
    EXPECT_TRUE(again > 0 && again != running[0].pid) << again;
    EXPECT_TRUE(testing::waitUntil([&] { return readFile(macOS / "Recorder.ran").size() > 12; }));
    EXPECT_EQ(readFile(macOS / "Recorder.ran"), "hello there\nnone\n");
    // What it prints goes to its own log in the desktop's runtime folder.
    EXPECT_TRUE(readFile(SystemRoot(root.string()).runtimeDirectory() + "/logs/Recorder.log")
                    .starts_with("said on standard output\nand on standard error\n"));
    writeFile(macOS / "Recorder.release", "");
}

// An updated application starts its new version this way while the old one still runs.
TEST_F(LaunchServicesTest, ANewInstanceStartsBesideTheRunningOne) {
    fs::path macOS = root / "Applications" / "Recorder.app" / "Contents" / "MacOS";
    makeBundle(macOS.parent_path().parent_path(), "com.example.recorder", "Recorder");
    HostWorkspace launchServices = workspace();
    ASSERT_TRUE(launchServices.launchApplication("/Applications/Recorder.app"));
    const std::vector<RunningApplication> before = launchServices.runningApplications();
    ASSERT_EQ(before.size(), 1u);

    HostWorkspace other = workspace();
    ASSERT_TRUE(other.launchNewInstanceOfApplication("/Applications/Recorder.app"));
    const std::vector<RunningApplication> after = launchServices.runningApplications();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_NE(after[0].pid, after[1].pid);
    for (const RunningApplication& each : after)
        EXPECT_EQ(each.bundleIdentifier, "com.example.recorder");
    EXPECT_TRUE(
        testing::waitUntil([&] { return readFile(macOS / "Recorder.ran") == "none\nnone\n"; }));
    writeFile(macOS / "Recorder.release", "");
    EXPECT_TRUE(testing::waitUntil([&] { return launchServices.runningApplications().empty(); }));
}

TEST_F(LaunchServicesTest, LaunchesAtTheSameMomentFromManyProcessesStartOneProcess) {
    fs::path bundle = root / "Applications" / "Recorder.app";
    makeBundle(bundle, "com.example.recorder", "Recorder");
    constexpr int kLaunchers = 8;
    std::vector<HostWorkspace> launchers(kLaunchers, workspace());
    for (HostWorkspace& launcher : launchers)  // each scans before, so that all launch at once
        ASSERT_TRUE(found(launcher, "com.example.recorder"));
    std::vector<int> pids(kLaunchers);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kLaunchers; ++i) {
            threads.emplace_back(
                [&, i] { pids[i] = launchers[i].launchBundle("/Applications/Recorder.app", {}); });
        }
    }
    writeFile(bundle / "Contents" / "MacOS" / "Recorder.release", "");
    EXPECT_GT(pids[0], 0);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), pids[0]), kLaunchers);
    ASSERT_TRUE(testing::waitUntil([&] { return workspace().runningApplications().empty(); }));
    EXPECT_EQ(readFile(bundle / "Contents" / "MacOS" / "Recorder.ran"), "none\n");
}

TEST_F(LaunchServicesTest, LaunchFailsForMissingOrBrokenBundles) {
    HostWorkspace launchServices = workspace();
    EXPECT_FALSE(launchServices.launchApplication("/Applications/Missing.app"));
    writeFile(root / "Applications" / "NoExecutable.app" / "Contents" / "Info.plist",
              infoPlist("com.example.none", "Nothing"));
    EXPECT_FALSE(launchServices.launchApplication("/Applications/NoExecutable.app"));
    EXPECT_FALSE(
        launchServices.launchApplicationAtUrl(*Url::fromString("http://example.com/A.app"), {}));
    EXPECT_TRUE(launchServices.runningApplications().empty());
}

TEST_F(LaunchServicesTest, TasksRunInTheirDirectoryWithExactEnvironmentAndMergedStreams) {
    fs::create_directories(home / "work dir");
    fs::path log = directory.path() / "out.txt";
    PosixTaskLauncher tasks(SystemRoot(root.string()));
    TaskOptions options;
    options.launchPath = "/bin/sh";
    options.arguments = {
        "-c", "{ pwd; printf '%s\\n' \"$ONLY\"; echo err >&2; } > " + log.string() + " 2>&1"};
    options.currentDirectory = (home / "work dir").string();
    options.environment = Environment{{"ONLY", "value with spaces"}};
    EXPECT_EQ(tasks.launch(options)->waitUntilExit(), 0);
    EXPECT_EQ(readFile(log), (home / "work dir").string() + "\nvalue with spaces\nerr\n");

    options.currentDirectory = (home / "missing").string();
    EXPECT_THROW(tasks.launch(options), PlatformException);
    options.currentDirectory.reset();
    options.launchPath = "/usr/X11R6/bin/xterm";  // mapped under the root, where nothing is
    EXPECT_THROW(tasks.launch(options), PlatformException);
}

}  // namespace
}  // namespace quaymark
