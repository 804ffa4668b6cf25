// Preference files shared between processes: merging, locking, kills, files we cannot read.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <thread>

#include "FilePreferences.h"
#include "HostTestSupport.h"
#include "PlistCodec.h"
#include "Posix.h"
#include "Spawn.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kDomain = "com.example.shared";
const std::string kOwnDomain = "com.example.own";
const std::string kWriter = QUAYMARK_PREFERENCE_WRITER;

struct LinesLog : Log {
    void log(const std::string& message) override { lines.push_back(message); }
    std::vector<std::string> lines;
};

class FilePreferencesTest : public ::testing::Test {
protected:
    fs::path folder() const { return directory.path() / "Library" / "Preferences"; }
    fs::path file(const std::string& domain = kDomain) const {
        return folder() / (domain + ".plist");
    }
    std::optional<DecodedPlist> stored(const std::string& domain = kDomain) const {
        return readPlistFile(file(domain).string());
    }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    testing::ProcessResult writer(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {kWriter, folder().string()});
        return testing::runProcess(arguments, {}, 3min);
    }

    testing::TemporaryDirectory directory;
    LinesLog log;
    FilePreferences ours =
        FilePreferences::forHome(directory.path().string(), log, {.ownDomain = kOwnDomain});
    // What another process sees and does: its own pending changes, its own locks.
    FilePreferences theirs{folder().string(), log};
};

TEST_F(FilePreferencesTest, ChangesMergeKeyByKeyKeepingTheFilesFormatAndMode) {
    testing::writeFile(file(), encodePlist(PlistDictionary{{"first", PlistValue::integer(1)},
                                                           {"second", "two"}},
                                           PlistFormat::Binary));
    fs::permissions(file(), fs::perms(0640));
    ours.setAppValue("first", PlistValue::integer(10), kDomain);
    ours.setAppValue("second", std::nullopt, kDomain);
    EXPECT_EQ(ours.copyAppValue("first", kDomain), PlistValue::integer(10));
    EXPECT_EQ(theirs.copyAppValue("first", kDomain), PlistValue::integer(1));
    theirs.setAppValue("foreign", PlistValue::boolean(true), kDomain);
    ASSERT_EQ(theirs.synchronize(kDomain), std::nullopt);
    ASSERT_EQ(ours.synchronize(kDomain), std::nullopt);

    EXPECT_EQ(theirs.copyAppValue("first", kDomain), PlistValue::integer(10));
    EXPECT_EQ(stored()->format, PlistFormat::Binary);
    EXPECT_EQ(stored()->value.description(),
              PlistValue(PlistDictionary{{"first", PlistValue::integer(10)},
                                         {"foreign", PlistValue::boolean(true)}})
                  .description());
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0640));
}

TEST_F(FilePreferencesTest, DomainNamesThatCouldLeaveTheFolderAreRefused) {
    for (const std::string& domain : {std::string(), std::string("."), std::string(".."),
                                      std::string("a/b"), std::string("a\0b", 3)}) {
        ours.setAppValue("key", PlistValue::integer(1), domain);
        EXPECT_TRUE(ours.synchronize(domain)) << PlistValue(domain).description();
    }
    EXPECT_TRUE(fs::is_empty(directory.path()));
    ours.setAppValue("key", PlistValue::integer(1), "odd..but.fine");
    EXPECT_FALSE(ours.synchronize("odd..but.fine"));
    EXPECT_EQ(stored("odd..but.fine")->format, PlistFormat::Xml);
}

TEST_F(FilePreferencesTest, WritersInManyProcessesLoseNoKey) {
    for (int keysPerSync : {4, 20}) {
        std::string domain = "com.example.many" + std::to_string(keysPerSync);
        std::vector<testing::ProcessResult> results(8);
        std::vector<std::thread> threads;
        for (std::size_t w = 0; w < results.size(); ++w) {
            threads.emplace_back([&, w] {
                results[w] = writer({domain, "w" + std::to_string(w) + "-", "200",
                                     std::to_string(keysPerSync)});
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        for (const testing::ProcessResult& result : results)
            EXPECT_EQ(result.exitStatus, 0) << result.output;
        std::optional<DecodedPlist> decoded = stored(domain);
        const PlistDictionary* values = decoded ? decoded->value.asDictionary() : nullptr;
        ASSERT_TRUE(values);
        int lost = 0;
        for (std::size_t w = 0; w < results.size(); ++w) {
            for (int n = 0; n < 200; ++n) {
                std::string key = "w" + std::to_string(w) + "-" + std::to_string(n);
                lost += values->find(key) == nullptr || *values->find(key) != PlistValue(key);
            }
        }
        EXPECT_EQ(lost, 0) << keysPerSync << " keys per synchronisation";
        EXPECT_EQ(values->size(), 1600u);
    }
}

// QUAYMARK_TEST_SEED replays a failed run.
TEST_F(FilePreferencesTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
    const char* given = std::getenv("QUAYMARK_TEST_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device()();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        fs::remove_all(folder());
        testing::writeFile(file(), encodePlist(PlistDictionary{{"start", "start"}}, format));
        std::size_t keysBefore = 1;
        for (int run = 0; run < 25; ++run) {
            // Values of 4 KiB make each write long enough for kills to land inside it.
            SpawnResult started = spawnProcess(
                {.executable = kWriter,
                 .arguments = {folder().string(), kDomain, "run" + std::to_string(run) + "-",
                               "0", "1", "4096"}});
            ASSERT_TRUE(started) << started.error;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
            ::kill(started.pid, SIGKILL);
            EXPECT_EQ(exitStatusOf(waitForChild(started.pid).value_or(0)), 128 + SIGKILL);

            std::optional<DecodedPlist> decoded = stored();
            ASSERT_TRUE(decoded && decoded->value.asDictionary()) << "kill " << run;
            EXPECT_EQ(decoded->format, format);
            EXPECT_GE(decoded->value.asDictionary()->size(), keysBefore);
            keysBefore = decoded->value.asDictionary()->size();
            for (const auto& [key, value] : *decoded->value.asDictionary())
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
    const std::string notAList = "not a property list";
    const std::pair<std::string, std::function<void(const fs::path&)>> cases[] = {
        {"not a regular file", [](const fs::path& path) { ::mkfifo(path.c_str(), 0600); }},
        {"not a regular file", [](const fs::path& path) { fs::create_directories(path); }},
        {"not a regular file",
         [](const fs::path& path) {
             sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
             path.string().copy(address.sun_path, sizeof address.sun_path - 1);
             int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
             ::close(fd);
         }},
        {notAList, [&](const fs::path& path) { testing::writeFile(path, "\x01\x02 garbage"); }},
        {notAList, [&](const fs::path& path) { testing::writeFile(path, xml.substr(0, 60)); }},
        {notAList, [&](const fs::path& path) { testing::writeFile(path, binary.substr(1)); }},
        {"not a dictionary at the top",
         [](const fs::path& path) {
             testing::writeFile(path, encodePlist(PlistArray{"kept"}, PlistFormat::Xml));
         }},
    };
    for (const auto& [reason, place] : cases) {
        for (const std::string& domain : {kDomain, kOwnDomain}) {
            SCOPED_TRACE(reason + " in " + domain);
            fs::remove_all(folder());
            fs::create_directories(folder());
            place(file(domain));
            const std::string before = snapshot(file(domain));
            const PreferencesFailure failure{file(domain).string(), reason};
            EXPECT_EQ(ours.readFailure(domain), failure);
            log.lines.clear();
            ours.setAppValue("fresh", PlistValue::integer(1), domain);
            if (domain == kDomain || reason == "not a regular file") {
                EXPECT_EQ(ours.synchronize(domain), failure);
                EXPECT_EQ(snapshot(file(domain)), before);
                EXPECT_FALSE(ours.copyAppValue("fresh", domain)) << "the change was kept";
                continue;
            }
            EXPECT_EQ(ours.synchronize(domain), std::nullopt);
            EXPECT_EQ(ours.copyAppValue("fresh", domain), PlistValue::integer(1));
            ASSERT_EQ(log.lines.size(), 1u);
            EXPECT_NE(log.lines[0].find(file(domain).string() + " is " + reason),
                      std::string::npos);
            // Again within the second: the file moved aside must not replace the first one.
            place(file(domain));
            ours.setAppValue("fresh", PlistValue::integer(1), domain);
            EXPECT_EQ(ours.synchronize(domain), std::nullopt);
            std::vector<std::string> names = namesInFolder();
            ASSERT_EQ(names.size(), 4u);
            EXPECT_EQ(snapshot(folder() / names[1]), before) << names[1];
            EXPECT_EQ(snapshot(folder() / names[2]), before) << names[2];
        }
    }
}

TEST_F(FilePreferencesTest, AFileWeMayNotReadIsLeftAlone) {
    testing::writeFile(file(), encodePlist(PlistDictionary{{"kept", "yes"}}, PlistFormat::Xml));
    fs::permissions(file(), fs::perms::none);
    std::vector<std::string> arguments = {kDomain, "try"};
    // Root reads any file whatever its mode: the writer runs without that capability.
    if (::geteuid() == 0) {
        if (::access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root, and no setpriv to drop CAP_DAC_OVERRIDE with";
        arguments = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--",
                     kWriter, folder().string(), kDomain, "try"};
    }
    testing::ProcessResult result = ::geteuid() == 0 ? testing::runProcess(arguments, {})
                                                     : writer(arguments);
    EXPECT_EQ(result.output, "permission denied|permission denied\n");
    fs::permissions(file(), fs::perms::owner_read);
    EXPECT_EQ(stored()->value, PlistValue(PlistDictionary{{"kept", "yes"}}));
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
    EXPECT_GE(waited, 300ms);
    EXPECT_LT(waited, 1s);
    EXPECT_FALSE(quick.copyAppValue("fresh", kDomain)) << "the change was kept";
    EXPECT_EQ(quick.copyAppValue("kept", kDomain), PlistValue("yes"));
}

TEST_F(FilePreferencesTest, ValuesNoFileCanHoldAreLoggedAndOnesXmlCannotMakeTheFileBinary) {
    ours.setAppValue("text", PlistValue("before"), kDomain);
    ours.setAppValue("text", PlistValue(std::string("a\0b", 3)), kDomain);
    EXPECT_EQ(ours.copyAppValue("text", kDomain), PlistValue("before"));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines[0].starts_with("Preferences: not setting text in " + kDomain));
    ours.setAppValue("bell", PlistValue("ring\a"), kDomain);
    ASSERT_EQ(ours.synchronize(kDomain), std::nullopt);
    EXPECT_EQ(stored()->format, PlistFormat::Binary);
    EXPECT_EQ(stored()->value, PlistValue(PlistDictionary{{"text", "before"}, {"bell", "ring\a"}}));
}

}  // namespace
}  // namespace quaymark
