#include "FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quaymark {
namespace {

// Takes the lock on `fd`; refused with the reason, "held" when someone else holds it.
Result<void> lockWithoutWaiting(int fd) {
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return Result<void>::failure(errno == EWOULDBLOCK ? std::string("held")
                                                          : std::string(std::strerror(errno)));
    }
    return Result<void>::success();
}

}  // namespace

FileLock::FileLock(FileLock&& other) noexcept
    : _fd(std::exchange(other._fd, -1)), _removeOnRelease(std::move(other._removeOnRelease)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        FileLock old(std::move(*this));
        _fd = std::exchange(other._fd, -1);
        _removeOnRelease = std::move(other._removeOnRelease);
    }
    return *this;
}

FileLock::~FileLock() {
    if (_fd < 0)
        return;
    // Removed while still locked: whoever opened the file before waits on this lock, then
    // finds that the path no longer names what it locked and starts again.
    if (!_removeOnRelease.empty())
        unlink(_removeOnRelease.c_str());
    close(_fd);
}

Result<FileLock> FileLock::lockFile(const std::string& path, OnRelease onRelease) {
    // Bounded: each round means another process removed the file between our open and lock,
    // which happens only as often as it finishes an update.
    for (int round = 0; round < 100; ++round) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return Result<FileLock>::failure(std::strerror(errno));
        if (const Result<void> had = lockWithoutWaiting(fd); !had) {
            close(fd);
            return Result<FileLock>::failure(had.error());
        }
        struct stat locked {
        }, named{};
        if (fstat(fd, &locked) == 0 && stat(path.c_str(), &named) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            FileLock lock;
            lock._fd = fd;
            if (onRelease == OnRelease::Remove)
                lock._removeOnRelease = path;
            return Result<FileLock>::success(std::move(lock));
        }
        close(fd);
    }
    return Result<FileLock>::failure("held");
}

Result<FileLock> FileLock::lockFolder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Result<FileLock>::failure(std::strerror(errno));
    if (const Result<void> locked = lockWithoutWaiting(fd); !locked) {
        close(fd);
        return Result<FileLock>::failure(locked.error());
    }
    FileLock lock;
    lock._fd = fd;
    return Result<FileLock>::success(std::move(lock));
}

}  // namespace quaymark
