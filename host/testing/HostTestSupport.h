// Temporary folders and child processes for tests that run real programs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quaymark::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return _path; }

private:
    std::filesystem::path _path;
};

struct ProcessResult {
    int exitStatus = -1;  // 128 + signal when a signal ended it; -1 when it did not end in time
    std::string output;   // standard output and standard error together
};

// Runs argv[0] (a path) with exactly this environment, collects its output, and kills it
// (by pid) when it has not ended within the time limit.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeLimit = std::chrono::seconds(30));

// Runs a Python 3 script with arguments; the script's output and status.
ProcessResult runPython(const std::string& script, const std::vector<std::string>& arguments = {});

// Polls until the condition holds or the time limit passes; whether it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeLimit = std::chrono::seconds(10));

// Root reads and writes any file whatever its mode: the thread that makes this does without
// that power until it is destroyed, as a user would.
class WithoutOverridingPermissions {
public:
    WithoutOverridingPermissions();
    ~WithoutOverridingPermissions();
    WithoutOverridingPermissions(const WithoutOverridingPermissions&) = delete;
    WithoutOverridingPermissions& operator=(const WithoutOverridingPermissions&) = delete;

private:
    std::array<std::uint32_t, 6> _saved{};
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace quaymark::testing
