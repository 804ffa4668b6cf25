// The small host services: atomic files, starting and ending processes, the log,
// reachability.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "HostSystem.h"
#include "HostTestSupport.h"
#include "launch/ApplicationRegistry.h"
#include "network/HostReachability.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(AtomicFileTest, ReplacesWholeWithTheModeAskedAndLeavesNothingBeside) {
    testing::TemporaryDirectory directory;
    std::string path = (directory.path() / "state").string();
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    ASSERT_TRUE(writeFileAtomically(path, "second", {.mode = 0644}));
    EXPECT_EQ(testing::readFile(path), "second");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
    // A folder that is not there: a failure, and no temporary file anywhere.
    EXPECT_FALSE(writeFileAtomically((directory.path() / "missing" / "state").string(), "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);
}

TEST(SpawnTest, CapturedStreamsAndDescriptorThreeReachTheirPipes) {
    std::optional<Pipe> extra = makePipe();
    ASSERT_TRUE(extra);
    Result<ProcessOutcome> ran =
        runAndCollect({.executable = "/bin/sh",
                       .arguments = {"-c", "echo out; echo err >&2; echo three >&3; exit 3"},
                       .capture = Capture::Both,
                       .descriptor3 = extra->writeEnd.get()},
                      10s);
    extra->writeEnd.close();
    ASSERT_TRUE(ran) << ran.error();
    std::string three;
    EXPECT_TRUE(readAll(extra->readEnd.get(), three) && ran->exitStatus == 3);
    EXPECT_EQ(ran->output + ran->errorOutput + three, "out\nerr\nthree\n");
    ran = runAndCollect(
        {.executable = "/bin/sleep", .arguments = {"10"}, .capture = Capture::StandardOutput},
        200ms);
    EXPECT_TRUE(ran && ran->timedOut);
    EXPECT_EQ(spawnProcess({.executable = "/no/such/program"}).error(),
              "/no/such/program: No such file or directory");
}

// Whether the process ignores SIGTERM, as /proc shows.
bool ignoresSigterm(int pid) {
    const std::string status = testing::readFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("SigIgn:");
    return at != std::string::npos &&
           (std::stoull(status.substr(at + 7, 17), nullptr, 16) >> (SIGTERM - 1) & 1);
}

TEST(EndProcessTest, EndsAProcessThatIgnoresSigtermWithSigkill) {
    for (const char* script : {"exec sleep 30", "trap '' TERM; while :; do sleep 0.05; done"}) {
        // Detached, as the applications of a desktop are: no child of ours to reap.
        Result<StartedProcess> started = spawnProcess({.executable = "/bin/sh",
                                                       .arguments = {"-c", script},
                                                       .standardOutput = TaskStream::Discard,
                                                       .standardError = TaskStream::Discard,
                                                       .detached = true});
        ASSERT_TRUE(started) << started.error();
        // Signalled once the shell has set its trap.
        if (std::string_view(script).starts_with("trap")) {
            ASSERT_TRUE(testing::waitUntil([&] { return ignoresSigterm(started->pid); }));
        }
        auto before = std::chrono::steady_clock::now();
        EXPECT_TRUE(endProcess(started->pid, 300ms)) << script;
        EXPECT_FALSE(processStartTime(started->pid));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    }
}

TEST(StderrLogTest, EveryMessageIsOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain /path", "plain /path"},
        {"two\nlines\r\n", "two\\nlines\\r\\n"},
        {"tab\tbell\a\x1b[31mdel\x7f", "tab\\tbell\\x07\\x1b[31mdel\\x7f"},
        {"caf\xc3\xa9 \\n", "caf\xc3\xa9 \\n"},
    };
    testing::TemporaryDirectory directory;
    FileDescriptor file = openFile((directory.path() / "log").string(), O_RDWR | O_CREAT, 0600);
    StderrLog log("Name\nForged", file.get());
    for (const auto& [message, _] : cases)
        log.log(message);
    std::istringstream lines(testing::readFile(directory.path() / "log"));
    std::string prefix = "Name\\nForged[" + std::to_string(getpid()) + "] ";
    for (const auto& [message, written] : cases) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.substr(24), prefix + written) << line;
    }
    EXPECT_TRUE(lines.peek() == EOF);
}

TEST(HostReachabilityTest, AnswersFromTheMachineUnlessTheDesktopSetTheFlags) {
    using namespace reachability_flag;
    testing::TemporaryDirectory directory;
    SystemRoot root(directory.path().string());
    HostReachability reachability(root);
    // Names that resolve without asking a name server, and names no host can have.
    const std::pair<std::string, std::optional<std::uint32_t>> rows[] = {
        {"127.0.0.1", kReachable}, {"localhost", kReachable},
        {"", std::nullopt},        {"two words", std::nullopt},
        {"a/b", std::nullopt},     {std::string(254, 'a'), std::nullopt},
    };
    for (const auto& [name, flags] : rows)
        EXPECT_EQ(reachability.flagsForHostName(name), flags) << name;

    // The desktop's setting wins over what the machine knows, for that name only, until
    // it is taken back.
    ASSERT_TRUE(
        HostReachability::setFlagsForHostName(root, "127.0.0.1", kReachable | kConnectionRequired));
    ASSERT_TRUE(HostReachability::setFlagsForHostName(root, "feed.example", kTransientConnection));
    EXPECT_EQ(reachability.flagsForHostName("127.0.0.1"), kReachable | kConnectionRequired);
    EXPECT_EQ(reachability.flagsForHostName("feed.example"), kTransientConnection);
    EXPECT_EQ(reachability.flagsForHostName("localhost"), kReachable);
    ASSERT_TRUE(HostReachability::setFlagsForHostName(root, "127.0.0.1", std::nullopt));
    EXPECT_EQ(reachability.flagsForHostName("127.0.0.1"), kReachable);
    EXPECT_EQ(reachability.flagsForHostName("feed.example"), kTransientConnection);
}

}  // namespace
}  // namespace quaymark
