// Descriptor plumbing in one place: a descriptor owner, the EINTR loop, whole reads and writes.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quaymark {

// Owns one open descriptor and closes it when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : _fd(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : _fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            _fd = other.release();
        }
        return *this;
    }

    int get() const { return _fd; }
    int release() { return std::exchange(_fd, -1); }
    explicit operator bool() const { return _fd >= 0; }
    // False when close() failed: some file systems report a failed write only then.
    bool close();

private:
    int _fd = -1;
};

// Calls `call` again for as long as it fails with EINTR; its last result.
template <typename Call>
auto retryOnInterrupt(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR)
        result = call();
    return result;
}

// open() with O_CLOEXEC, retried on EINTR; an invalid descriptor (errno set) on failure.
FileDescriptor openFile(const std::string& path, int flags, mode_t mode = 0);

struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};
// Both ends close on exec; nothing (errno set) on failure.
std::optional<Pipe> makePipe();

// False (errno set) when a write failed before all of `bytes` went out. Async-signal-safe.
bool writeAll(int fd, std::string_view bytes);
// Appends everything up to end of file to `bytes`; false (errno set) on a read error.
bool readAll(int fd, std::string& bytes);
// Reads exactly `size` bytes; false at an early end of file or an error. Async-signal-safe.
bool readExactly(int fd, void* data, std::size_t size);

// waitpid() retried on EINTR; the wait status, nothing when `pid` is no child to wait for.
std::optional<int> waitForChild(pid_t pid);

}  // namespace quaymark
