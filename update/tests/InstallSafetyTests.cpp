#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>

#include "ArchiveUnpacker.h"
#include "BundleReplacement.h"
#include "HostFileManager.h"
#include "Signature.h"
#include "UpdateArchives.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveEntry;
using testing::ArchiveFormat;

struct TempFolder {
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "quaymark-install-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    std::string path;
};

TEST(UpdateSignature, OnlyTheKeysOwnSignatureOfTheSameBytesPasses) {
    const testing::SigningKey key, other;
    const std::string data = "archive bytes", good = key.signBase64(data);
    const struct {
        std::string signature, publicKey, data, refusal;
    } cases[] = {
        {good, key.publicKeyBase64(), data, ""},
        {good, "", data, "no public key"},
        {"", key.publicKeyBase64(), data, "not signed"},
        {"!!" + good.substr(2), key.publicKeyBase64(), data, "not the base64"},
        {"c2hvcnQ=", key.publicKeyBase64(), data, "not the base64"},
        {good, "c2hvcnQ=", data, "public key is not"},
        {other.signBase64(data), key.publicKeyBase64(), data, "does not match"},
        {good, key.publicKeyBase64(), data + "!", "does not match"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> refusal =
            signatureRefusal(c.data, c.signature, c.publicKey);
        EXPECT_NE(refusal.value_or("").find(c.refusal), std::string::npos)
            << c.refusal << ": " << refusal.value_or("accepted");
        EXPECT_EQ(refusal.has_value(), !c.refusal.empty()) << c.refusal;
    }
}

TEST(UpdateArchive, RefusesAnythingThatCouldWriteOutsideOrIsIncomplete) {
    using E = ArchiveEntry;
    const std::vector<E> bundle = testing::bundleEntries("q", "1.1");
    const auto with = [&bundle](std::vector<E> extra) {
        std::vector<E> entries = bundle;
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    };
    const struct {
        const char* what;
        std::vector<E> entries;
        ArchiveFormat format;
        bool truncated;
        const char* refusal;
    } cases[] = {
        {"parent entry", with({{E::File, "Quaymark.app/../evil", "x"}}), ArchiveFormat::TarXz, 0,
         "\"..\""},
        {"absolute entry", with({{E::File, "/tmp/evil", "x"}}), ArchiveFormat::TarXz, 0,
         "absolute"},
        {"link outside", with({{E::Link, "Quaymark.app/x", "../../etc"}}), ArchiveFormat::Zip, 0,
         "points outside"},
        {"link up after a name", with({{E::Link, "Quaymark.app/x", "Contents/../../.."}}),
         ArchiveFormat::TarXz, false, "points outside"},
        {"absolute link", with({{E::Link, "Quaymark.app/x", "/etc/passwd"}}), ArchiveFormat::TarXz,
         0, "points outside"},
        {"through a link", with({{E::File, "Quaymark.app/Contents/Current/f", "x"}}),
         ArchiveFormat::TarXz, false, "through"},
        {"hard link outside", with({{E::HardLink, "Quaymark.app/h", "../x"}}), ArchiveFormat::TarXz,
         0, "hard link"},
        {"device", with({{E::Device, "Quaymark.app/null"}}), ArchiveFormat::TarXz, false, "device"},
        {"second top level", with({{E::Folder, "Other.app/", "", 0755}}), ArchiveFormat::Zip, 0,
         "nothing beside"},
        {"name twice", with({{E::File, "Quaymark.app/Contents/Info.plist", "x"}}),
         ArchiveFormat::TarXz, false, "twice"},
        {"too many entries", testing::bundleEntries("q", "1.1", 40), ArchiveFormat::Zip, 0,
         "entries"},
        {"too many bytes", with({{E::File, "Quaymark.app/big", std::string(70'000, 'b')}}),
         ArchiveFormat::TarXz, false, "bytes"},
        {"truncated tar.xz", bundle, ArchiveFormat::TarXz, true, "truncated"},
        {"truncated zip", bundle, ArchiveFormat::Zip, true, ""},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::string archive = folder.path + "/a", out = folder.path + "/out";
        testing::writeArchive(archive, c.format, c.entries);
        if (c.truncated)
            fs::resize_file(archive, fs::file_size(archive) / 2);
        fs::create_directory(out);
        const std::optional<std::string> refusal = unpackArchive(
            archive, out, "Quaymark.app", {.maximumEntries = 45, .maximumBytes = 60'000});
        ASSERT_TRUE(refusal) << c.what;
        EXPECT_NE(refusal->find(c.refusal), std::string::npos) << c.what << ": " << *refusal;
        EXPECT_TRUE(fs::is_empty(out)) << c.what << " wrote before it was judged";
    }
}

TEST(UpdateArchive, UnpacksZipAndTarXzToTheSameTree) {
    TempFolder folder;
    std::vector<ArchiveEntry> entries = testing::bundleEntries("q", "1.1");
    testing::materialise(folder.path + "/expected", entries);
    entries.push_back({ArchiveEntry::HardLink, "Quaymark.app/Contents/Resources/again",
                       "Quaymark.app/Contents/Resources/r0"});
    for (const ArchiveFormat format : {ArchiveFormat::Zip, ArchiveFormat::TarXz}) {
        const std::string out = folder.path + "/out" + std::to_string(int(format));
        fs::create_directory(out);
        testing::writeArchive(
            folder.path + "/a", format,
            format == ArchiveFormat::Zip ? testing::bundleEntries("q", "1.1") : entries);
        ASSERT_EQ(unpackArchive(folder.path + "/a", out, "Quaymark.app"), std::nullopt);
        if (format == ArchiveFormat::TarXz) {
            EXPECT_EQ(fs::hard_link_count(out + "/Quaymark.app/Contents/Resources/again"), 2u);
            fs::remove(out + "/Quaymark.app/Contents/Resources/again");
        }
        EXPECT_EQ(testing::treePicture(out), testing::treePicture(folder.path + "/expected"));
    }
}

TEST(UpdateBundle, OnlyANewerCompleteBundleOfTheSameApplicationMayReplace) {
    TempFolder folder;
    HostFileManager files(SystemRoot(folder.path + "/root"), folder.path);
    const struct {
        const char* identifier;
        const char* version;
        const char* removed;
        const char* refusal;
    } cases[] = {
        {"q", "1.1", "", nullptr},
        {"other", "1.1", "", "another application"},
        {"q", "1.0", "", "not newer"},
        {"q", "0.9", "", "not newer"},
        {"q", "1.1", "Contents/MacOS/QuaymarkHelper.app/Contents/MacOS/QuaymarkHelper", "lacks"},
        {"q", "1.1", "Contents/Info.plist", "no readable Info.plist"},
    };
    int index = 0;
    for (const auto& c : cases) {
        const std::string root = folder.path + "/" + std::to_string(index++);
        testing::materialise(root, testing::bundleEntries(c.identifier, c.version));
        if (*c.removed != 0)
            fs::remove(root + "/Quaymark.app/" + c.removed);
        const std::optional<std::string> refusal =
            newBundleRefusal(files, root + "/Quaymark.app", "q", "1.0");
        EXPECT_EQ(refusal.has_value(), c.refusal != nullptr) << refusal.value_or("accepted");
        if (refusal && c.refusal) {
            EXPECT_NE(refusal->find(c.refusal), std::string::npos) << *refusal;
        }
    }
}

// The whole installation after the download, as a child that may be killed at any moment.
[[noreturn]] void installInChild(const std::string& app, const std::string& archive) {
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    removeLeftoverUpdateFolders(app);
    const Result<std::string> folder = makeUpdateFolder(app);
    const bool installed = folder && !installArchive(files, {.applicationPath = app,
                                                             .updateFolder = folder.value(),
                                                             .archivePath = archive,
                                                             .runningIdentifier = "q",
                                                             .runningVersion = "1.0"});
    _exit(installed ? 0 : 1);
}

TEST(UpdateReplacement, AKilledInstallationLeavesOneCompleteApplication) {
    TempFolder folder;
    const std::string app = folder.path + "/Applications/Quaymark.app";
    const std::string archive = folder.path + "/update.tar.xz";
    const auto oldEntries = testing::bundleEntries("q", "1.0", 300);
    testing::writeArchive(archive, ArchiveFormat::TarXz, testing::bundleEntries("q", "1.1", 300));
    testing::materialise(folder.path + "/old", oldEntries);
    testing::materialise(folder.path + "/new", testing::bundleEntries("q", "1.1", 300));
    const std::string oldApp = testing::treePicture(folder.path + "/old/Quaymark.app");
    const std::string newApp = testing::treePicture(folder.path + "/new/Quaymark.app");
    const std::string newPicture = testing::treePicture(folder.path + "/new");
    const auto reset = [&] {
        fs::remove_all(app);
        testing::materialise(folder.path + "/Applications", oldEntries);
    };
    const auto run = [&](std::chrono::microseconds killAfter) {
        const pid_t child = fork();
        if (child == 0)
            installInChild(app, archive);
        if (killAfter.count() >= 0) {
            usleep(static_cast<useconds_t>(killAfter.count()));
            kill(child, SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    };

    reset();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(std::chrono::microseconds(-1)), 0);
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    ASSERT_EQ(testing::treePicture(folder.path + "/Applications"), newPicture);

    // QUAYMARK_KILL_SEED repeats a failed run.
    const char* given = std::getenv("QUAYMARK_KILL_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(0, whole.count() * 6 / 5);
    int newSeen = 0;
    for (int round = 0; round < 60; ++round) {
        reset();
        run(std::chrono::microseconds(moment(random)));
        const std::string inPlace = testing::treePicture(app);
        ASSERT_TRUE(inPlace == oldApp || inPlace == newApp)
            << "seed " << seed << ", round " << round << ": a mixed application";
        newSeen += inPlace == newApp ? 1 : 0;
    }
    std::cout << "seed " << seed << ": the new version in place after " << newSeen
              << " of 60 kills; an uninterrupted installation takes " << whole.count() << " us\n";

    reset();
    ASSERT_EQ(run(std::chrono::microseconds(-1)), 0);
    EXPECT_EQ(testing::treePicture(folder.path + "/Applications"), newPicture)
        << "the leftovers of killed installations are gone";
}

}  // namespace
}  // namespace quaymark
