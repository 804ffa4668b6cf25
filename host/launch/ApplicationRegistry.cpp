#include "launch/ApplicationRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "plist/PlistCodec.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace fs = std::filesystem;

std::optional<unsigned long long> processStartTime(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    // The command name (field 2) may hold blanks and parentheses; fields resume after
    // the last ")".
    auto close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X")
        return std::nullopt;
    std::string skipped;
    for (int field = 4; field < 22; ++field)
        fields >> skipped;
    unsigned long long startTime = 0;
    if (!(fields >> startTime))
        return std::nullopt;
    return startTime;
}

bool endProcess(int pid, std::chrono::milliseconds grace) {
    if (kill(pid, SIGTERM) != 0)
        return !processStartTime(pid);
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (processStartTime(pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (processStartTime(pid)) {
        kill(pid, SIGKILL);
        // SIGKILL cannot be held off; only the kernel's tearing down is left to wait for.
        for (int tries = 0; tries < 100 && processStartTime(pid); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !processStartTime(pid);
}

ApplicationRegistry::ApplicationRegistry(std::string directory)
    : _directory(std::move(directory)) {}

ApplicationRegistry::Lock ApplicationRegistry::lock() {
    std::error_code error;
    fs::create_directories(_directory, error);
    // Close-on-exec (as openFile opens everything): an application started under the lock
    // must not carry it away and hold it for as long as it runs.
    FileDescriptor fd =
        openFile((fs::path(_directory) / "registry.lock").string(), O_RDWR | O_CREAT, 0600);
    if (!fd || retryOnInterrupt([&] { return flock(fd.get(), LOCK_EX); }) != 0)
        return Lock();
    return fd;
}

bool ApplicationRegistry::add(const RunningApplication& application) {
    std::optional<unsigned long long> started = processStartTime(application.pid);
    if (!started)
        return false;
    std::error_code error;
    fs::create_directories(fs::path(_directory) / "running", error);
    PlistDictionary entry{
        {"pid", PlistValue::integer(application.pid)},
        {"bundleIdentifier", application.bundleIdentifier},
        {"processName", application.processName},
        {"startTime", PlistValue::integer(static_cast<std::int64_t>(*started))},
    };
    return writePlistFileAtomically(
        (fs::path(_directory) / "running" / (std::to_string(application.pid) + ".plist")).string(),
        PlistValue(entry));
}

void ApplicationRegistry::remove(int pid) {
    std::error_code error;
    fs::remove(fs::path(_directory) / "running" / (std::to_string(pid) + ".plist"), error);
}

std::vector<RunningApplication> ApplicationRegistry::list() {
    struct Found {
        unsigned long long startTime;
        RunningApplication application;
    };
    std::vector<Found> found;
    std::error_code error;
    for (const auto& file : fs::directory_iterator(fs::path(_directory) / "running", error)) {
        if (file.path().extension() != ".plist")
            continue;
        std::optional<DecodedPlist> decoded = readPlistFile(file.path().string());
        const PlistDictionary* entry = decoded ? decoded->value.asDictionary() : nullptr;
        const PlistValue* pid = entry ? entry->find("pid") : nullptr;
        const PlistValue* identifier = entry ? entry->find("bundleIdentifier") : nullptr;
        const PlistValue* name = entry ? entry->find("processName") : nullptr;
        const PlistValue* startTime = entry ? entry->find("startTime") : nullptr;
        if (!pid || !pid->asInteger() || !identifier || !identifier->asString() || !name ||
            !name->asString() || !startTime || !startTime->asInteger()) {
            continue;  // a half-written or foreign file; the writer replaces it atomically
        }
        int processId = static_cast<int>(*pid->asInteger());
        std::optional<unsigned long long> liveStart = processStartTime(processId);
        auto recordedStart = static_cast<unsigned long long>(*startTime->asInteger());
        if (!liveStart || *liveStart != recordedStart) {
            fs::remove(file.path(), error);
            continue;
        }
        found.push_back({recordedStart, {processId, *identifier->asString(), *name->asString()}});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime
                                          : a.application.pid < b.application.pid;
    });
    std::vector<RunningApplication> applications;
    for (auto& entry : found)
        applications.push_back(std::move(entry.application));
    return applications;
}

std::optional<int> ApplicationRegistry::frontmost() {
    std::ifstream in(fs::path(_directory) / "frontmost");
    int pid = 0;
    if (!(in >> pid))
        return std::nullopt;
    auto running = list();
    bool alive =
        std::any_of(running.begin(), running.end(),
                    [&](const RunningApplication& application) { return application.pid == pid; });
    return alive ? std::optional<int>(pid) : std::nullopt;
}

bool ApplicationRegistry::setFrontmost(int pid) {
    std::error_code error;
    fs::create_directories(_directory, error);
    return writeFileAtomically((fs::path(_directory) / "frontmost").string(),
                               std::to_string(pid) + "\n");
}

}  // namespace quaymark
