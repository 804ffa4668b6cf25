#include "launch/HostFileManager.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "plist/PlistCodec.h"

namespace quaymark {

namespace fs = std::filesystem;

bool HostFileManager::fileExistsAtPath(const std::string& path) {
    // Symbolic links are followed, as the system's file manager follows them: a link that
    // leads nowhere is no file, so a dangling link at xterm's path is no installed xterm.
    struct stat info {};
    return stat(_root.map(path).c_str(), &info) == 0;
}

bool HostFileManager::isDirectoryAtPath(const std::string& path) {
    std::error_code error;
    return fs::is_directory(_root.map(path), error);
}

bool HostFileManager::removeItemAtPath(const std::string& path) {
    std::error_code error;
    return fs::remove_all(_root.map(path), error) > 0 && !error;
}

bool HostFileManager::copyItemAtPath(const std::string& from, const std::string& to) {
    std::error_code error;
    std::string destination = _root.map(to);
    if (fs::exists(fs::symlink_status(destination, error)))
        return false;
    fs::copy(_root.map(from), destination,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    return !error;
}

std::optional<AliasResolution> HostFileManager::resolveAliasFile(const std::string& path) {
    std::string real = _root.map(path);
    struct stat linkInfo {};
    if (lstat(real.c_str(), &linkInfo) != 0)
        return std::nullopt;
    if (!S_ISLNK(linkInfo.st_mode)) {
        return AliasResolution{true, S_ISDIR(linkInfo.st_mode), false, path};
    }
    // realpath follows the whole chain and fails on a broken or looping one.
    char resolved[PATH_MAX];
    if (realpath(real.c_str(), resolved) == nullptr)
        return AliasResolution{};
    struct stat targetInfo {};
    if (stat(resolved, &targetInfo) != 0)
        return AliasResolution{};
    return AliasResolution{true, S_ISDIR(targetInfo.st_mode), true, _root.unmap(resolved)};
}

std::optional<PlistValue> HostFileManager::propertyListWithContentsOfFile(const std::string& path) {
    std::optional<DecodedPlist> decoded = readPlistFile(_root.map(path));
    if (!decoded)
        return std::nullopt;
    return std::move(decoded->value);
}

std::string HostFileManager::homeFromEnvironment() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()))
        return entry->pw_dir;
    return "/";
}

}  // namespace quaymark
