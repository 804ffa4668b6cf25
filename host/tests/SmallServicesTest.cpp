// The small host services: atomic file replacement, ending processes, the run loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "ApplicationRegistry.h"
#include "AtomicFile.h"
#include "HostSystem.h"
#include "HostTestSupport.h"
#include "Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(AtomicFileTest, ReplacesWholeAndLeavesNothingBeside) {
    testing::TemporaryDirectory directory;
    std::string path = (directory.path() / "state").string();
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    ASSERT_TRUE(writeFileAtomically(path, "second, longer"));
    EXPECT_EQ(testing::readFile(path), "second, longer");
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    // A folder that is not there: a failure, and no temporary file anywhere.
    EXPECT_FALSE(writeFileAtomically((directory.path() / "missing" / "state").string(), "x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);
}

TEST(EndProcessTest, EndsAProcessThatIgnoresSigtermWithSigkill) {
    struct Case {
        const char* name;
        const char* script;
    };
    const Case cases[] = {
        {"ends on SIGTERM", "exec sleep 30"},
        {"ignores SIGTERM", "trap '' TERM; while :; do sleep 0.05; done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SpawnRequest request;
        request.executable = "/bin/sh";
        request.arguments = {"-c", c.script};
        // Detached, as the applications of a desktop are: no child of ours to reap.
        request.detached = true;
        // Nothing of it may hold the test runner's output open after it has ended.
        request.standardOutput = TaskStream::Discard;
        request.standardError = TaskStream::Discard;
        SpawnResult started = spawnProcess(request);
        ASSERT_TRUE(started) << started.error;
        // Let the shell set its trap before it is signalled.
        std::this_thread::sleep_for(100ms);
        auto before = std::chrono::steady_clock::now();
        EXPECT_TRUE(endProcess(started.pid, 300ms));
        EXPECT_FALSE(processStartTime(started.pid));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    }
}

TEST(BasicRunLoopTest, RunsPostedWorkAndReturnsAfterItsSliceOrWhenStopped) {
    BasicRunLoop loop;
    std::atomic<int> done = 0;
    auto before = std::chrono::steady_clock::now();
    // Work posted from another thread wakes the loop during its slice.
    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        loop.post([&] { ++done; });
    });
    loop.runFor(200ms);
    poster.join();
    auto slice = std::chrono::steady_clock::now() - before;
    EXPECT_EQ(done, 1);
    EXPECT_GE(slice, 200ms);
    EXPECT_LT(slice, 2s);

    RunLoopApplication application(loop);
    int status = application.run([&] {
        loop.post([&] {
            ++done;
            application.terminate();
        });
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(done, 2);
}

}  // namespace
}  // namespace quaymark
