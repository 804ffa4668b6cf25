#include "HostTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

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

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::milliseconds timeLimit) {
    std::vector<std::string> environmentStrings;
    for (const auto& [name, value] : environment)
        environmentStrings.push_back(name + "=" + value);
    std::vector<char*> args;
    std::vector<char*> envp;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    for (const auto& entry : environmentStrings)
        envp.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(output[1]);

    ProcessResult result;
    auto deadline = std::chrono::steady_clock::now() + timeLimit;
    bool timedOut = false;
    char buffer[4096];
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd waiting{output[0], POLLIN, 0};
        int ready = poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        // End of file: the child and everything that inherited the pipe closed it.
        if (got <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(got));
    }
    close(output[0]);
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return result;
    if (WIFEXITED(status))
        result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.exitStatus = 128 + WTERMSIG(status);
    return result;
}

ProcessResult runPython(const std::string& script, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {QUAYMARK_TEST_PYTHON, "-c", script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> environment = {{"PATH", "/usr/bin:/bin"},
                                                      {"LANG", "C.UTF-8"}};
    return runProcess(argv, environment);
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
