// Preference files shared between processes: pending changes, locking, kills, damaged files.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "FilePreferences.h"
#include "HostTestSupport.h"
#include "PlistCodec.h"

extern char** environ;

namespace quaymark {
namespace {

namespace fs = std::filesystem;

const std::string kDomain = "com.example.shared";
const std::string kWriter = QUAYMARK_PREFERENCE_WRITER;

class FilePreferencesTest : public ::testing::Test {
protected:
    fs::path home() const { return directory.path() / "home"; }
    fs::path folder() const { return home() / "Library" / "Preferences"; }
    fs::path file(const std::string& domain = kDomain) const {
        return folder() / (domain + ".plist");
    }
    std::optional<DecodedPlist> stored(const std::string& domain = kDomain) const {
        return readPlistFile(file(domain).string());
    }
    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TemporaryDirectory directory;
    FilePreferences ours = FilePreferences::forHome(home().string());
    // What another process sees and does: its own pending changes, its own locks.
    FilePreferences theirs{folder().string()};
};

TEST_F(FilePreferencesTest, ChangesAreSeenHereAtOnceAndElsewhereAfterSynchronising) {
    ours.setAppValue("color", PlistValue("blue"), kDomain);
    EXPECT_EQ(ours.copyAppValue("color", kDomain), PlistValue("blue"));
    EXPECT_FALSE(theirs.copyAppValue("color", kDomain));
    ASSERT_TRUE(ours.appSynchronize(kDomain));
    EXPECT_EQ(theirs.copyAppValue("color", kDomain), PlistValue("blue"));
    EXPECT_EQ(stored()->format, PlistFormat::Xml);

    ours.setAppValue("color", std::nullopt, kDomain);
    EXPECT_FALSE(ours.copyAppValue("color", kDomain));
    EXPECT_EQ(theirs.copyAppValue("color", kDomain), PlistValue("blue"));
    ASSERT_TRUE(ours.appSynchronize(kDomain));
    EXPECT_FALSE(theirs.copyAppValue("color", kDomain));
    EXPECT_EQ(stored()->value, PlistValue(PlistDictionary{}));
}

TEST_F(FilePreferencesTest, DomainNamesThatCouldLeaveTheFolderAreRefused) {
    for (const std::string& domain :
         {std::string(), std::string("."), std::string(".."), std::string("../escape"),
          std::string("a/b"), std::string("/tmp/x"), std::string("a\0b", 3)}) {
        SCOPED_TRACE(PlistValue(domain).description());
        ours.setAppValue("key", PlistValue::integer(1), domain);
        EXPECT_FALSE(ours.appSynchronize(domain));
        EXPECT_FALSE(ours.fileOfDomain(domain));
    }
    EXPECT_TRUE(fs::is_empty(directory.path()));
    ours.setAppValue("key", PlistValue::integer(1), "odd..but.fine");
    EXPECT_TRUE(ours.appSynchronize("odd..but.fine"));
    EXPECT_TRUE(stored("odd..but.fine"));
}

TEST_F(FilePreferencesTest, WritersInManyProcessesLoseNoKey) {
    constexpr int kWriters = 8;
    constexpr int kKeysEach = 200;
    for (int keysPerSync : {4, 20}) {
        SCOPED_TRACE(std::to_string(keysPerSync) + " keys per synchronisation");
        std::string domain = "com.example.many" + std::to_string(keysPerSync);
        std::vector<testing::ProcessResult> results(kWriters);
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                results[w] = testing::runProcess(
                    {kWriter, folder().string(), domain, "w" + std::to_string(w) + "-",
                     std::to_string(kKeysEach), std::to_string(keysPerSync)},
                    {}, std::chrono::minutes(3));
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        for (const testing::ProcessResult& result : results) {
            EXPECT_EQ(result.exitStatus, 0) << result.output;
        }
        std::optional<DecodedPlist> decoded = stored(domain);
        ASSERT_TRUE(decoded && decoded->value.asDictionary());
        const PlistDictionary& values = *decoded->value.asDictionary();
        std::vector<std::string> lost;
        for (int w = 0; w < kWriters; ++w) {
            for (int n = 0; n < kKeysEach; ++n) {
                std::string key = "w" + std::to_string(w) + "-" + std::to_string(n);
                if (values.find(key) == nullptr || *values.find(key) != PlistValue(key)) {
                    lost.push_back(key);
                }
            }
        }
        EXPECT_EQ(values.size(), std::size_t{kWriters * kKeysEach});
        EXPECT_TRUE(lost.empty()) << lost.size() << " keys lost, the first " << lost.front();
    }
}

pid_t startWriter(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kWriter);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, kWriter.c_str(), nullptr, nullptr, argv.data(), environ) == 0 ? pid
                                                                                           : -1;
}

// QUAYMARK_TEST_SEED replays a failed run.
unsigned testSeed() {
    const char* seed = std::getenv("QUAYMARK_TEST_SEED");
    return seed ? static_cast<unsigned>(std::stoul(seed)) : std::random_device()();
}

TEST_F(FilePreferencesTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
    const unsigned seed = testSeed();
    SCOPED_TRACE("QUAYMARK_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        fs::remove_all(folder());
        testing::writeFile(file(), encodePlist(PlistDictionary{{"start", "start"}}, format));
        std::size_t keysBefore = 1;
        for (int run = 0; run < 25; ++run) {
            SCOPED_TRACE("kill " + std::to_string(run));
            // Values of 4 KiB make each write long enough for kills to land inside it.
            pid_t writer = startWriter(
                {folder().string(), kDomain, "run" + std::to_string(run) + "-", "0", "1", "4096"});
            ASSERT_GT(writer, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
            ::kill(writer, SIGKILL);
            int status = 0;
            ASSERT_EQ(::waitpid(writer, &status, 0), writer);
            EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself";

            std::optional<DecodedPlist> decoded = stored();
            ASSERT_TRUE(decoded && decoded->value.asDictionary());
            EXPECT_EQ(decoded->format, format);
            const PlistDictionary& values = *decoded->value.asDictionary();
            EXPECT_GE(values.size(), keysBefore);
            keysBefore = values.size();
            for (const auto& [key, value] : values) {
                ASSERT_TRUE(value.asString() && value.asString()->starts_with(key)) << key;
            }
            for (const std::string& name : namesInFolder()) {
                EXPECT_TRUE(name == kDomain + ".plist" || name == kDomain + ".plist.lock" ||
                            name == kDomain + ".plist.tmp")
                    << name;
            }
        }
        EXPECT_GT(keysBefore, 1u) << "no writer ever got a key in";
        // The next synchronisation takes over whatever temporary file a killed writer left.
        ours.setAppValue("after", PlistValue("kills"), kDomain);
        ASSERT_TRUE(ours.appSynchronize(kDomain));
        EXPECT_EQ(namesInFolder(),
                  (std::vector<std::string>{kDomain + ".plist", kDomain + ".plist.lock"}));
    }
}

TEST_F(FilePreferencesTest, AnUnparseableFileIsMovedAsideIntactAndTheDomainStartsAfresh) {
    const PlistValue kept = PlistDictionary{{"kept", "yes"}, {"more", PlistArray{"a", "b"}}};
    const std::string xml = encodePlist(kept, PlistFormat::Xml);
    const std::string binary = encodePlist(kept, PlistFormat::Binary);
    const std::pair<const char*, std::string> cases[] = {
        {"garbage", "\x01\x02 no property list"},
        {"XML cut before its closing tag", xml.substr(0, xml.rfind("</plist>"))},
        {"binary cut short", binary.substr(0, binary.size() - 1)},
        {"an array at the top", encodePlist(PlistArray{"kept"}, PlistFormat::Xml)},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(folder());
        // Twice within a second: the second file moved aside must not replace the first.
        for (int round = 0; round < 2; ++round) {
            testing::writeFile(file(), bytes);
            EXPECT_FALSE(ours.copyAppValue("kept", kDomain));
            ours.setAppValue("fresh", PlistValue::integer(round), kDomain);
            ASSERT_TRUE(ours.appSynchronize(kDomain));
            std::optional<DecodedPlist> decoded = stored();
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->format, PlistFormat::Xml);
            EXPECT_EQ(decoded->value,
                      PlistValue(PlistDictionary{{"fresh", PlistValue::integer(round)}}));
        }
        int movedAside = 0;
        for (const std::string& moved : namesInFolder()) {
            if (!moved.starts_with(kDomain + ".plist.corrupt-"))
                continue;
            ++movedAside;
            EXPECT_EQ(testing::readFile(folder() / moved), bytes) << moved;
        }
        EXPECT_EQ(movedAside, 2);
    }
}

TEST_F(FilePreferencesTest, ABinaryFileStaysBinaryAndKeepsKeysWrittenMeanwhile) {
    testing::writeFile(
        file(), encodePlist(PlistDictionary{{"first", PlistValue::integer(1)}, {"second", "two"}},
                            PlistFormat::Binary));
    ours.setAppValue("first", PlistValue::integer(10), kDomain);
    theirs.setAppValue("foreign", PlistValue::boolean(true), kDomain);
    ASSERT_TRUE(theirs.appSynchronize(kDomain));
    ASSERT_TRUE(ours.appSynchronize(kDomain));

    std::optional<DecodedPlist> decoded = stored();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, PlistFormat::Binary);
    PlistValue expected = PlistDictionary{{"first", PlistValue::integer(10)},
                                          {"second", "two"},
                                          {"foreign", PlistValue::boolean(true)}};
    EXPECT_EQ(decoded->value.description(), expected.description());
}

TEST_F(FilePreferencesTest, AFailedSynchronisationKeepsTheChangesForTheNextOne) {
    struct Obstacle {
        const char* name;
        std::function<void()> place;
    };
    const Obstacle obstacles[] = {
        {"a folder in the file's place", [&] { fs::create_directories(file()); }},
        {"a file in the folder's place", [&] { testing::writeFile(folder(), "x"); }},
    };
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.name);
        fs::remove_all(home());
        obstacle.place();
        ours.setAppValue("kept", PlistValue("pending"), kDomain);
        EXPECT_FALSE(ours.appSynchronize(kDomain));
        EXPECT_EQ(ours.copyAppValue("kept", kDomain), PlistValue("pending"));
        fs::remove_all(home());
        EXPECT_TRUE(ours.appSynchronize(kDomain));
        EXPECT_EQ(theirs.copyAppValue("kept", kDomain), PlistValue("pending"));
    }
}

TEST_F(FilePreferencesTest, ValuesNoFileCanHoldAreRefusedAndOnesXmlCannotMakeTheFileBinary) {
    ours.setAppValue("text", PlistValue("before"), kDomain);
    ours.setAppValue("text", PlistValue("invalid UTF-8 \xff"), kDomain);
    EXPECT_EQ(ours.copyAppValue("text", kDomain), PlistValue("before"));
    ours.setAppValue("bell", PlistValue("ring\a"), kDomain);
    ASSERT_TRUE(ours.appSynchronize(kDomain));

    std::optional<DecodedPlist> decoded = stored();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, PlistFormat::Binary);
    EXPECT_EQ(decoded->value, PlistValue(PlistDictionary{{"text", "before"}, {"bell", "ring\a"}}));
}

}  // namespace
}  // namespace quaymark
