#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "ArchiveUnpacker.h"
#include "BundleReplacement.h"
#include "Signature.h"
#include "UpdateArchives.h"
#include "launch/HostFileManager.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ArchiveEntry;
using testing::ArchiveFormat;

struct TempFolder {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString();
};

TEST(UpdateSignature, OnlyTheKeysOwnSignatureOfTheSameBytesPasses) {
    const testing::SigningKey key, other;
    const std::string data = "archive bytes", good = key.signBase64(data),
                      pub = key.publicKeyBase64();
    const struct {
        std::string signature, publicKey, data, refusal;
    } cases[] = {
        // clang-format off
        {good, pub, data, ""},
        {good, "", data, "no public key"},
        {"", pub, data, "not signed"},
        {"!!" + good.substr(2), pub, data, "not the base64"},
        {"c2hvcnQ=", pub, data, "not the base64"},
        {good, "c2hvcnQ=", data, "public key is not"},
        {other.signBase64(data), pub, data, "does not match"},
        {good, pub, data + "!", "does not match"},
        // clang-format on
    };
    TempFolder folder;
    for (const auto& c : cases) {
        const Result<void> checked = checkSignature(c.data, c.signature, c.publicKey);
        EXPECT_EQ(!checked, !c.refusal.empty()) << c.refusal;
        EXPECT_NE(checked.error().find(c.refusal), std::string::npos) << c.refusal;
        // The same bytes checked from a file give the same verdict.
        const std::string file = folder.path + "/archive";
        testing::writeBytes(file, c.data);
        const Result<void> fileChecked = checkFileSignature(file, c.signature, c.publicKey);
        EXPECT_EQ(!fileChecked, !checked) << c.refusal;
        EXPECT_EQ(fileChecked.error(), checked.error()) << c.refusal;
    }
    EXPECT_NE(
        checkFileSignature(folder.path + "/missing", good, pub).error().find("could not be read"),
        std::string::npos);
}

TEST(UpdateSignature, ALargeArchiveIsCheckedWithoutHoldingItInMemory) {
    TempFolder folder;
    const std::string file = folder.path + "/archive";
    constexpr std::size_t kSize = 96 * 1024 * 1024;
    const testing::SigningKey key;
    std::string signature;
    {
        std::mt19937_64 random(7);
        std::string bytes(kSize, '\0');
        for (std::size_t i = 0; i + 8 <= kSize; i += 8) {
            const std::uint64_t word = random();
            std::memcpy(bytes.data() + i, &word, 8);
        }
        testing::writeBytes(file, bytes);
        signature = key.signBase64(bytes);
    }
    // Writing 5 to clear_refs starts the peak afresh at what is resident now.
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::uint64_t before = testing::statusBytes("VmRSS");
    ASSERT_EQ(checkFileSignature(file, signature, key.publicKeyBase64()).error(), "");
    const std::uint64_t grown = testing::statusBytes("VmHWM") - before;
    EXPECT_LT(grown, 32u * 1024 * 1024) << "the check held " << grown / (1024 * 1024) << " MB";
}

TEST(UpdateArchive, RefusesAnythingThatCouldWriteOutsideOrIsIncomplete) {
    using E = ArchiveEntry;
    const ArchiveFormat xz = ArchiveFormat::TarXz, zip = ArchiveFormat::Zip;
    const std::vector<E> bundle = testing::bundleEntries("q", "1.1");
    const auto with = [&bundle](E extra) {
        std::vector<E> entries = bundle;
        entries.push_back(std::move(extra));
        return entries;
    };
    const struct {
        std::vector<E> entries;
        ArchiveFormat format;
        const char* refusal;
    } cases[] = {
        // clang-format off
        {with({E::File, "Quaymark.app/../evil", "x"}), xz, "\"..\""},
        {with({E::File, "/tmp/evil", "x"}), xz, "absolute"},
        {with({E::Link, "Quaymark.app/x", "../../etc"}), zip, "points outside"},
        {with({E::Link, "Quaymark.app/x", "Contents/../../.."}), xz, "points outside"},
        {with({E::Link, "Quaymark.app/x", "/etc/passwd"}), xz, "points outside"},
        {with({E::Link, "Quaymark.app/x", ".."}), xz, "points outside"},
        {with({E::Link, "Quaymark.app/Contents/Resources/up", "../../.."}), xz, "points outside"},
        {with({E::Link, "Quaymark.app/Contents/Resources/up", "../../../Quaymark.app"}), zip,
         "points outside"},
        {with({E::File, "Quaymark.app/Contents/Current/f", "x"}), xz, "through"},
        {with({E::HardLink, "Quaymark.app/h", "../x"}), xz, "hard link"},
        {with({E::HardLink, "Quaymark.app/h", "/etc/passwd"}), xz, "hard link"},
        {with({E::HardLink, "Quaymark.app/h", "Quaymark.app/Contents"}), xz, "hard link"},
        {with({E::HardLink, "Quaymark.app/h", "Quaymark.app/Contents/Current"}), xz, "hard link"},
        {with({E::Device, "Quaymark.app/null"}), xz, "device"},
        {with({E::Folder, "Other.app/", "", 0755}), zip, "nothing beside"},
        {with({E::File, "Quaymark.app/Contents/Info.plist", "x"}), xz, "twice"},
        {testing::bundleEntries("q", "1.1", 40), zip, "entries"},
        {with({E::File, "Quaymark.app/big", std::string(70'000, 'b')}), xz, "bytes"},
        {bundle, xz, "truncated"},
        {bundle, zip, "truncated"},
        // clang-format on
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::string archive = folder.path + "/a", out = folder.path + "/out";
        testing::writeArchive(archive, c.format, c.entries);
        // A bundle as it is, refused, can only be one cut short.
        if (c.entries.size() == bundle.size())
            fs::resize_file(archive, fs::file_size(archive) / 2);
        fs::create_directory(out);
        const Result<void> unpacked = unpackArchive(archive, out, "Quaymark.app",
                                                    {.maximumEntries = 45, .maximumBytes = 60'000});
        ASSERT_FALSE(unpacked) << c.refusal;
        EXPECT_NE(unpacked.error().find(c.refusal), std::string::npos) << unpacked.error();
        EXPECT_TRUE(fs::is_empty(out)) << c.refusal << ": written before it was judged";
    }
}

TEST(UpdateArchive, UnpacksLinksWithinTheBundleAndNoSetIdBits) {
    using E = ArchiveEntry;
    const struct {
        E extra;
        const char* path;      // of the extra entry, once unpacked
        std::string expected;  // the link's target as read through it, or the file's mode
    } cases[] = {
        {{E::Link, "Quaymark.app/Contents/Resources/exe", "../MacOS/Quaymark"},
         "Contents/Resources/exe",
         "#!/bin/sh\n# 1.1"},
        {{E::Link, "Quaymark.app/Contents/Resources/app", "../.."},
         "Contents/Resources/app/Contents/MacOS/Quaymark",
         "#!/bin/sh\n# 1.1"},
        {{E::HardLink, "Quaymark.app/h", "Quaymark.app/Contents/Info.plist"}, "h", "<?xml"},
        {{E::File, "Quaymark.app/setuid", "x", 04755}, "setuid", "755"},
        {{E::File, "Quaymark.app/setgid", "x", 02755}, "setgid", "755"},
        {{E::Folder, "Quaymark.app/shared/", "", 02775}, "shared", "775"},
    };
    for (const ArchiveFormat format : {ArchiveFormat::TarXz, ArchiveFormat::Zip}) {
        for (const auto& c : cases) {
            if (format == ArchiveFormat::Zip && c.extra.type == E::HardLink)
                continue;  // zip has no hard links
            const std::string label = c.extra.name + (format == ArchiveFormat::Zip ? " (zip)" : "");
            TempFolder folder;
            std::vector<E> entries = testing::bundleEntries("q", "1.1");
            entries.push_back(c.extra);
            const std::string archive = folder.path + "/a", out = folder.path + "/out";
            testing::writeArchive(archive, format, entries);
            fs::create_directory(out);
            const Result<void> unpacked = unpackArchive(archive, out, "Quaymark.app");
            ASSERT_TRUE(unpacked) << label << ": " << unpacked.error();
            const std::string path = out + "/Quaymark.app/" + c.path;
            if (c.extra.type == E::Link || c.extra.type == E::HardLink) {
                EXPECT_EQ(testing::readFile(path).substr(0, c.expected.size()), c.expected)
                    << label;
                continue;
            }
            const auto mode = static_cast<unsigned>(fs::status(path).permissions());
            std::ostringstream octal;
            octal << std::oct << (mode & 07777);
            EXPECT_EQ(octal.str(), c.expected) << label;
        }
    }
}

TEST(UpdateReplacement, RefusesABundleThatIsNotNewerThanTheRunningOne) {
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    const struct {
        std::string version;
        bool accepted;
    } cases[] = {
        {"1.0", false},   {"1.0.0", false}, {"1.0-1", false}, {"0.9.9", false},
        {"1.0b1", false}, {"1.0.1", true},  {"1.1", true},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        testing::materialise(folder.path, testing::bundleEntries("q", c.version));
        const Result<void> checked =
            checkNewBundle(files, folder.path + "/Quaymark.app", "q", "1.0");
        EXPECT_EQ(bool(checked), c.accepted) << c.version << ": " << checked.error();
        if (!checked) {
            EXPECT_NE(checked.error().find("not newer"), std::string::npos) << checked.error();
        }
    }
}

TEST(UpdateReplacement, ABundlePutInPlaceWithoutItsExecutableLeavesTheOldOneInPlace) {
    for (const std::size_t missing : {4, 8}) {
        TempFolder folder;
        const std::string app = folder.path + "/Applications/Quaymark.app";
        testing::materialise(folder.path + "/Applications", testing::bundleEntries("q", "1.0"));
        std::vector<ArchiveEntry> incomplete = testing::bundleEntries("q", "1.1");
        incomplete.erase(incomplete.begin() + static_cast<std::ptrdiff_t>(missing));
        testing::materialise(folder.path + "/new", incomplete);
        const std::string oldApp = testing::treePicture(app);
        const std::string newApp = testing::treePicture(folder.path + "/new/Quaymark.app");

        const Result<void> replaced = replaceBundle(app, folder.path + "/new/Quaymark.app");
        ASSERT_FALSE(replaced) << incomplete.size();
        EXPECT_NE(replaced.error().find("the old one was put back"), std::string::npos)
            << replaced.error();
        EXPECT_EQ(testing::treePicture(app), oldApp);
        EXPECT_EQ(testing::treePicture(folder.path + "/new/Quaymark.app"), newApp);
    }
}

TEST(UpdateReplacement, CleanUpRemovesOnlyTheFoldersOfEndedOwners) {
    TempFolder folder;
    const std::string app = folder.path + "/Quaymark.app";
    fs::create_directory(app);
    // An owner in this process, one in a child that keeps running, one in a child that ended.
    Result<UpdateFolder> own = makeUpdateFolder(app);
    ASSERT_TRUE(own) << own.error();
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    const auto ownerChild = [&](bool keepRunning) {
        const pid_t child = fork();
        if (child == 0) {
            close(toChild[1]);  // so that the parent's close ends the wait below
            const Result<UpdateFolder> made = makeUpdateFolder(app);
            const std::string path = made ? made.value().path : "";
            (void)!write(toParent[1], (path + "\n").data(), path.size() + 1);
            char wait = 0;
            if (keepRunning)
                (void)!read(toChild[0], &wait, 1);
            _exit(0);
        }
        std::string path;
        char c = 0;
        while (read(toParent[0], &c, 1) == 1 && c != '\n')
            path += c;
        return std::make_pair(child, path);
    };
    const auto [running, runningFolder] = ownerChild(true);
    const auto [ended, endedFolder] = ownerChild(false);
    waitpid(ended, nullptr, 0);
    ASSERT_FALSE(runningFolder.empty());
    ASSERT_FALSE(endedFolder.empty());
    fs::create_directory(endedFolder + "/unpacked");

    EXPECT_EQ(removeLeftoverUpdateFolders(app), 1);
    EXPECT_TRUE(fs::exists(own.value().path));
    EXPECT_TRUE(fs::exists(runningFolder));
    EXPECT_FALSE(fs::exists(endedFolder));

    close(toChild[1]);
    waitpid(running, nullptr, 0);
    EXPECT_EQ(removeLeftoverUpdateFolders(app), 1);
    EXPECT_FALSE(fs::exists(runningFolder));
    EXPECT_TRUE(fs::exists(own.value().path));
    close(toParent[0]);
    close(toParent[1]);
    close(toChild[0]);
}

TEST(UpdateArchive, ACancelledUnpackingStopsBeforeItWritesOrChecksFurther) {
    TempFolder folder;
    const std::string archive = folder.path + "/a", out = folder.path + "/out";
    testing::writeArchive(archive, ArchiveFormat::Zip, testing::bundleEntries("q", "1.1"));
    fs::create_directory(out);
    const std::atomic<bool> cancelled = true;
    const Result<void> unpacked = unpackArchive(archive, out, "Quaymark.app", {}, &cancelled);
    EXPECT_FALSE(unpacked);
    EXPECT_EQ(unpacked.error(), kUpdateCancelled);
    EXPECT_TRUE(fs::is_empty(out));
}

TEST(UpdateReplacement, ARefusedInstallationRemovesWhatItUnpacked) {
    TempFolder folder;
    const std::string app = folder.path + "/Quaymark.app", archive = folder.path + "/a.zip";
    testing::materialise(folder.path, testing::bundleEntries("q", "1.0"));
    testing::writeArchive(archive, ArchiveFormat::Zip, testing::bundleEntries("q", "0.9"));
    const Result<UpdateFolder> update = makeUpdateFolder(app);
    ASSERT_TRUE(update) << update.error();
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    const Result<void> installed = installArchive(files, {.applicationPath = app,
                                                          .updateFolder = update.value().path,
                                                          .archivePath = archive,
                                                          .runningIdentifier = "q",
                                                          .runningVersion = "1.0"});
    ASSERT_FALSE(installed);
    EXPECT_NE(installed.error().find("not newer"), std::string::npos) << installed.error();
    EXPECT_TRUE(fs::is_empty(update.value().path));
}

// The whole installation after the download, as a child that may be killed at any moment.
[[noreturn]] void installInChild(const std::string& app, const std::string& archive) {
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    removeLeftoverUpdateFolders(app);
    const Result<UpdateFolder> folder = makeUpdateFolder(app);
    const bool installed = folder && installArchive(files, {.applicationPath = app,
                                                            .updateFolder = folder.value().path,
                                                            .archivePath = archive,
                                                            .runningIdentifier = "q",
                                                            .runningVersion = "1.0"});
    _exit(installed ? 0 : 1);
}

TEST(UpdateReplacement, AKilledInstallationLeavesOneCompleteApplication) {
    TempFolder folder;
    const std::string app = folder.path + "/Applications/Quaymark.app";
    const std::string archive = folder.path + "/update.tar.xz";
    const auto oldEntries = testing::bundleEntries("q", "1.0", 100);
    testing::writeArchive(archive, ArchiveFormat::TarXz, testing::bundleEntries("q", "1.1", 100));
    testing::materialise(folder.path + "/new", testing::bundleEntries("q", "1.1", 100));
    testing::materialise(folder.path + "/old", oldEntries);
    const std::string newApp = testing::treePicture(folder.path + "/new/Quaymark.app");
    const std::string oldApp = testing::treePicture(folder.path + "/old/Quaymark.app");
    // Runs one installation from the old version, killed after `killAfter` unless negative;
    // how long it ran.
    const auto run = [&](std::chrono::microseconds killAfter) {
        fs::remove_all(app);
        testing::materialise(folder.path + "/Applications", oldEntries);
        const auto started = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0)
            installInChild(app, archive);
        if (killAfter.count() >= 0) {
            usleep(static_cast<useconds_t>(killAfter.count()));
            kill(child, SIGKILL);
        }
        waitpid(child, nullptr, 0);
        return std::chrono::steady_clock::now() - started;
    };
    // The longest of three, so that the moments below reach past the exchange on a busy machine.
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::max({run(-1us), run(-1us), run(-1us)}));
    ASSERT_EQ(testing::treePicture(folder.path + "/Applications"),
              testing::treePicture(folder.path + "/new"));

    // QUAYMARK_KILL_SEED repeats a failed run.
    const char* given = std::getenv("QUAYMARK_KILL_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(0, whole.count() * 3 / 2);
    int newSeen = 0;
    for (int round = 0; round < 60; ++round) {
        run(std::chrono::microseconds(moment(random)));
        const std::string inPlace = testing::treePicture(app);
        ASSERT_TRUE(inPlace == oldApp || inPlace == newApp)
            << "seed " << seed << ", round " << round << ": a mixed application";
        newSeen += inPlace == newApp ? 1 : 0;
    }
    std::cout << "seed " << seed << ": the new version in place after " << newSeen
              << " of 60 kills; an uninterrupted installation takes " << whole.count() << " us\n";
    run(-1us);
    EXPECT_EQ(testing::treePicture(folder.path + "/Applications"),
              testing::treePicture(folder.path + "/new"))
        << "the leftovers of killed installations are gone";
}

}  // namespace
}  // namespace quaymark
