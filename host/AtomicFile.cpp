#include "AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quaymark {

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    // The temporary name ends in ".tmp", which no reader of these folders takes for a file.
    std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
    int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    bool written = true;
    while (written && !bytes.empty()) {
        ssize_t count = write(out, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        if (written)
            bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    written = written && fsync(out) == 0;
    written = close(out) == 0 && written;
    written = written && rename(temporary.c_str(), path.c_str()) == 0;
    if (!written)
        unlink(temporary.c_str());
    return written;
}

bool writePlistFileAtomically(const std::string& path, const PlistValue& value,
                              PlistFormat format) {
    return writeFileAtomically(path, encodePlist(value, format));
}

}  // namespace quaymark
