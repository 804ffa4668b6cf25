// Putting a new application bundle in place of the running one, in one step that can be undone.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ArchiveUnpacker.h"
#include "FileLock.h"
#include "FileManager.h"
#include "Result.h"

namespace quaymark {

// The executables a complete bundle holds, relative to the bundle folder.
const std::vector<std::string>& bundleExecutables();

// Succeeds when the unpacked bundle may replace the running one; refused when its information
// dictionary is unreadable, it names another "CFBundleIdentifier" or a "CFBundleVersion" that
// is not newer than `runningVersion`, or an executable is missing or not executable.
Result<void> checkNewBundle(FileManager& files, const std::string& newBundle,
                            const std::string& runningIdentifier,
                            const std::string& runningVersion);

// Held by the one process updating the bundle at `applicationPath`, from before the download
// until the end: a lock file beside the bundle, removed when the lock goes. Refused with a
// message for the user while another process holds it, or when it cannot be made.
Result<FileLock> lockBundleForUpdate(const std::string& applicationPath);

// An update's working folder and the lock that marks its owner as alive.
struct UpdateFolder {
    std::string path;
    FileLock owner;
};

// A fresh folder beside `applicationPath` (so on its file system, where a rename is one
// step), whose name marks it as an update's, locked by this process until `owner` goes; a
// reason when it could not be made.
Result<UpdateFolder> makeUpdateFolder(const std::string& applicationPath);

// Removes the update folders beside `applicationPath` whose owner has ended (a killed update's),
// leaving those of running updates alone; how many were removed. A folder that cannot be
// removed is tried again by the next update.
int removeLeftoverUpdateFolders(const std::string& applicationPath);

// Exchanges `newBundle` and `applicationPath` in one rename, so that the path always holds
// one complete bundle; the old bundle is then at `newBundle`. When the exchange fails nothing
// has changed; when the bundle in place turns out incomplete, the exchange is undone. A reason
// on failure.
Result<void> replaceBundle(const std::string& applicationPath, const std::string& newBundle);

struct ArchiveInstallation {
    // The real path of the bundle to replace.
    std::string applicationPath;
    // From makeUpdateFolder; the archive is unpacked into it, and it is removed on success.
    std::string updateFolder;
    std::string archivePath;
    std::string runningIdentifier;
    std::string runningVersion;
    UnpackLimits limits{};
    // Set from another thread to stop the installation before the exchange; may be null.
    const std::atomic<bool>* cancelled = nullptr;
    // Runs once the archive is unpacked, before the new bundle is checked and put in place.
    std::function<void()> unpacked{};
};

// Unpacks the (already verified) archive, checks the bundle it holds and exchanges it with
// the installed one, then removes the update folder with the old bundle in it. The reason on
// failure or cancellation, when the installed bundle is as it was and what was unpacked is
// removed; the caller removes the update folder, with the archive, then.
Result<void> installArchive(FileManager& files, const ArchiveInstallation& installation);

}  // namespace quaymark
