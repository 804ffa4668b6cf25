// The built Quaymark's --version and check-for-updates, as people run them from a shell.
#include <gtest/gtest.h>

#include "Desktop.h"
#include "HostTestSupport.h"
#include "Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

TEST(UpdateCommandsTest, EachAnswersInOneLineWithItsStatusAndFailuresGoToStandardErrorOnce) {
    testing::TemporaryDirectory directory;
    const fs::path folder = directory.path();
    for (const std::string version : {"1.0", "1.1"})
        testing::writeFile(folder / (version + ".xml"),
                           "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
                           "sparkle\"><channel><item><sparkle:version>" +
                               version +
                               "</sparkle:version><enclosure url=\"http://127.0.0.1:9/a.zip\" "
                               "length=\"1\"/></item></channel></rss>");
    const std::string feed = "file://" + folder.string() + "/";
    ASSERT_EQ(copyApplication(QUAYMARK_APP_DIR, (folder / "Quaymark.app").string(),
                              {{"CFBundleVersion", "1.0"},
                               {"CFBundleShortVersionString", "1.0 beta"},
                               {"SUFeedURL", feed + "1.1.xml"}}),
              std::nullopt);
    fs::create_directories(folder / "run");
    fs::permissions(folder / "run", fs::perms::owner_all);
    const std::string usage = "usage: Quaymark check-for-updates [--feed URL]\n";
    const std::string unloaded = "The update feed could not be loaded: ";

    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string output;
        std::string errorBegins;  // of the one line on standard error, if any
    } cases[] = {
        {{"--version"}, 0, "Quaymark 1.0 beta (1.0)\n", ""},
        {{"check-for-updates"}, 0, "Quaymark 1.1 is available (this is 1.0 beta).\n", ""},
        {{"check-for-updates", "--feed", feed + "1.0.xml"},
         0,
         "Quaymark 1.0 beta is up to date.\n",
         ""},
        {{"check-for-updates", "--feed", "http://127.0.0.1:1/appcast.xml"}, 1, "", unloaded},
        {{"check-for-updates", "--feed", feed + "none.xml"}, 1, "", unloaded},
        {{"check-for-updates", "--feed"}, 2, "", usage},
        {{"check-for-updates", "now"}, 2, "", usage},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.arguments.back());
        const ProcessOutcome outcome =
            runAndCollect({.executable = (folder / "Quaymark.app/Contents/MacOS/Quaymark").string(),
                           .arguments = each.arguments,
                           .environment = {{"HOME", folder.string()},
                                           {"XDG_RUNTIME_DIR", (folder / "run").string()},
                                           {"QUAYMARK_SYSTEM_ROOT", (folder / "root").string()}},
                           .capture = Capture::Both},
                          std::chrono::seconds(60));
        EXPECT_EQ(outcome.exitStatus, each.status);
        EXPECT_EQ(outcome.output, each.output);
        EXPECT_TRUE(outcome.errorOutput.starts_with(each.errorBegins)) << outcome.errorOutput;
        EXPECT_EQ(std::count(outcome.errorOutput.begin(), outcome.errorOutput.end(), '\n'),
                  each.errorBegins.empty() ? 0 : 1)
            << outcome.errorOutput;
    }
}

}  // namespace
}  // namespace quaymark
