#include "BundleReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "VersionComparator.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

std::string updateFolderPrefix(const std::string& applicationPath) {
    return "." + fs::path(applicationPath).filename().string() + ".update-";
}

std::optional<std::string> missingExecutable(const std::string& bundle) {
    for (const std::string& relative : bundleExecutables()) {
        struct stat status {};
        const std::string path = bundle + "/" + relative;
        if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            (status.st_mode & S_IXUSR) == 0)
            return relative;
    }
    return std::nullopt;
}

bool exchange(const std::string& a, const std::string& b) {
    return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

// So that the exchange survives a power loss too, not just a killed process.
void syncFolder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;  // the rename itself has happened; durability is the best we can add
    fsync(fd);
    close(fd);
}

}  // namespace

const std::vector<std::string>& bundleExecutables() {
    static const std::vector<std::string> executables{
        "Contents/MacOS/Quaymark",
        "Contents/MacOS/QuaymarkHelper.app/Contents/MacOS/QuaymarkHelper",
    };
    return executables;
}

Result<void> checkNewBundle(FileManager& files, const std::string& newBundle,
                            const std::string& runningIdentifier,
                            const std::string& runningVersion) {
    const std::optional<PlistValue> info =
        files.propertyListWithContentsOfFile(newBundle + "/Contents/Info.plist");
    const PlistDictionary* dictionary = info ? info->asDictionary() : nullptr;
    if (dictionary == nullptr)
        return Result<void>::failure("The update holds no readable Info.plist.");
    const auto text = [dictionary](const char* key) {
        const PlistValue* value = dictionary->find(key);
        return value && value->asString() ? *value->asString() : std::string();
    };
    const std::string identifier = text("CFBundleIdentifier");
    if (identifier != runningIdentifier)
        return Result<void>::failure("The update is another application (\"" + identifier +
                                     "\", not \"" + runningIdentifier + "\").");
    const std::string version = text("CFBundleVersion");
    if (compareVersions(version, runningVersion) <= 0)
        return Result<void>::failure("The update's version \"" + version +
                                     "\" is not newer than the running \"" + runningVersion +
                                     "\".");
    if (const std::optional<std::string> missing = missingExecutable(newBundle))
        return Result<void>::failure("The update lacks its executable " + *missing + ".");
    return Result<void>::success();
}

Result<FileLock> lockBundleForUpdate(const std::string& applicationPath) {
    const fs::path application(applicationPath);
    const std::string name = application.filename().string();
    Result<FileLock> lock = FileLock::lockFile(
        application.parent_path().string() + "/." + name + ".lock", FileLock::OnRelease::Remove);
    if (!lock && lock.error() == "held")
        return Result<FileLock>::failure(
            "Another update of " + name +
            " is being installed. Wait until it has finished, then check for updates again.");
    if (!lock)
        return Result<FileLock>::failure("The update of " + name +
                                         " could not be started: " + lock.error() +
                                         ". Check that its folder can be written to.");
    return lock;
}

Result<UpdateFolder> makeUpdateFolder(const std::string& applicationPath) {
    std::string pattern = fs::path(applicationPath).parent_path().string() + "/" +
                          updateFolderPrefix(applicationPath) + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return Result<UpdateFolder>::failure(
            "No folder for the update could be made beside " + applicationPath + ": " +
            std::strerror(errno) + ". Check that its folder can be written to, then try again.");
    Result<FileLock> owner = FileLock::lockFolder(pattern);
    if (!owner) {
        rmdir(pattern.c_str());
        return Result<UpdateFolder>::failure("The folder for the update could not be locked: " +
                                             owner.error() + ". Try again later.");
    }
    return Result<UpdateFolder>::success({pattern, std::move(owner).value()});
}

int removeLeftoverUpdateFolders(const std::string& applicationPath) {
    const std::string prefix = updateFolderPrefix(applicationPath);
    std::error_code error;
    int removed = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(applicationPath).parent_path(), error)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0)
            continue;
        // A folder whose lock we get has lost its owner; the lock is held while it goes, so
        // that no other clean-up judges it meanwhile.
        const Result<FileLock> ownerGone = FileLock::lockFolder(entry.path().string());
        std::error_code removeError;
        if (ownerGone)
            fs::remove_all(entry.path(), removeError);
        else if (!entry.is_directory(removeError))
            fs::remove(entry.path(), removeError);  // not an update's folder, only named so
        else
            continue;
        removed += removeError ? 0 : 1;
    }
    return removed;
}

Result<void> replaceBundle(const std::string& applicationPath, const std::string& newBundle) {
    if (!exchange(newBundle, applicationPath))
        return Result<void>::failure(
            "The application could not be replaced: " + std::string(std::strerror(errno)) + ".");
    if (const std::optional<std::string> missing = missingExecutable(applicationPath)) {
        if (!exchange(newBundle, applicationPath))
            return Result<void>::failure(
                "The new application lacks " + *missing +
                " and the old one could not be put back: " + std::strerror(errno) + ".");
        return Result<void>::failure("The new application lacks " + *missing +
                                     "; the old one was put back.");
    }
    syncFolder(fs::path(applicationPath).parent_path().string());
    return Result<void>::success();
}

Result<void> installArchive(FileManager& files, const ArchiveInstallation& installation) {
    const std::string bundleName = fs::path(installation.applicationPath).filename().string();
    const std::string unpacked = installation.updateFolder + "/unpacked";
    std::error_code error;
    if (!fs::create_directory(unpacked, error))
        return Result<void>::failure(
            "No folder to unpack the update into could be made: " + error.message() + ".");
    const auto unpackAndExchange = [&]() -> Result<void> {
        if (Result<void> unpackedArchive =
                unpackArchive(installation.archivePath, unpacked, bundleName, installation.limits,
                              installation.cancelled);
            !unpackedArchive)
            return unpackedArchive;
        if (installation.unpacked)
            installation.unpacked();
        const std::string newBundle = unpacked + "/" + bundleName;
        if (Result<void> checked = checkNewBundle(files, newBundle, installation.runningIdentifier,
                                                  installation.runningVersion);
            !checked)
            return checked;
        // The last moment a cancellation is heard: once exchanged, the new version stays.
        if (installation.cancelled != nullptr && installation.cancelled->load())
            return Result<void>::failure(kUpdateCancelled);
        return replaceBundle(installation.applicationPath, newBundle);
    };
    if (Result<void> exchanged = unpackAndExchange(); !exchanged) {
        // Removed here, on the caller's thread, since an unpacked tree may be large; what
        // cannot be removed now goes with the next update.
        fs::remove_all(unpacked, error);
        return exchanged;
    }
    // The old bundle now sits where the new one was unpacked. Should it stay, the next update
    // removes it.
    fs::remove_all(installation.updateFolder, error);
    return Result<void>::success();
}

}  // namespace quaymark
