// Preference files shared between processes: merging, locking, kills, files we cannot read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "HostTestSupport.h"
#include "ManualSystem.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"
#include "preferences/FilePreferences.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kDomain = "com.example.shared";
const std::string kOwnDomain = "com.example.own";
const std::string kWriter = QUAYMARK_PREFERENCE_WRITER;

class FilePreferencesTest : public ::testing::Test {
protected:
    fs::path folder() const { return directory.path() / "Library" / "Preferences"; }
    fs::path file(const std::string& domain = kDomain) const {
        return folder() / (domain + ".plist");
    }
    PlistValue stored(const std::string& domain = kDomain, PlistFormat format = PlistFormat::Xml) {
        std::optional<DecodedPlist> decoded = readPlistFile(file(domain).string());
        EXPECT_TRUE(decoded && decoded->format == format) << file(domain);
        return decoded ? decoded->value : PlistValue();
    }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TemporaryDirectory directory;
    CallLog calls;
    RecordingLog log{calls};
    FilePreferences ours =
        FilePreferences::forHome(directory.path().string(), log, {.ownDomain = kOwnDomain});
    // What another process sees and does: its own pending changes, its own locks.
    FilePreferences theirs{folder().string(), log};
};

TEST_F(FilePreferencesTest, ChangesMergeKeyByKeyKeepingFormatAndModeAndRefusingWhatNoFileHolds) {
    testing::writeFile(
        file(), encodePlist(PlistDictionary{{"one", "1"}, {"two", "2"}}, PlistFormat::Binary));
    fs::permissions(file(), fs::perms(0640));
    ours.setAppValue("one", PlistValue("10"), kDomain);
    ours.setAppValue("two", std::nullopt, kDomain);
    ours.setAppValue("nul", PlistValue("invalid UTF-8 \xff"), kDomain);
    EXPECT_EQ(ours.copyAppValue("one", kDomain), PlistValue("10"));
    EXPECT_EQ(theirs.copyAppValue("one", kDomain), PlistValue("1"));
    theirs.setAppValue("theirs", PlistValue::boolean(true), kDomain);
    ASSERT_EQ(theirs.synchronize(kDomain), std::nullopt);
    ASSERT_EQ(ours.synchronize(kDomain), std::nullopt);
    EXPECT_EQ(theirs.copyAppValue("one", kDomain), PlistValue("10"));
    EXPECT_EQ(stored(kDomain, PlistFormat::Binary).description(),
              PlistValue(PlistDictionary{{"one", "10"}, {"theirs", PlistValue::boolean(true)}})
                  .description());
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0640));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("Preferences: not setting nul in " + kDomain));

    // A new file is XML unless it holds what XML cannot carry.
    ours.setAppValue("bell", PlistValue("ring"), "com.example.xml");
    ours.setAppValue("bell", PlistValue("ring\a"), "com.example.binary");
    ASSERT_EQ(ours.synchronize("com.example.xml"), std::nullopt);
    ASSERT_EQ(ours.synchronize("com.example.binary"), std::nullopt);
    EXPECT_EQ(stored("com.example.xml"), PlistValue(PlistDictionary{{"bell", "ring"}}));
    EXPECT_EQ(stored("com.example.binary", PlistFormat::Binary),
              PlistValue(PlistDictionary{{"bell", "ring\a"}}));
}

TEST_F(FilePreferencesTest, AFileChangedInPlaceOrReplacedIsReadAfresh) {
    auto place = [&](const std::string& text, bool inPlace) {
        std::string bytes = encodePlist(PlistDictionary{{"key", text}}, PlistFormat::Xml);
        if (inPlace) {
            std::ofstream(file(), std::ios::binary | std::ios::in | std::ios::trunc) << bytes;
        } else {
            ASSERT_TRUE(writeFileAtomically(file().string(), bytes));
        }
    };
    fs::create_directories(folder());
    place("first", false);
    EXPECT_EQ(ours.copyAppValue("key", kDomain), PlistValue("first"));
    place("second, longer", true);
    EXPECT_EQ(ours.copyAppValue("key", kDomain), PlistValue("second, longer"));
    place("third", false);
    EXPECT_EQ(ours.readFailure(kDomain), std::nullopt);
    EXPECT_EQ(ours.copyAppValue("key", kDomain), PlistValue("third"));
    testing::writeFile(file(), "not a property list");
    EXPECT_EQ(ours.copyAppValue("key", kDomain), std::nullopt);
}

TEST_F(FilePreferencesTest, DomainNamesThatCouldLeaveTheFolderAreRefused) {
    for (const std::string& domain : {std::string(), std::string("."), std::string(".."),
                                      std::string("a/b"), std::string("a\0b", 3)}) {
        ours.setAppValue("key", PlistValue::integer(1), domain);
        EXPECT_TRUE(ours.synchronize(domain)) << PlistValue(domain).description();
    }
    EXPECT_TRUE(fs::is_empty(directory.path()));
}

TEST_F(FilePreferencesTest, WritersInManyProcessesLoseNoKey) {
    for (std::string keysPerSync : {"4", "20"}) {
        std::vector<testing::ProcessResult> results(8);
        std::vector<std::thread> threads;
        for (std::size_t w = 0; w < results.size(); ++w) {
            threads.emplace_back([&, w] {
                results[w] =
                    testing::runProcess({kWriter, folder(), "com.example.many" + keysPerSync,
                                         "w" + std::to_string(w) + "-", "200", keysPerSync},
                                        {}, 3min);
            });
        }
        for (std::size_t w = 0; w < results.size(); ++w) {
            threads[w].join();
            EXPECT_EQ(results[w].exitStatus, 0) << results[w].output;
        }
        // Each writer sets only its own 200 keys, each to its name: with 1600 keys, none is lost.
        PlistValue values = stored("com.example.many" + keysPerSync);
        ASSERT_TRUE(values.asDictionary());
        EXPECT_EQ(values.asDictionary()->size(), 1600u) << keysPerSync << " keys per sync";
        for (const auto& [key, value] : *values.asDictionary())
            ASSERT_EQ(value, PlistValue(key));
    }
}

// QUAYMARK_TEST_SEED replays a failed run.
TEST_F(FilePreferencesTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
    const char* given = std::getenv("QUAYMARK_TEST_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device()();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    // Kills fall within twice the time a writer takes here to set its first key, so that some
    // land while it starts and some inside its writes, on a fast machine as in a sanitizer
    // build, where starting alone can take longer than a fixed window.
    const auto timing = std::chrono::steady_clock::now();
    const testing::ProcessResult timed =
        testing::runProcess({kWriter, folder(), "com.example.timing", "t", "1", "1", "4096"}, {},
                            std::chrono::seconds(30));
    ASSERT_EQ(timed.exitStatus, 0) << timed.output;
    const auto window = 2 * std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - timing);
    SCOPED_TRACE("kills within " + std::to_string(window.count()) + " us");
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        fs::remove_all(folder());
        testing::writeFile(file(), encodePlist(PlistDictionary{{"start", "start"}}, format));
        std::size_t keysBefore = 1;
        for (int run = 0; run < 25; ++run) {
            // Values of 4 KiB make each write long enough for kills to land inside it.
            Result<StartedProcess> started =
                spawnProcess({.executable = kWriter,
                              .arguments = {folder(), kDomain, "run" + std::to_string(run) + "-",
                                            "0", "1", "4096"}});
            ASSERT_TRUE(started) << started.error();
            std::this_thread::sleep_for(std::chrono::microseconds(random() % window.count()));
            ::kill(started->pid, SIGKILL);
            EXPECT_EQ(exitStatusOf(waitForChild(started->pid).value_or(0)), 128 + SIGKILL);
            PlistValue values = stored(kDomain, format);
            ASSERT_TRUE(values.asDictionary()) << "kill " << run;
            EXPECT_GE(values.asDictionary()->size(), keysBefore);
            keysBefore = values.asDictionary()->size();
            for (const auto& [key, value] : *values.asDictionary())
                ASSERT_TRUE(value.asString() && value.asString()->starts_with(key)) << key;
        }
        EXPECT_GT(keysBefore, 1u) << "no writer ever got a key in";
        // The next synchronisation takes over whatever temporary file a killed writer left.
        ours.setAppValue("after", PlistValue("kills"), kDomain);
        ASSERT_EQ(ours.synchronize(kDomain), std::nullopt);
        EXPECT_EQ(namesInFolder(),
                  (std::vector<std::string>{kDomain + ".plist", kDomain + ".plist.lock"}));
    }
}

// What is at the file's place: its type, and its bytes when it is a regular file.
std::string snapshot(const fs::path& path) {
    auto type = fs::symlink_status(path).type();
    return std::to_string(static_cast<int>(type)) +
           (type == fs::file_type::regular ? testing::readFile(path) : "");
}

TEST_F(FilePreferencesTest, AFileWeCannotReadIsLeftAloneUnlessItIsOurOwnUnparseableOne) {
    const std::string xml = encodePlist(PlistDictionary{{"kept", "yes"}}, PlistFormat::Xml);
    const std::string binary = encodePlist(PlistDictionary{{"kept", "yes"}}, PlistFormat::Binary);
    auto bytes = [](std::string text) {
        return [text](const fs::path& path) { testing::writeFile(path, text); };
    };
    const std::pair<std::string, std::function<void(const fs::path&)>> cases[] = {
        {"not a regular file", [](const fs::path& path) { ::mkfifo(path.c_str(), 0600); }},
        {"not a regular file", [](const fs::path& path) { fs::create_directories(path); }},
        {"not a regular file",
         [](const fs::path& path) {
             sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
             path.string().copy(address.sun_path, sizeof address.sun_path - 1);
             FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
             ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
         }},
        {"permission denied",
         [&](const fs::path& path) {
             bytes(xml)(path);
             fs::permissions(path, fs::perms::none);
         }},
        {"not a property list", bytes("\x01\x02 garbage")},
        {"not a property list", bytes(xml.substr(0, xml.size() - 9))},
        {"not a property list", bytes(binary.substr(0, binary.size() - 1))},
        {"not a dictionary at the top", bytes(encodePlist(PlistArray{"kept"}, PlistFormat::Xml))},
    };
    testing::WithoutOverridingPermissions asAUser;
    for (const auto& [reason, place] : cases) {
        for (const std::string& domain : {kDomain, kOwnDomain}) {
            SCOPED_TRACE(reason + " in " + domain);
            fs::remove_all(folder());
            fs::create_directories(folder());
            place(file(domain));
            const std::string before = snapshot(file(domain));
            const PreferencesFailure failure{file(domain).string(), reason};
            EXPECT_EQ(ours.readFailure(domain), failure);
            const std::size_t logged = log.lines().size();
            ours.setAppValue("fresh", PlistValue::integer(1), domain);
            if (domain == kDomain || reason == "not a regular file" || reason.starts_with("perm")) {
                EXPECT_EQ(ours.synchronize(domain), failure);
                EXPECT_EQ(snapshot(file(domain)), before);
                EXPECT_FALSE(ours.copyAppValue("fresh", domain)) << "the change was kept";
                continue;
            }
            EXPECT_EQ(ours.synchronize(domain), std::nullopt);
            EXPECT_EQ(ours.copyAppValue("fresh", domain), PlistValue::integer(1));
            ASSERT_EQ(log.lines().size(), logged + 1);
            EXPECT_NE(log.lines().back().find(failure.file + " is " + reason), std::string::npos);
            // Again within the second: the file moved aside must not replace the first one.
            place(file(domain));
            ours.setAppValue("fresh", PlistValue::integer(1), domain);
            EXPECT_EQ(ours.synchronize(domain), std::nullopt);
            std::vector<std::string> names = namesInFolder();
            ASSERT_EQ(names.size(), 4u);
            EXPECT_EQ(snapshot(folder() / names[1]) + snapshot(folder() / names[2]),
                      before + before);
        }
    }
}

TEST_F(FilePreferencesTest, AStuckLockFailsTheWriteWithinItsBoundAndBlocksNoReader) {
    testing::writeFile(file(), encodePlist(PlistDictionary{{"kept", "yes"}}, PlistFormat::Xml));
    FileDescriptor holder = openFile(file().string() + ".lock", O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    FilePreferences quick(folder().string(), log, {.lockTimeLimit = 300ms});
    quick.setAppValue("fresh", PlistValue("no"), kDomain);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(quick.synchronize(kDomain),
              (PreferencesFailure{file().string(), "lock not obtained within 300 ms"}));
    auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_TRUE(waited >= 300ms && waited < 1s) << waited.count() << " ns";
    EXPECT_FALSE(quick.copyAppValue("fresh", kDomain)) << "the change was kept";
    EXPECT_EQ(quick.copyAppValue("kept", kDomain), PlistValue("yes"));
    // Values can be read, yet the domain cannot be changed now, which readFailure says.
    EXPECT_EQ(quick.readFailure(kDomain),
              (PreferencesFailure{file().string(), "lock not obtained within 300 ms"}));
}

}  // namespace
}  // namespace quaymark
