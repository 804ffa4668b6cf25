// Runs the built QuaymarkHelper as Finder would, in a private home and system root, and
// reads the outcome from the preference file (through Python's plistlib) and from a
// recording stand-in for the main program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "HostTestSupport.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using testing::ProcessResult;
using testing::readFile;
using testing::runPython;
using testing::writeFile;

const char* const kWritePreferences = R"(
import plistlib, sys, datetime
path, kind = sys.argv[1], sys.argv[2]
values = {}
if kind == 'iterm':
    values['Terminal Identifier'] = 'net.sourceforge.iTerm'
    values['Last Launch Date'] = datetime.datetime(2020, 1, 2, 3, 4, 5)
with open(path, 'wb') as f:
    plistlib.dump(values, f, fmt=plistlib.FMT_BINARY)
)";

const char* const kReadLastLaunch = R"(
import plistlib, sys, datetime
with open(sys.argv[1], 'rb') as f:
    values = plistlib.load(f)
date = values.get('Last Launch Date')
print('absent' if date is None else date.replace(tzinfo=datetime.timezone.utc).timestamp())
)";

class HelperProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = directory.path() / "root";
        home = directory.path() / "home";
        fs::create_directories(home / "Library" / "Preferences");
        fs::create_directories(home / "Desktop");
        fs::create_directories(root / "Applications");
        fs::copy(QUAYMARK_APP_DIR, root / "Applications" / "Quaymark.app",
                 fs::copy_options::recursive);
        // The main program records how it was started.
        fs::path mainProgram =
            root / "Applications" / "Quaymark.app" / "Contents" / "MacOS" / "Quaymark";
        fs::remove(mainProgram);
        writeFile(mainProgram,
                  "#!/bin/sh\nprintf 'checkUpdates=%s\\n' \"${checkUpdates-unset}\" >> "
                  "\"$QUAYMARK_TEST_RECORD\"\n");
        fs::permissions(mainProgram, fs::perms::owner_all);
        record = directory.path() / "launches.txt";
        preferences = home / "Library" / "Preferences" / "com.brindlewood.Quaymark.plist";
    }

    void installTerminal() {
        writeFile(root / "Applications" / "Utilities" / "Terminal.app" / "Contents" / "Info.plist",
                  R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>com.apple.Terminal</string>
<key>CFBundleExecutable</key><string>Terminal</string>
</dict></plist>
)");
    }

    ProcessResult runHelper() {
        fs::path helper = root / "Applications" / "Quaymark.app" / "Contents" / "MacOS" /
                          "QuaymarkHelper.app" / "Contents" / "MacOS" / "QuaymarkHelper";
        return testing::runProcess({helper.string()}, {{"HOME", home.string()},
                                                       {"QUAYMARK_SYSTEM_ROOT", root.string()},
                                                       {"QUAYMARK_TEST_RECORD", record.string()},
                                                       {"PATH", "/usr/bin:/bin"}});
    }

    std::string lastLaunchDate() {
        ProcessResult read = runPython(kReadLastLaunch, {preferences.string()});
        EXPECT_EQ(read.exitStatus, 0) << read.output;
        return read.output.substr(0, read.output.find('\n'));
    }

    testing::TemporaryDirectory directory;
    fs::path root, home, record, preferences;
};

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(HelperProgramTest, TerminalNotInstalledOpensSettingsAndKeepsLastLaunchDate) {
    installTerminal();
    ASSERT_EQ(runPython(kWritePreferences, {preferences.string(), "iterm"}).exitStatus, 0);
    std::string before = lastLaunchDate();

    ProcessResult run = runHelper();

    ASSERT_EQ(run.exitStatus, 0) << run.output;
    ASSERT_TRUE(
        testing::waitUntil([&] { return fs::exists(record) && !readFile(record).empty(); }));
    EXPECT_EQ(readFile(record), "checkUpdates=unset\n");
    EXPECT_EQ(lastLaunchDate(), before);
}

TEST_F(HelperProgramTest, EmptyDomainOpensTerminalAndStartsTheUpdateCheck) {
    installTerminal();
    double started = unixNow();

    ProcessResult run = runHelper();
    double ended = unixNow();

    ASSERT_EQ(run.exitStatus, 0) << run.output;
    ASSERT_TRUE(
        testing::waitUntil([&] { return fs::exists(record) && !readFile(record).empty(); }));
    EXPECT_EQ(readFile(record), "checkUpdates=checkUpdates\n");
    std::string stored = lastLaunchDate();
    ASSERT_NE(stored, "absent");
    double when = std::stod(stored);
    // Property-list dates keep whole seconds at least.
    EXPECT_GE(when, started - 1.0);
    EXPECT_LE(when, ended + 1.0);
}

}  // namespace
}  // namespace quaymark
