// Launch services and tasks on real folder trees inside a private system root.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>
#include <tuple>

#include "HostPlatform.h"
#include "HostTestSupport.h"
#include "PlatformException.h"
#include "TerminalIdentifiers.h"
#include "launch/HostWorkspace.h"
#include "plist/PlistCodec.h"
#include "posix/Posix.h"
#include "posix/PosixTaskLauncher.h"

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

    // Dates every folder of the Applications folders an hour back, as folders are between
    // installs: a scan of folders changed a moment ago is not kept.
    void settle() {
        auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (const fs::path& top : {root / "Applications", home / "Applications"}) {
            if (!fs::exists(top))
                continue;
            fs::last_write_time(top, old);
            for (const auto& entry : fs::recursive_directory_iterator(top)) {
                if (entry.is_directory())
                    fs::last_write_time(entry.path(), old);
            }
        }
    }
    BundleRegistry registry() { return BundleRegistry(SystemRoot(root.string()), home.string()); }

    // A fresh workspace stands for another process of the desktop.
    HostWorkspace workspace() { return HostWorkspace(SystemRoot(root.string()), home.string()); }
    std::optional<std::string> found(HostWorkspace& in, const char* identifier) {
        return in.absolutePathForAppBundleWithIdentifier(identifier);
    }

    testing::TemporaryDirectory directory;
    fs::path root = directory.path() / "root", home = directory.path() / "home";
};

TEST_F(LaunchServicesTest, FindsBundlesInBothApplicationFoldersButNotInsideBundles) {
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
}

// Each case changes a registry built on settled folders; a workspace that reads the registry
// another process wrote and one that scanned itself both see the change at once.
TEST_F(LaunchServicesTest, EveryChangeToTheBundlesIsSeenAtTheNextLookup) {
    const std::string terminal = "/Applications/Utilities/Terminal.app";
    fs::path bundle, outside;  // Terminal's bundle, and a folder outside the Applications folders
    struct Case {
        const char* name;
        std::function<void()> change;
        std::vector<std::pair<const char*, std::optional<std::string>>> expected;  // in order
    };
    const std::vector<Case> cases = {
        {"added in a subfolder",
         [&] { makeBundle(bundle / ".." / "More" / "New.app", "com.ex.new"); },
         {{"com.ex.new", "/Applications/Utilities/More/New.app"},
          {"com.apple.Terminal", terminal}}},
        {"removed",
         [&] { fs::remove_all(bundle); },
         {{"com.apple.Terminal", std::nullopt}, {"com.ex.editor", "/Applications/Editor.app"}}},
        {"renamed",
         [&] { fs::rename(bundle, bundle.parent_path() / "Terminal 2.app"); },
         {{"com.apple.Terminal", "/Applications/Utilities/Terminal 2.app"}}},
        {"replaced by rename",
         [&] {
             makeBundle(outside / "Staged.app", "com.ex.replaced");
             fs::rename(bundle, outside / "Old.app");
             fs::rename(outside / "Staged.app", bundle);
         },
         {{"com.ex.replaced", terminal}, {"com.apple.Terminal", std::nullopt}}},
        {"its Info.plist edited in place",
         [&] {
             writeFile(bundle / "Contents" / "Info.plist", infoPlist("com.ex.edited", "Program"));
         },
         {{"com.apple.Terminal", std::nullopt}, {"com.ex.edited", terminal}}},
        {"the home's Applications folder removed",
         [&] { fs::remove_all(home / "Applications"); },
         {{"com.ex.home", std::nullopt}, {"com.apple.Terminal", terminal}}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        outside = directory.path() / each.name;
        root = outside / "root", home = outside / "home";
        bundle = root / "Applications" / "Utilities" / "Terminal.app";
        makeBundle(bundle, "com.apple.Terminal");
        fs::create_directories(bundle / ".." / "More");
        makeBundle(root / "Applications" / "Editor.app", "com.ex.editor");
        makeBundle(home / "Applications" / "Home.app", "com.ex.home");
        settle();
        HostWorkspace asked = workspace();
        ASSERT_EQ(found(asked, "com.apple.Terminal"), terminal);
        ASSERT_TRUE(fs::exists(registry().indexPath()));
        each.change();
        HostWorkspace fresh = workspace();
        for (HostWorkspace* workspace : {&fresh, &asked}) {
            for (const auto& [identifier, path] : each.expected)
                EXPECT_EQ(found(*workspace, identifier), path) << identifier;
        }
    }
}

// A registry that cannot be read is scanned again, one that cannot be written is left
// aside: the answers stay right and changes are still seen.
TEST_F(LaunchServicesTest, ABrokenRegistryIsRebuiltOrLeftAsideNeverTrusted) {
    using Damage = std::function<std::string(const std::string&)>;
    auto with = [](std::vector<std::pair<std::string, PlistValue>> changes) -> Damage {
        return [=](const std::string& bytes) {
            PlistDictionary fields = *decodePlist(bytes)->value.asDictionary();
            for (const auto& [key, value] : changes)
                fields.set(key, value);
            return encodePlist(PlistValue(fields), PlistFormat::Binary);
        };
    };
    Damage junk = [](const std::string&) { return std::string("bplist00"); };
    Damage half = [](const std::string& bytes) { return bytes.substr(0, bytes.size() / 2); };
    PlistValue otherFormat = PlistValue::integer(BundleRegistry::kFormatVersion + 1);
    // The deeper bundle has Terminal's identifier too: only the record's form tells it is not
    // the one to open. A damaged index comes without Terminal's record, which must not be read
    // as "none"; with no damage, the caches folder is a file and nothing can be written.
    const PlistValue deeper("/Applications/Utilities/Old/Terminal.app");
    enum Target { Index, Record, CachesFolder };
    const std::vector<std::tuple<const char*, Target, Damage>> cases = {
        {"unreadable index", Index, junk},
        {"index cut short", Index, half},
        {"index of another format", Index, with({{"Version", otherFormat}})},
        {"unreadable record", Record, junk},
        {"record cut short", Record, half},
        {"record of another format", Record, with({{"Version", otherFormat}, {"Path", deeper}})},
        {"record of another identifier", Record,
         with({{"Identifier", PlistValue("com.example.other")}, {"Path", deeper}})},
        {"caches folder unwritable", CachesFolder, nullptr},
    };
    for (const auto& [name, target, damage] : cases) {
        SCOPED_TRACE(name);
        root = directory.path() / name / "root";
        home = directory.path() / name / "home";
        fs::path utilities = root / "Applications" / "Utilities";
        makeBundle(utilities / "Terminal.app", "com.apple.Terminal");
        makeBundle(utilities / "Old" / "Terminal.app", "com.apple.Terminal");
        settle();
        ASSERT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.apple.Terminal"),
                  "/Applications/Utilities/Terminal.app");
        fs::path record = registry().recordPath("com.apple.Terminal");
        if (target == CachesFolder) {
            fs::remove_all(home / "Library" / "Caches");
            writeFile(home / "Library" / "Caches", "");
        } else {
            fs::path file = target == Index ? fs::path(registry().indexPath()) : record;
            writeFile(file, damage(readFile(file)));
            if (target == Index)
                fs::remove(record);
        }
        HostWorkspace after = workspace();
        EXPECT_EQ(found(after, "com.apple.Terminal"), "/Applications/Utilities/Terminal.app");
        makeBundle(utilities / "New.app", "com.example.new");
        EXPECT_EQ(found(after, "com.example.new"), "/Applications/Utilities/New.app");
    }
}

// A click's lookups read the registry and the Info.plist of the bundles they find, never the
// folders or the other bundles, however many there are. The watch sees every open, listings
// included.
TEST_F(LaunchServicesTest, ALookupReadsOnlyTheBundleItFinds) {
    constexpr int kOthers = 300;
    fs::path applications = root / "Applications";
    makeBundle(applications / "Utilities" / "Terminal.app", "com.apple.Terminal");
    for (int i = 0; i < kOthers; ++i) {
        writeFile(
            applications / ("Other " + std::to_string(i) + ".app") / "Contents" / "Info.plist",
            infoPlist("com.example.other" + std::to_string(i), "Other"));
    }
    settle();
    ASSERT_EQ(workspace().absolutePathForAppBundleWithIdentifier("com.apple.Terminal"),
              "/Applications/Utilities/Terminal.app");

    FileDescriptor watcher(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watcher);
    std::vector<fs::path> folders{applications};
    for (const auto& entry : fs::recursive_directory_iterator(applications)) {
        if (entry.is_directory() && entry.path().filename() != "MacOS")
            folders.push_back(entry.path());
    }
    std::map<int, fs::path> watched;
    for (const fs::path& folder : folders) {
        int watch = inotify_add_watch(watcher.get(), folder.c_str(), IN_OPEN | IN_ACCESS);
        ASSERT_GE(watch, 0) << folder;
        watched[watch] = folder;
    }
    HostWorkspace fresh = workspace();
    EXPECT_EQ(found(fresh, "com.apple.Terminal"), "/Applications/Utilities/Terminal.app");
    EXPECT_EQ(found(fresh, "com.example.other7"), "/Applications/Other 7.app");
    EXPECT_EQ(found(fresh, "net.sourceforge.iTerm"), std::nullopt);

    std::set<fs::path> opened;
    alignas(inotify_event) char events[64 * 1024];
    for (ssize_t size; (size = read(watcher.get(), events, sizeof events)) > 0;) {
        for (char* at = events; at < events + size;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            opened.insert(watched[event->wd] / (event->len ? event->name : ""));
            at += sizeof(inotify_event) + event->len;
        }
    }
    EXPECT_EQ(opened, (std::set<fs::path>{
                          applications / "Utilities" / "Terminal.app" / "Contents" / "Info.plist",
                          applications / "Other 7.app" / "Contents" / "Info.plist"}));
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
    SystemRoot systemRoot(root.string());
    PosixTaskLauncher tasks([&](std::string_view path) { return systemRoot.map(path); });
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
