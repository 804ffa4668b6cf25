// The release commands as people run them: the built Quaymark's --version and
// check-for-updates, and scripts/make-release, read back with the update library's own
// feed reader, signature check and unpacker.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <filesystem>

#include "AppcastReader.h"
#include "ArchiveUnpacker.h"
#include "Desktop.h"
#include "HostTestSupport.h"
#include "PlistCodec.h"
#include "Signature.h"
#include "Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::string appcastWith(const std::string& version) {
    return "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
           "sparkle\"><channel><item><sparkle:version>" +
           version + "</sparkle:version><enclosure url=\"http://127.0.0.1:9/Quaymark-" + version +
           ".zip\" length=\"10\" type=\"application/zip\" sparkle:edSignature=\"x\"/>"
           "</item></channel></rss>";
}

ProcessOutcome run(const std::string& program, const std::vector<std::string>& arguments,
                   const Environment& environment) {
    return runAndCollect({.executable = program,
                          .arguments = arguments,
                          .environment = environment,
                          .capture = Capture::Both},
                         seconds(60));
}

TEST(UpdateCommandsTest, VersionAndCheckForUpdatesAnswerInOneLineWithTheirStatus) {
    testing::TemporaryDirectory directory;
    const fs::path folder = directory.path();
    const std::string program = (folder / "Quaymark.app/Contents/MacOS/Quaymark").string();
    testing::writeFile(folder / "newer.xml", appcastWith("1.1"));
    testing::writeFile(folder / "current.xml", appcastWith("1.0"));
    ASSERT_EQ(copyApplication(QUAYMARK_APP_DIR, (folder / "Quaymark.app").string(),
                              {{"CFBundleVersion", "1.0"},
                               {"CFBundleShortVersionString", "1.0"},
                               {"SUFeedURL", "file://" + (folder / "newer.xml").string()}}),
              std::nullopt);
    fs::create_directories(folder / "home");
    fs::create_directories(folder / "run");
    fs::permissions(folder / "run", fs::perms::owner_all);
    const Environment environment{{"HOME", (folder / "home").string()},
                                  {"XDG_RUNTIME_DIR", (folder / "run").string()},
                                  {"QUAYMARK_SYSTEM_ROOT", (folder / "root").string()},
                                  {"PATH", "/usr/bin:/bin"},
                                  {"LANG", "C.UTF-8"}};
    const std::string usage = "usage: Quaymark check-for-updates [--feed URL]\n";
    const std::string unloaded = "The update feed could not be loaded: ";

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int status;
        std::string output;
        // The one line on standard error begins so; nothing there when empty.
        std::string error;
    };
    const Case cases[] = {
        {"version", {"--version"}, 0, "Quaymark 1.0\n", ""},
        {"the bundle's feed",
         {"check-for-updates"},
         0,
         "Quaymark 1.1 is available (this is 1.0).\n",
         ""},
        {"a feed whose newest is this one",
         {"check-for-updates", "--feed", "file://" + (folder / "current.xml").string()},
         0,
         "Quaymark 1.0 is up to date.\n",
         ""},
        {"an unreachable feed",
         {"check-for-updates", "--feed", "http://127.0.0.1:1/appcast.xml"},
         1,
         "",
         unloaded},
        {"a missing feed",
         {"check-for-updates", "--feed", "file://" + (folder / "none.xml").string()},
         1,
         "",
         unloaded},
        {"--feed without an address", {"check-for-updates", "--feed"}, 2, "", usage},
        {"a word too many", {"check-for-updates", "now"}, 2, "", usage},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        const ProcessOutcome outcome = run(program, each.arguments, environment);
        EXPECT_EQ(outcome.exitStatus, each.status) << outcome.errorOutput;
        EXPECT_EQ(outcome.output, each.output);
        if (each.error.empty()) {
            EXPECT_EQ(outcome.errorOutput, "");
        } else {
            EXPECT_TRUE(outcome.errorOutput.starts_with(each.error)) << outcome.errorOutput;
            EXPECT_EQ(std::count(outcome.errorOutput.begin(), outcome.errorOutput.end(), '\n'), 1)
                << outcome.errorOutput;
        }
    }
}

class MakeReleaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl"})
            if (access(tool, X_OK) != 0)
                GTEST_SKIP() << tool << " is missing (Debian packages python3, openssl)";
        // A small bundle, so that packing it takes no time; the tool checks no executables.
        fs::create_directories(app / "Contents/MacOS");
        testing::writeFile(
            app / "Contents/Info.plist",
            encodePlist(PlistDictionary{{"CFBundleIdentifier", "com.brindlewood.Quaymark"},
                                        {"CFBundleVersion", "1.0"}},
                        PlistFormat::Xml));
        testing::writeFile(app / "Contents/MacOS/Quaymark", "#!/bin/sh\necho 1.0\n");
        fs::permissions(app / "Contents/MacOS/Quaymark", fs::perms(0755));
    }

    ProcessOutcome makeRelease(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), QUAYMARK_MAKE_RELEASE);
        return run("/usr/bin/python3", arguments, {{"PATH", "/usr/bin:/bin"}});
    }
    std::vector<std::string> release(const std::string& version) const {
        return {"--version", version,       "--app", app.string(),
                "--feed",    feed.string(), "--url", "http://127.0.0.1:9/releases"};
    }
    std::vector<std::string> withKey(std::vector<std::string> arguments) const {
        arguments.insert(arguments.end(), {"--key", (keys / "quaymark-ed25519.pem").string()});
        return arguments;
    }

    testing::TemporaryDirectory directory;
    fs::path app = directory.path() / "Quaymark.app";
    fs::path feed = directory.path() / "feed";
    fs::path keys = directory.path() / "keys";
};

TEST_F(MakeReleaseTest, EachVersionHasOneItemWhoseArchiveIsSignedAndStampedWithIt) {
    std::vector<std::string> first = release("1.1");
    first.insert(first.end(), {"--new-key", keys.string()});
    const ProcessOutcome made = makeRelease(first);
    ASSERT_EQ(made.exitStatus, 0) << made.output << made.errorOutput;
    const std::size_t printed = made.output.rfind("public key: ");
    ASSERT_NE(printed, std::string::npos) << made.output;
    const std::string publicKey = made.output.substr(printed + 12, 44);
    std::vector<std::string> second = withKey(release("1.2"));
    second.insert(second.end(), {"--short-version", "1.2 beta", "--format", "tar.xz"});
    std::vector<std::string> again = withKey(release("1.1"));
    again.insert(again.end(), {"--notes", "<p>Again</p>"});
    for (const auto& arguments : {second, again}) {
        const ProcessOutcome outcome = makeRelease(arguments);
        ASSERT_EQ(outcome.exitStatus, 0) << outcome.output << outcome.errorOutput;
    }

    const std::string text = testing::readFile(feed / "appcast.xml");
    Result<SUAppcast> appcast = readAppcast(QByteArray::fromStdString(text));
    ASSERT_TRUE(appcast) << appcast.error();
    // The newest leads; the one made again keeps its place and has only its new notes.
    ASSERT_EQ(appcast.value().items.size(), 2u) << text;
    const std::vector<std::pair<std::string, std::string>> expected = {{"1.2", "1.2 beta"},
                                                                       {"1.1", "1.1"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const SUAppcastItem& item = appcast.value().items[i];
        SCOPED_TRACE(item.version);
        EXPECT_EQ(item.version, expected[i].first);
        EXPECT_EQ(item.displayVersion, expected[i].second);
        const std::string name = i == 0 ? "Quaymark-1.2.tar.xz" : "Quaymark-1.1.zip";
        EXPECT_EQ(item.enclosureURL, "http://127.0.0.1:9/releases/" + name);
        const std::string archive = testing::readFile(feed / name);
        EXPECT_EQ(item.enclosureLength, archive.size());
        EXPECT_EQ(signatureRefusal(archive, item.edSignature, publicKey), std::nullopt);
        const fs::path unpacked = directory.path() / ("unpacked-" + item.version);
        fs::create_directories(unpacked);
        ASSERT_EQ(unpackArchive((feed / name).string(), unpacked.string(), "Quaymark.app"),
                  std::nullopt);
        const std::optional<DecodedPlist> info =
            readPlistFile((unpacked / "Quaymark.app/Contents/Info.plist").string());
        ASSERT_TRUE(info && info->value.asDictionary());
        EXPECT_EQ(*info->value.asDictionary()->find("CFBundleVersion"), PlistValue(item.version));
        EXPECT_EQ(*info->value.asDictionary()->find("CFBundleShortVersionString"),
                  PlistValue(item.displayVersion));
        struct stat status {};
        ASSERT_EQ(stat((unpacked / "Quaymark.app/Contents/MacOS/Quaymark").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0755u);
    }
    EXPECT_EQ(appcast.value().items[1].itemDescription, "<p>Again</p>");
    // Only the packed copies were stamped.
    EXPECT_NE(testing::readFile(app / "Contents/Info.plist").find("<string>1.0</string>"),
              std::string::npos);
}

TEST_F(MakeReleaseTest, BadRequestsAreRefusedInOneLineAndLeaveKeysAndFeedAlone) {
    std::vector<std::string> first = {"--new-key", keys.string()};
    ASSERT_EQ(makeRelease(first).exitStatus, 0);
    const std::string privateKey = testing::readFile(keys / "quaymark-ed25519.pem");
    fs::create_directories(feed);

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int status;
        std::string error;
    };
    std::vector<std::string> blankVersion = withKey(release("1 1"));
    std::vector<std::string> noBundle = withKey(release("1.1"));
    noBundle[3] = feed.string();
    std::vector<std::string> twoKeys = withKey(release("1.1"));
    twoKeys.insert(twoKeys.end(), {"--new-key", (directory.path() / "more").string()});
    std::vector<std::string> publicAsPrivate = release("1.1");
    publicAsPrivate.insert(publicAsPrivate.end(),
                           {"--key", (keys / "quaymark-ed25519.pub").string()});
    const Case cases[] = {
        {"a key made again", first, 1, "exists already; it is not overwritten"},
        {"a version with a blank", blankVersion, 2, "is not a version"},
        {"a folder that is no bundle", noBundle, 1, "is no application bundle"},
        {"two keys", twoKeys, 2, "exactly one of --key KEY and --new-key FOLDER"},
        {"a public key to sign with", publicAsPrivate, 1, "openssl pkey failed"},
        {"no address",
         {"--version", "1.1", "--feed", feed.string(), "--new-key", keys.string()},
         2,
         "--url is needed"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        const ProcessOutcome outcome = makeRelease(each.arguments);
        EXPECT_EQ(outcome.exitStatus, each.status);
        const std::string lastLine = outcome.errorOutput.substr(
            outcome.errorOutput.rfind('\n', outcome.errorOutput.size() - 2) + 1);
        EXPECT_NE(lastLine.find(each.error), std::string::npos) << outcome.errorOutput;
    }
    EXPECT_EQ(testing::readFile(keys / "quaymark-ed25519.pem"), privateKey);
    EXPECT_TRUE(fs::is_empty(feed));
    EXPECT_FALSE(fs::exists(directory.path() / "more"));
}

}  // namespace
}  // namespace quaymark
