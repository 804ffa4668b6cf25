#include "posix/Posix.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quaymark {

bool FileDescriptor::close() {
    if (_fd < 0)
        return true;
    // Not retried on EINTR: Linux has released the descriptor by then, and a retry could
    // close one another thread has just been given.
    return ::close(release()) == 0;
}

FileDescriptor openFile(const std::string& path, int flags, mode_t mode) {
    return FileDescriptor(
        retryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }));
}

std::optional<Pipe> makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = retryOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
        if (count < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

bool readAll(int fd, std::string& bytes) {
    char buffer[65536];
    for (;;) {
        ssize_t count = retryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
        if (count <= 0)
            return count == 0;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

bool readExactly(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t count = retryOnInterrupt([&] { return ::read(fd, bytes, size); });
        if (count <= 0)
            return false;
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

std::optional<int> waitForChild(pid_t pid) {
    int status = 0;
    if (retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); }) != pid)
        return std::nullopt;
    return status;
}

}  // namespace quaymark
