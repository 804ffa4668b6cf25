#include "DesktopLayout.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PathUtilities.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"
#include "standins/StandInBundles.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Qt wants its runtime folder private to the user.
void makeRuntimeFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    fs::permissions(folder, fs::perms::owner_all, error);
}

// The desktop's URL opener, found first on the applications' search path (as xdg-open, which
// Qt asks on a desktop it does not know): it records each address it is asked to open, in
// the order asked, where urlsOpened() reads them.
void layOutUrlOpener(const std::string& folder) {
    const fs::path opener = fs::path(folder) / "bin" / "xdg-open";
    std::error_code error;
    if (fs::exists(opener, error))
        return;
    fs::create_directories(opener.parent_path(), error);
    writeFileAtomically(opener.string(),
                        "#!/bin/sh\n"
                        "# Records the addresses it is asked to open, one a line.\n"
                        "for url in \"$@\"; do\n"
                        "  printf '%s\\n' \"$url\" >> \"$(dirname \"$0\")/../urls-opened\"\n"
                        "done\n",
                        {.mode = 0755});
}

bool writePlist(const fs::path& path, const PlistValue& value) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    return writePlistFileAtomically(path.string(), value);
}

bool copyExecutable(const std::string& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    if (error)
        return false;
    fs::permissions(to,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
    return !error;
}

PlistDictionary bundleInfo(const std::string& identifier, const std::string& executable,
                           const std::string& version) {
    return PlistDictionary{{"CFBundleIdentifier", identifier},
                           {"CFBundleExecutable", executable},
                           {"CFBundleName", executable},
                           {"CFBundlePackageType", "APPL"},
                           {"CFBundleShortVersionString", version}};
}

}  // namespace

StandInPrograms StandInPrograms::besideRunningExecutable() {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string folder = stringByDeletingLastPathComponent(
        length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "");
    return StandInPrograms{folder + "/quaymark-finder", folder + "/quaymark-killall",
                           folder + "/quaymark-standin"};
}

std::string StandInPrograms::besideRunningExecutable(const std::string& name) {
    return stringByDeletingLastPathComponent(besideRunningExecutable().finder) + "/" + name;
}

DesktopLayout::DesktopLayout(std::string folder) : _folder(std::move(folder)) {}

bool DesktopLayout::exists() const {
    std::error_code error;
    return fs::is_directory(root(), error) && fs::is_directory(home(), error);
}

Result<void> DesktopLayout::create(const std::string& folder, const DesktopOptions& options,
                                   const StandInPrograms& programs) {
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_empty(folder, error))
        return Result<void>::failure(folder + " is not empty");
    fs::create_directories(folder, error);
    if (error)
        return Result<void>::failure("cannot create " + folder + ": " + error.message());
    DesktopLayout desktop(fs::canonical(folder, error).string());
    fs::path home = desktop.home();
    for (const char* sub : {"Desktop", "Documents", "Library/Preferences", "Applications"}) {
        fs::create_directories(home / sub, error);
    }
    fs::create_directories(fs::path(desktop.root()) / "Applications" / "Utilities", error);
    desktop.layOutRuntime();
    if (error)
        return Result<void>::failure("cannot lay out " + folder + ": " + error.message());
    return desktop.layOutSystem(options, programs);
}

Result<void> DesktopLayout::layOutSystem(const DesktopOptions& options,
                                         const StandInPrograms& programs) const {
    const fs::path root = this->root();
    if (!writePlist(root / "System/Library/CoreServices/SystemVersion.plist",
                    PlistDictionary{{"ProductName", "Mac OS X"},
                                    {"ProductVersion", options.systemVersion}})) {
        return Result<void>::failure("cannot write SystemVersion.plist");
    }
    fs::path finder = root / "Applications" / "Finder.app";
    if (!writePlist(finder / "Contents" / "Info.plist",
                    bundleInfo("com.apple.finder", "Finder", "10.14")) ||
        !copyExecutable(programs.finder, finder / "Contents" / "MacOS" / "Finder")) {
        return Result<void>::failure("cannot install the Finder stand-in from " + programs.finder);
    }
    if (!copyExecutable(programs.killall, root / "usr" / "bin" / "killall"))
        return Result<void>::failure("cannot install killall from " + programs.killall);

    struct Wanted {
        bool installed;
        TerminalKind kind;
        std::string version;
    };
    const Wanted terminals[] = {
        {options.terminal, TerminalKind::AppleTerminal, "2.8"},
        {options.iTerm, TerminalKind::ITerm, "0.10"},
        {options.iTerm2, TerminalKind::ITerm2, options.iTerm2Version},
    };
    for (const Wanted& wanted : terminals) {
        if (!wanted.installed)
            continue;
        Result<void> laidOut = layOutTerminalStandIn(systemRoot(), wanted.kind, wanted.version,
                                                     options.shell, programs.terminal);
        if (!laidOut)
            return laidOut;
    }
    if (options.xterm) {
        std::error_code error;
        fs::create_directories(root / "usr" / "X11R6" / "bin", error);
        fs::create_symlink("/usr/bin/xterm", root / "usr" / "X11R6" / "bin" / "xterm", error);
        if (error)
            return Result<void>::failure("cannot link xterm: " + error.message());
    }
    return Result<void>::success();
}

Environment DesktopLayout::folderEnvironment() const {
    return Environment{{"HOME", home()},
                       {"QUAYMARK_SYSTEM_ROOT", root()},
                       {"XDG_RUNTIME_DIR", runtimeFolder()},
                       {"PATH", _folder + "/bin:/usr/local/bin:/usr/bin:/bin"}};
}

void DesktopLayout::layOutRuntime() const {
    makeRuntimeFolder(runtimeFolder());
    layOutUrlOpener(_folder);
}

Result<void> copyApplication(const std::string& builtApp, const std::string& target,
                             const PlistDictionary& infoChanges) {
    std::error_code error;
    if (!fs::exists(fs::path(builtApp) / "Contents" / "Info.plist", error))
        return Result<void>::failure(builtApp + " is no application bundle");
    fs::remove_all(target, error);
    fs::create_directories(fs::path(target).parent_path(), error);
    fs::copy(builtApp, target, fs::copy_options::recursive, error);
    if (error)
        return Result<void>::failure("cannot copy " + builtApp + ": " + error.message());
    if (infoChanges.empty())
        return Result<void>::success();
    const std::string infoPath = target + "/Contents/Info.plist";
    std::optional<DecodedPlist> info = readPlistFile(infoPath);
    PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    if (dictionary == nullptr)
        return Result<void>::failure(infoPath + " is not a property-list dictionary");
    for (const auto& [key, value] : infoChanges)
        dictionary->set(key, value);
    if (Result<void> encodable = checkPlistEncodable(info->value, info->format); !encodable)
        return Result<void>::failure("cannot write " + infoPath + ": " + encodable.error());
    if (!writeFileAtomically(infoPath, encodePlist(info->value, info->format), {.mode = 0644}))
        return Result<void>::failure("cannot write " + infoPath + ": " + std::strerror(errno));
    return Result<void>::success();
}

Result<void> DesktopLayout::installQuaymark(const std::string& builtApp, InstallLocation location,
                                            const PlistDictionary& infoChanges) const {
    fs::path folder = location == InstallLocation::Applications ? fs::path(root()) / "Applications"
                                                                : fs::path(home()) / "Applications";
    return copyApplication(builtApp, (folder / "Quaymark.app").string(), infoChanges);
}

Result<std::string> makeRelease(const std::vector<std::string>& arguments) {
    // Its signing and packing take seconds for a large bundle, far more in a sanitizer build.
    Result<ProcessOutcome> made = runAndCollect({.executable = QUAYMARK_MAKE_RELEASE,
                                                 .arguments = arguments,
                                                 .environment = currentEnvironment(),
                                                 .capture = Capture::Both},
                                                std::chrono::seconds(120));
    if (!made)
        return Result<std::string>::failure(made.error());
    const std::string label = "public key: ";
    const std::size_t printed = made->output.rfind(label);
    if (made->exitStatus != 0 || printed == std::string::npos)
        return Result<std::string>::failure(made->output + made->errorOutput);
    const std::size_t start = printed + label.size();
    return Result<std::string>::success(
        made->output.substr(start, made->output.find('\n', start) - start));
}

std::optional<std::string> DesktopLayout::installedQuaymark() const {
    std::error_code error;
    if (fs::exists(fs::path(root()) / "Applications" / "Quaymark.app", error)) {
        return std::string("/Applications/Quaymark.app");
    }
    fs::path inHome = fs::path(home()) / "Applications" / "Quaymark.app";
    if (fs::exists(inHome, error))
        return inHome.string();
    return std::nullopt;
}

std::vector<std::string> DesktopLayout::urlsOpened() const {
    std::vector<std::string> urls;
    std::ifstream file(_folder + "/urls-opened");
    for (std::string line; std::getline(file, line);)
        urls.push_back(line);
    return urls;
}

}  // namespace quaymark
