#include "standins/StandInProgram.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "launch/SystemRoot.h"
#include "scripting/TerminalStandIn.h"
#include "scripting/TmuxServer.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
    std::cerr << "quaymark-standin: " << message << "\n";
    return 1;
}

// The socket folder holds the keys to every shell of the desktop: only its owner may enter.
std::optional<std::string> makePrivateFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder.parent_path(), error);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return "cannot make " + folder.string() + ": " + std::strerror(errno);
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        return folder.string() + " is no folder of this user";
    }
    if ((info.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0) {
        return "cannot make " + folder.string() + " private: " + std::strerror(errno);
    }
    return std::nullopt;
}

enum class SocketState { Free, Stale, Listening };

SocketState probeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return SocketState::Free;
    int result = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = errno;
    close(probe);
    if (result == 0)
        return SocketState::Listening;
    return error == ECONNREFUSED ? SocketState::Stale : SocketState::Free;
}

bool isUtf8Locale(const char* name) {
    std::string text = name ? name : "";
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find("utf-8") != std::string::npos || text.find("utf8") != std::string::npos;
}

// In a locale without UTF-8, readline takes the bytes of "中" for Meta keys and the shell
// never sees the name typed; the shells of the desktop always read UTF-8.
void useUtf8Characters() {
    const char* effective = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            effective = value;
            break;
        }
    }
    if (isUtf8Locale(effective))
        return;
    setenv("LC_CTYPE", "C.UTF-8", 1);
    const char* all = std::getenv("LC_ALL");
    if (all && *all)
        setenv("LC_ALL", "C.UTF-8", 1);
}

}  // namespace

int runTerminalStandIn() {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return fail("cannot find the running executable: " + error.message());
    fs::path bundle = executable.parent_path().parent_path().parent_path();
    std::optional<TerminalStandIn> standIn = readTerminalStandIn(bundle.string());
    if (!standIn)
        return fail(bundle.string() + " is no stand-in terminal bundle");

    SystemRoot root = SystemRoot::fromEnvironment();
    std::string socketPath = tmuxSocketPath(root, standIn->bundleIdentifier);
    if (socketPath.size() >= sizeof(sockaddr_un::sun_path)) {
        return fail("the socket path " + socketPath + " is too long for a socket");
    }
    if (auto problem = makePrivateFolder(fs::path(socketPath).parent_path()))
        return fail(*problem);
    switch (probeSocket(socketPath)) {
        case SocketState::Listening:
            return fail(standIn->processName + " already runs on this desktop");
        case SocketState::Stale:
            // Left by a server that was ended; clients would take it for a live one.
            unlink(socketPath.c_str());
            break;
        case SocketState::Free:
            break;
    }

    // The server's own folder; the shells go to $HOME themselves. Failing, it stays where
    // launch services started it, which harms nothing.
    if (const char* home = std::getenv("HOME"); home && chdir(home) != 0) {
        std::cerr << "quaymark-standin: cannot enter " << home << "\n";
    }
    // Left over from a tmux this was started inside of; the shells get their own from tmux.
    unsetenv("TMUX");
    unsetenv("TMUX_PANE");
    useUtf8Characters();

    std::vector<std::string> arguments = {
        "tmux", "-S", socketPath, "-f", standIn->tmuxConfiguration(), "-D"};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(tmuxExecutable().c_str(), argv.data());
    return fail("cannot run " + tmuxExecutable() + ": " + std::strerror(errno));
}

}  // namespace quaymark
