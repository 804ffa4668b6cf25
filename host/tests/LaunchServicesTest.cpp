// Launch services and files on real folder trees inside a private system root.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "HostFileManager.h"
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
           identifier +
           "</string>"
           "<key>CFBundleExecutable</key><string>" +
           executable + "</string></dict></plist>\n";
}

class LaunchServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = directory.path() / "root";
        home = directory.path() / "home";
        fs::create_directories(root / "Applications");
        fs::create_directories(home);
    }

    // Makes a bundle at a real path; its executable prints a line on each output stream,
    // records its environment's QM_NOTE in "<executable>.ran", then runs until
    // "<executable>.release" exists or it is deleted.
    void makeBundle(const fs::path& bundle, const std::string& identifier,
                    const std::string& executable = "Program") {
        writeFile(bundle / "Contents" / "Info.plist", infoPlist(identifier, executable));
        fs::path program = bundle / "Contents" / "MacOS" / executable;
        writeFile(program,
                  "#!/bin/sh\necho 'said on standard output'; echo 'and on standard error' >&2\n"
                  "printf '%s' \"${QM_NOTE-none}\" > \"$0.ran.tmp\" && mv "
                  "\"$0.ran.tmp\" \"$0.ran\"\n"
                  "while [ ! -e \"$0.release\" ] && [ -e \"$0\" ]; do sleep 0.05; done\n");
        fs::permissions(program, fs::perms::owner_all);
    }

    HostWorkspace workspace() { return HostWorkspace(SystemRoot(root.string()), home.string()); }

    testing::TemporaryDirectory directory;
    fs::path root, home;
};

TEST_F(LaunchServicesTest, FindsBundlesByIdentifierInSystemAndHomeApplicationFolders) {
    makeBundle(root / "Applications" / "Utilities" / "Terminal.app", "com.apple.Terminal");
    makeBundle(root / "Applications" / "iTerm.app", "com.googlecode.iterm2");
    makeBundle(home / "Applications" / "My Tools" / "iTerm.app", "net.sourceforge.iTerm");
    // A bundle inside another bundle is no application of the system.
    makeBundle(root / "Applications" / "Outer.app" / "Contents" / "MacOS" / "Inner.app",
               "com.example.inner");
    HostWorkspace launchServices = workspace();

    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.apple.Terminal"),
              "/Applications/Utilities/Terminal.app");
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.googlecode.iterm2"),
              "/Applications/iTerm.app");
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("net.sourceforge.iTerm"),
              (home / "Applications" / "My Tools" / "iTerm.app").string());
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.example.inner"),
              std::nullopt);
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.apple.terminal"),
              std::nullopt);
}

TEST_F(LaunchServicesTest, SeesBundlesInstalledRemovedOrChangedSinceTheLastQuestion) {
    HostWorkspace launchServices = workspace();
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.apple.Terminal"),
              std::nullopt);

    makeBundle(root / "Applications" / "Utilities" / "Terminal.app", "com.apple.Terminal");
    EXPECT_TRUE(launchServices.absolutePathForAppBundleWithIdentifier("com.apple.Terminal"));

    writeFile(root / "Applications" / "Utilities" / "Terminal.app" / "Contents" / "Info.plist",
              infoPlist("com.example.renamed", "Program"));
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.apple.Terminal"),
              std::nullopt);
    EXPECT_TRUE(launchServices.absolutePathForAppBundleWithIdentifier("com.example.renamed"));

    fs::remove_all(root / "Applications" / "Utilities" / "Terminal.app");
    EXPECT_EQ(launchServices.absolutePathForAppBundleWithIdentifier("com.example.renamed"),
              std::nullopt);
}

TEST_F(LaunchServicesTest, FactsKeptForOtherProcessesNeverHideAChangedBundle) {
    makeBundle(root / "Applications" / "One.app", "com.example.one");
    makeBundle(root / "Applications" / "Two.app", "com.example.two");
    EXPECT_TRUE(workspace().absolutePathForAppBundleWithIdentifier("com.example.one"));
    fs::path cache = SystemRoot(root.string()).runtimeDirectory() + "/launch-services-cache.plist";
    ASSERT_TRUE(fs::exists(cache));

    // Each fresh workspace stands for another process reading the facts kept by the first.
    writeFile(root / "Applications" / "One.app" / "Contents" / "Info.plist",
              infoPlist("com.example.first", "Program"));
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.example.one"), std::nullopt);
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.example.first"),
              "/Applications/One.app");
    fs::remove_all(root / "Applications" / "Two.app");
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.example.two"), std::nullopt);

    // A damaged cache is no cache.
    writeFile(cache, "not a property list");
    EXPECT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.example.first"),
              "/Applications/One.app");
}

TEST_F(LaunchServicesTest, TerminalsAreDetectedInTheirOrderFromRealBundleTrees) {
    HostPlatform host("test", "com.example.test", SystemRoot(root.string()), home.string());
    TerminalIdentifiers terminals(host.platform());
    EXPECT_TRUE(terminals.installedTerminals().empty());

    makeBundle(home / "Applications" / "iTerm.app", "net.sourceforge.iTerm");
    makeBundle(root / "Applications" / "iTerm2.app", "com.googlecode.iterm2");
    // Any file at xterm's path counts, executable or not.
    writeFile(root / "usr" / "X11R6" / "bin" / "xterm", "");
    EXPECT_EQ(terminals.installedTerminals(),
              (std::vector<std::string>{"com.googlecode.iterm2", "net.sourceforge.iTerm",
                                        "/usr/X11R6/bin/xterm"}));

    makeBundle(root / "Applications" / "Utilities" / "Terminal.app", "com.apple.Terminal");
    fs::remove_all(root / "Applications" / "iTerm2.app");
    EXPECT_EQ(terminals.installedTerminals(),
              (std::vector<std::string>{"com.apple.Terminal", "net.sourceforge.iTerm",
                                        "/usr/X11R6/bin/xterm"}));
    EXPECT_TRUE(terminals.isTerminalInstalled("com.apple.Terminal"));
    EXPECT_FALSE(terminals.isTerminalInstalled("com.googlecode.iterm2"));
}

TEST_F(LaunchServicesTest, LaunchStartsTheExecutableDetachedWithExtraEnvironmentAndRegistersIt) {
    fs::path bundle = root / "Applications" / "Some Place" / "Recorder.app";
    makeBundle(bundle, "com.example.recorder", "Recorder");
    HostWorkspace launchServices = workspace();
    fs::path ran = bundle / "Contents" / "MacOS" / "Recorder.ran";
    fs::path release = bundle / "Contents" / "MacOS" / "Recorder.release";

    ASSERT_TRUE(launchServices.launchApplicationAtUrl(
        Url::fileUrlWithPath("/Applications/Some Place/Recorder.app", true),
        {{"QM_NOTE", "hello there"}}));

    ASSERT_TRUE(testing::waitUntil([&] { return fs::exists(ran); }));
    EXPECT_EQ(readFile(ran), "hello there");
    // What it prints goes to its own log in the desktop's runtime folder.
    EXPECT_EQ(readFile(SystemRoot(root.string()).runtimeDirectory() + "/logs/Recorder.log"),
              "said on standard output\nand on standard error\n");
    std::vector<RunningApplication> running =
        launchServices.runningApplicationsWithBundleIdentifier("com.example.recorder");
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].processName, "Recorder");
    EXPECT_TRUE(launchServices.activate(running[0]));

    // Once it has ended it is no longer listed, and cannot be activated.
    writeFile(release, "");
    ASSERT_TRUE(testing::waitUntil([&] { return launchServices.runningApplications().empty(); }));
    EXPECT_FALSE(launchServices.activate(running[0]));
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

TEST_F(LaunchServicesTest, AliasesResolveThroughChainsAndReportTheFinalKind) {
    fs::create_directories(home / "Real Folder");
    writeFile(home / "file.txt", "x");
    fs::create_symlink(home / "Real Folder", home / "link");
    fs::create_symlink(home / "link", home / "link to link");
    fs::create_symlink(home / "file.txt", home / "file link");
    fs::create_symlink(home / "gone", home / "broken");
    HostFileManager files(SystemRoot(root.string()), home.string());

    struct Case {
        const char* name;
        bool succeeded, isFolder, wasAliased;
        fs::path resolved;
    };
    const Case cases[] = {
        {"Real Folder", true, true, false, home / "Real Folder"},
        {"file.txt", true, false, false, home / "file.txt"},
        {"link", true, true, true, home / "Real Folder"},
        {"link to link", true, true, true, home / "Real Folder"},
        {"file link", true, false, true, home / "file.txt"},
        {"broken", false, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<AliasResolution> resolution =
            files.resolveAliasFile((home / c.name).string());
        ASSERT_TRUE(resolution);
        EXPECT_EQ(resolution->succeeded, c.succeeded);
        EXPECT_EQ(resolution->isFolder, c.isFolder);
        EXPECT_EQ(resolution->wasAliased, c.wasAliased);
        if (c.succeeded) {
            EXPECT_EQ(resolution->resolvedPath, c.resolved.string());
        }
    }
    EXPECT_EQ(files.resolveAliasFile((home / "missing").string()), std::nullopt);
}

TEST_F(LaunchServicesTest, SystemPathsAreMappedUnderTheRootAndUserPathsAreNot) {
    SystemRoot systemRoot(root.string());
    writeFile(root / "usr" / "X11R6" / "bin" / "xterm", "");
    HostFileManager files(systemRoot, home.string());
    EXPECT_TRUE(files.fileExistsAtPath("/usr/X11R6/bin/xterm"));
    EXPECT_EQ(systemRoot.map("/Applications/Finder.app"),
              root.string() + "/Applications/Finder.app");
    EXPECT_EQ(systemRoot.map("/usr/bin/killall"), root.string() + "/usr/bin/killall");
    EXPECT_EQ(systemRoot.map("/usr/bin/env"), "/usr/bin/env");
    EXPECT_EQ(systemRoot.map("/ApplicationsX"), "/ApplicationsX");
    EXPECT_EQ(systemRoot.map(home.string()), home.string());
    EXPECT_EQ(systemRoot.unmap(root.string() + "/System/Library"), "/System/Library");
    EXPECT_EQ(systemRoot.unmap(root.string() + "/home/x"), root.string() + "/home/x");
    EXPECT_EQ(SystemRoot("").map("/Applications"), "/Applications");
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
    std::unique_ptr<Task> task = tasks.launch(options);
    EXPECT_EQ(task->waitUntilExit(), 0);
    EXPECT_EQ(readFile(log), (home / "work dir").string() + "\nvalue with spaces\nerr\n");

    options.currentDirectory = (home / "missing").string();
    EXPECT_THROW(tasks.launch(options), PlatformException);
    options.currentDirectory.reset();
    options.launchPath = "/usr/X11R6/bin/xterm";  // mapped under the root, where nothing is
    EXPECT_THROW(tasks.launch(options), PlatformException);
}

}  // namespace
}  // namespace quaymark
