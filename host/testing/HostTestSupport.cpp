#include "HostTestSupport.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "posix/Spawn.h"

namespace quaymark::testing {

namespace fs = std::filesystem;

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "quaymark-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    // Canonical, so that paths compare equal to what the programs report.
    _path = fs::canonical(pattern);
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code error;
    fs::remove_all(_path, error);
}

WithoutOverridingPermissions::WithoutOverridingPermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    static_assert(sizeof data == sizeof _saved);
    std::memcpy(_saved.data(), data, sizeof data);
    data[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
    syscall(SYS_capset, &header, data);
}

WithoutOverridingPermissions::~WithoutOverridingPermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    std::memcpy(data, _saved.data(), sizeof data);
    syscall(SYS_capset, &header, data);
}

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeLimit) {
    Result<ProcessOutcome> ran = runAndCollect({.executable = argv.at(0),
                                                .arguments = {argv.begin() + 1, argv.end()},
                                                .environment = environment,
                                                .standardError = TaskStream::ToStandardOutput,
                                                .capture = Capture::StandardOutput},
                                               timeLimit);
    if (!ran)
        return {-1, ran.error()};
    return {ran->exitStatus, std::move(ran->output)};
}

ProcessResult runPython(const std::string& script, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {QUAYMARK_TEST_PYTHON, "-c", script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}});
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeLimit) {
    auto deadline = std::chrono::steady_clock::now() + timeLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace quaymark::testing
