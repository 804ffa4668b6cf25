// scripts/make-release on a small bundle: its feed and linked notes verify with the checks a
// bundle that requires signed feeds applies, and the packed copy carries that requirement.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "AppcastReader.h"
#include "ArchiveUnpacker.h"
#include "FeedSignature.h"
#include "HostTestSupport.h"
#include "UpdateArchives.h"
#include "plist/PlistCodec.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

struct Made {
    int status = -1;
    std::string output;
    std::string publicKey;
};

Made makeRelease(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {QUAYMARK_MAKE_RELEASE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const testing::ProcessResult done = testing::runProcess(
        argv, {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}}, std::chrono::seconds(60));
    Made made{done.exitStatus, done.output, {}};
    const std::string label = "public key: ";
    const std::size_t printed = done.output.rfind(label);
    if (printed != std::string::npos) {
        const std::size_t start = printed + label.size();
        made.publicKey = done.output.substr(start, done.output.find('\n', start) - start);
    }
    return made;
}

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The information dictionary of the bundle packed in `archive`.
std::optional<PlistValue> packedInfo(const fs::path& archive, const fs::path& folder) {
    fs::create_directories(folder);
    if (!unpackArchive(archive.string(), folder.string(), "Q.app"))
        return std::nullopt;
    std::optional<DecodedPlist> info =
        readPlistFile((folder / "Q.app/Contents/Info.plist").string());
    return info ? std::optional<PlistValue>(info->value) : std::nullopt;
}

// What readelf shows of an ELF file: its section headers and notes (the build ID).
std::string elf(const fs::path& file) {
    return testing::runProcess({"/usr/bin/readelf", "-S", "-n", "--wide", file.string()}, {})
        .output;
}

std::string buildId(const fs::path& file) {
    const std::string shown = elf(file);
    const std::size_t at = shown.find("Build ID: ");
    return at == std::string::npos ? "" : shown.substr(at, shown.find('\n', at) - at);
}

class MakeReleaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/python3", "/usr/bin/openssl", "/usr/bin/objcopy"})
            if (access(tool, X_OK) != 0)
                GTEST_SKIP() << tool << " is missing";
        write(app / "Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>com.brindlewood.Quaymark</string>"
              "<key>CFBundleVersion</key><string>1.0</string></dict></plist>\n");
        write(app / "Contents/MacOS/Q", "#!/bin/sh\n");
        // A program built with its debug information, and one split as the build splits the
        // button program's, into Q.app.debug beside the bundle.
        fs::copy_file(QUAYMARK_DEBUGGED_PROGRAM, app / "Contents/MacOS/Program");
        const fs::path split = app / "Contents/MacOS/QuaymarkHelper";
        const fs::path splitDebug =
            directory.path() / "Q.app.debug/Contents/MacOS/QuaymarkHelper.debug";
        fs::create_directories(splitDebug.parent_path());
        fs::copy_file(QUAYMARK_DEBUGGED_PROGRAM, split);
        for (std::vector<std::string> objcopy :
             {std::vector<std::string>{"--only-keep-debug", split, splitDebug},
              {"--strip-debug", "--add-gnu-debuglink=" + splitDebug.string(), split}}) {
            objcopy.insert(objcopy.begin(), "/usr/bin/objcopy");
            ASSERT_EQ(testing::runProcess(objcopy, {}).exitStatus, 0);
        }
        write(directory.path() / "notes.html", "<html><body><h1>What is new</h1></body></html>\n");
    }

    // The arguments of a release of `version` into `feed`, followed by `more`.
    std::vector<std::string> release(const std::string& version,
                                     std::vector<std::string> more) const {
        std::vector<std::string> arguments = {
            "--version", version,       "--app", app.string(),
            "--feed",    feed.string(), "--url", "http://127.0.0.1:9/"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    testing::TemporaryDirectory directory;
    fs::path app = directory.path() / "Q.app";
    fs::path feed = directory.path() / "feed";
};

TEST_F(MakeReleaseTest, SignsTheFeedAndTheLinkedNotesAsABundleThatRequiresSigningChecksThem) {
    const fs::path keys = directory.path() / "keys";
    const Made made = makeRelease(
        release("1.1", {"--new-key", keys.string(), "--notes-file",
                        (directory.path() / "notes.html").string(), "--require-signed-feed"}));
    ASSERT_EQ(made.status, 0) << made.output;
    ASSERT_FALSE(made.publicKey.empty()) << made.output;

    const std::string published = testing::readFile((feed / "appcast.xml").string());
    const Result<std::string> content = verifiedFeedContent(published, made.publicKey);
    ASSERT_TRUE(content) << content.error() << "\n" << published;
    const Result<SUAppcast> appcast = readAppcast(QByteArray::fromStdString(content.value()));
    ASSERT_TRUE(appcast) << appcast.error();
    ASSERT_EQ(appcast.value().items.size(), 1u);
    const SUAppcastItem& item = appcast.value().items[0];
    EXPECT_EQ(item.releaseNotesURL, "http://127.0.0.1:9/Q-1.1.html");
    const std::string notes = testing::readFile((feed / "Q-1.1.html").string());
    EXPECT_NE(notes.find("<h1>What is new</h1>"), std::string::npos);
    EXPECT_EQ(checkReleaseNotes(notes, item.releaseNotesSignature, made.publicKey).error(), "");
    std::optional<PlistValue> info = packedInfo(feed / "Q-1.1.zip", directory.path() / "1.1");
    ASSERT_TRUE(info && info->asDictionary());
    const PlistValue* required = info->asDictionary()->find("SURequireSignedFeed");
    EXPECT_TRUE(required && required->asBoolean() == true);

    // The programs ship without their debug information, which lies beside the archive at
    // their paths, and matches them.
    const fs::path debug = directory.path() / "debug";
    ASSERT_EQ(
        unpackArchive((feed / "Q-1.1.debug.tar.xz").string(), debug.string(), "Q.app").error(), "");
    for (const char* name : {"Program", "QuaymarkHelper"}) {
        SCOPED_TRACE(name);
        const fs::path shipped = directory.path() / "1.1/Q.app/Contents/MacOS" / name;
        const fs::path kept = debug / "Q.app/Contents/MacOS" / (name + std::string(".debug"));
        EXPECT_EQ(elf(shipped).find(".debug_info"), std::string::npos);
        EXPECT_NE(elf(shipped).find(".gnu_debuglink"), std::string::npos);
        EXPECT_NE(elf(kept).find(".debug_info"), std::string::npos);
        EXPECT_EQ(buildId(kept), buildId(QUAYMARK_DEBUGGED_PROGRAM));
        EXPECT_EQ(buildId(shipped), buildId(kept));
    }
    EXPECT_LT(fs::file_size(directory.path() / "1.1/Q.app/Contents/MacOS/Program"),
              fs::file_size(app / "Contents/MacOS/Program"));

    // A later release with the same key re-signs the whole feed, which keeps both items and
    // the earlier notes' signature; without the option its copy sets no requirement.
    const std::string key = (keys / "quaymark-ed25519.pem").string();
    const Made again = makeRelease(release("1.2", {"--key", key, "--notes", "<p>Inline</p>"}));
    ASSERT_EQ(again.status, 0) << again.output;
    const std::string republished = testing::readFile((feed / "appcast.xml").string());
    const Result<std::string> recontent = verifiedFeedContent(republished, made.publicKey);
    ASSERT_TRUE(recontent) << recontent.error() << "\n" << republished;
    EXPECT_EQ(republished.find("<!-- sparkle-signatures:"),
              republished.rfind("<!-- sparkle-signatures:"))
        << "the earlier signing block was kept";
    const Result<SUAppcast> both = readAppcast(QByteArray::fromStdString(recontent.value()));
    ASSERT_TRUE(both && both.value().items.size() == 2u);
    EXPECT_EQ(both.value().items[0].itemDescription, "<p>Inline</p>");
    EXPECT_EQ(checkReleaseNotes(notes, both.value().items[1].releaseNotesSignature, made.publicKey)
                  .error(),
              "");
    info = packedInfo(feed / "Q-1.2.zip", directory.path() / "1.2");
    ASSERT_TRUE(info && info->asDictionary());
    EXPECT_EQ(info->asDictionary()->find("SURequireSignedFeed"), nullptr);

    // A feed another key signed last no longer verifies with the first key.
    const Made other = makeRelease({"--new-key", (directory.path() / "other").string()});
    ASSERT_EQ(other.status, 0) << other.output;
    ASSERT_EQ(
        makeRelease(
            release("1.2", {"--key", (directory.path() / "other/quaymark-ed25519.pem").string()}))
            .status,
        0);
    EXPECT_FALSE(
        verifiedFeedContent(testing::readFile((feed / "appcast.xml").string()), made.publicKey));
}

TEST_F(MakeReleaseTest, RefusesNotesGivenBothInTheFeedAndAsAFile) {
    const Made made = makeRelease({"--new-key", (directory.path() / "keys").string()});
    ASSERT_EQ(made.status, 0) << made.output;
    const Made refused = makeRelease(release(
        "1.1", {"--key", (directory.path() / "keys/quaymark-ed25519.pem").string(), "--notes",
                "<p>x</p>", "--notes-file", (directory.path() / "notes.html").string()}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("--notes-file"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(feed / "appcast.xml"));

    // Nor is a program released whose debug information the build did not leave.
    fs::remove_all(directory.path() / "Q.app.debug");
    const Made undebuggable = makeRelease(
        release("1.1", {"--key", (directory.path() / "keys/quaymark-ed25519.pem").string()}));
    EXPECT_EQ(undebuggable.status, 1);
    EXPECT_NE(undebuggable.output.find("QuaymarkHelper.debug"), std::string::npos)
        << undebuggable.output;
    EXPECT_FALSE(fs::exists(feed / "Q-1.1.zip"));
}

}  // namespace
}  // namespace quaymark
