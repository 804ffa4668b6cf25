// Advisory locks (flock) that tell processes updating the same bundle apart. The kernel lets go
// of a lock when its holder ends, however it ends, so a lock outlives no process.
#pragma once

#include <string>

#include "Result.h"

namespace quaymark {

// An exclusive lock on a file or folder, held until the object goes. Its descriptor is closed
// on exec, so no program this one starts holds it.
class FileLock {
public:
    // How a lock file is left when the lock goes.
    enum class OnRelease { Keep, Remove };

    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();

    // Locks the file at `path`, made when missing, without waiting. Fails with the reason,
    // saying "held" when another process (or another lock in this one) holds it. A file
    // that is removed on release is locked only once it is certain to be the one at `path`.
    static Result<FileLock> lockFile(const std::string& path, OnRelease onRelease);
    // Locks the existing folder at `path` without waiting; as lockFile otherwise.
    static Result<FileLock> lockFolder(const std::string& path);

    bool isHeld() const { return _fd >= 0; }

private:
    int _fd = -1;
    std::string _removeOnRelease;
};

}  // namespace quaymark
