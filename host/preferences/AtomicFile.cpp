#include "preferences/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "posix/Posix.h"

namespace quaymark {

bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options) {
    // The temporary name ends in ".tmp", which no reader of these folders takes for a file.
    std::string temporary =
        options.temporaryPath.value_or(path + "." + std::to_string(::getpid()) + ".tmp");
    FileDescriptor out = openFile(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    if (!out)
        return false;
    // fchmod, not the mode given to open(), which the umask would cut down.
    bool written = ::fchmod(out.get(), options.mode) == 0 && writeAll(out.get(), bytes) &&
                   (options.durability == Durability::None || ::fsync(out.get()) == 0);
    written = out.close() && written;
    written = written && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    if (options.durability != Durability::FileAndFolder)
        return true;
    std::string folder = std::filesystem::path(path).parent_path().string();
    FileDescriptor directory = openFile(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    // EINVAL: a file system that cannot sync folders; the rename is as durable as it gets.
    return directory && (::fsync(directory.get()) == 0 || errno == EINVAL);
}

bool writePlistFileAtomically(const std::string& path, const PlistValue& value,
                              PlistFormat format) {
    return writeFileAtomically(path, encodePlist(value, format));
}

}  // namespace quaymark
