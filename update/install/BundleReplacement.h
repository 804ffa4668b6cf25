// Putting a new application bundle in place of the running one, in one step that can be undone.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ArchiveUnpacker.h"
#include "FileManager.h"
#include "Result.h"

namespace quaymark {

// The executables a complete bundle holds, relative to the bundle folder.
const std::vector<std::string>& bundleExecutables();

// Why the unpacked bundle may not replace the running one: its information dictionary is
// unreadable, it names another "CFBundleIdentifier" or a "CFBundleVersion" that is not newer
// than `runningVersion`, or an executable is missing or not executable. Nothing when it may.
std::optional<std::string> newBundleRefusal(FileManager& files, const std::string& newBundle,
                                            const std::string& runningIdentifier,
                                            const std::string& runningVersion);

// A fresh folder beside `applicationPath` (so on its file system, where a rename is one
// step), whose name marks it as an update's; a reason when it could not be made.
Result<std::string> makeUpdateFolder(const std::string& applicationPath);

// Removes the update folders a killed update left beside `applicationPath`; how many there
// were. A folder that cannot be removed is logged by the caller's next attempt, not here.
int removeLeftoverUpdateFolders(const std::string& applicationPath);

// Exchanges `newBundle` and `applicationPath` in one rename, so that the path always holds
// one complete bundle; the old bundle is then at `newBundle`. When the exchange fails nothing
// has changed; when the bundle in place turns out incomplete, the exchange is undone. A reason
// on failure.
std::optional<std::string> replaceBundle(const std::string& applicationPath,
                                         const std::string& newBundle);

struct ArchiveInstallation {
    // The real path of the bundle to replace.
    std::string applicationPath;
    // From makeUpdateFolder; the archive is unpacked into it, and it is removed on success.
    std::string updateFolder;
    std::string archivePath;
    std::string runningIdentifier;
    std::string runningVersion;
    UnpackLimits limits{};
};

// Unpacks the (already verified) archive, checks the bundle it holds and exchanges it with
// the installed one, then removes the update folder with the old bundle in it. The reason on
// failure, when the installed bundle is as it was; the caller removes the update folder then.
std::optional<std::string> installArchive(FileManager& files,
                                          const ArchiveInstallation& installation);

}  // namespace quaymark
