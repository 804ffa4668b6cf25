#include "standins/StandInBundles.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "plist/PlistCodec.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// The shell's path goes into a tmux configuration line and a sh command line; a path of
// these characters needs quoting in neither.
bool isPlainPath(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return false;
    for (char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
        if (!plain)
            return false;
    }
    return true;
}

std::optional<std::string> findShell(const std::string& shell) {
    if (shell.find('/') != std::string::npos) {
        return access(shell.c_str(), X_OK) == 0 ? std::optional(shell) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path ? path : "") + ":/bin:/usr/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue;
        std::string candidate = folder + "/" + shell;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// The options that make the shell read no start-up file of the user or the system, so that
// every desktop's shells behave alike.
std::string plainShellOptions(const std::string& shellPath) {
    std::string name = fs::path(shellPath).filename().string();
    if (name == "bash")
        return " --noprofile --norc";
    if (name == "zsh")
        return " -f";
    return "";
}

bool writeFile(const fs::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

std::string terminalStandInPath(TerminalKind kind) {
    switch (kind) {
        case TerminalKind::AppleTerminal:
            return "/Applications/Utilities/Terminal.app";
        case TerminalKind::ITerm:
            return "/Applications/iTerm.app";
        case TerminalKind::ITerm2:
            // Not "iTerm.app" as on a Mac, so that iTerm and iTerm2 can both be installed.
            return "/Applications/iTerm2.app";
    }
    return "/Applications/Utilities/Terminal.app";
}

std::string standInTmuxConfiguration(TerminalKind kind, const std::string& version,
                                     const std::string& shellPath) {
    std::string front =
        "set -gF @frontCounter \"#{e|+|:#{@frontCounter},1}\" ; "
        "set -F @front \"#{@frontCounter}\"";
    return "# Stand-in " + standInRole(kind) + " " + version +
           ": a window is a tmux session, a tab a tmux window of it.\n"
           // Without windows the application still runs, as iTerm2 does.
           "set -s exit-empty off\n"
           "set -g status off\n"
           "set -g history-limit 100000\n"
           "set -g default-size 200x50\n"
           "set -g default-shell /bin/sh\n"
           "set -g default-command \"cd; exec " +
           shellPath + plainShellOptions(shellPath) +
           "\"\n"
           "set-environment -g PS1 '$ '\n"
           // Front to back order: each window opened takes the next @front.
           "set -g @frontCounter 0\n"
           "new-session -d -x 200 -y 50 ; " +
           front + "\n";
}

Result<void> layOutTerminalStandIn(const SystemRoot& root, TerminalKind kind,
                                   const std::string& version, const std::string& shell,
                                   const std::string& standInProgram) {
    if (root.root().empty()) {
        return Result<void>::failure("a stand-in terminal is laid out inside a system root only");
    }
    std::optional<std::string> shellPath = findShell(shell);
    if (!shellPath)
        return Result<void>::failure("no shell \"" + shell + "\" to run in the stand-in terminals");
    if (!isPlainPath(*shellPath))
        return Result<void>::failure("the shell path " + *shellPath + " needs quoting");

    std::string processName = processNameFor(kind, version);
    fs::path bundle = root.map(terminalStandInPath(kind));
    fs::path executable = bundle / "Contents" / "MacOS" / processName;
    std::error_code error;
    fs::remove_all(bundle, error);
    fs::create_directories(executable.parent_path(), error);
    fs::create_directories(bundle / "Contents" / "Resources", error);
    if (error)
        return Result<void>::failure("cannot make " + bundle.string() + ": " + error.message());

    PlistDictionary info{
        {"CFBundleIdentifier", bundleIdentifierFor(kind)},
        {"CFBundleExecutable", processName},
        {"CFBundleName", standInRole(kind)},
        {"CFBundleShortVersionString", version},
        {"CFBundlePackageType", "APPL"},
        {kStandInRoleKey, standInRole(kind)},
    };
    if (!writeFile(bundle / "Contents" / "Info.plist",
                   encodePlist(PlistValue(info), PlistFormat::Xml))) {
        return Result<void>::failure("cannot write the Info.plist of " + bundle.string());
    }
    if (!writeFile(bundle / "Contents" / "Resources" / "tmux.conf",
                   standInTmuxConfiguration(kind, version, *shellPath))) {
        return Result<void>::failure("cannot write the tmux.conf of " + bundle.string());
    }
    fs::copy_file(standInProgram, executable, fs::copy_options::overwrite_existing, error);
    if (!error) {
        fs::permissions(executable,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        error);
    }
    if (error)
        return Result<void>::failure("cannot copy " + standInProgram + " into " + bundle.string() +
                                     ": " + error.message());
    return Result<void>::success();
}

}  // namespace quaymark
