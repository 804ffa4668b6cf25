#include "FilePreferences.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "PlistCodec.h"

namespace quaymark {

namespace {

// NAME_MAX (255) less the longest name kept beside a domain's file:
// "<domain>.plist.corrupt-<unix time>-<pid>-<counter>".
constexpr std::size_t kMaxDomainLength = 200;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : _fd(fd) {}
    ~FileDescriptor() {
        if (_fd >= 0)
            ::close(_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return _fd; }
    explicit operator bool() const { return _fd >= 0; }
    // Some file systems report a failed write only when the file is closed.
    bool close() { return ::close(std::exchange(_fd, -1)) == 0; }

private:
    int _fd;
};

int openFile(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

enum class ReadOutcome { Read, Missing, Failed };

struct FileContents {
    ReadOutcome outcome;
    std::string bytes;
    mode_t mode = 0600;
};

FileContents readFile(const std::string& path) {
    // O_NONBLOCK so that a FIFO put in the file's place cannot hang the open.
    FileDescriptor file(openFile(path, O_RDONLY | O_NONBLOCK));
    if (!file)
        return {errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed, {}};
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {ReadOutcome::Failed, {}};
    }
    FileContents contents{ReadOutcome::Read, {}, static_cast<mode_t>(status.st_mode & 07777)};
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count == 0)
            return contents;
        if (count < 0 && errno != EINTR)
            return {ReadOutcome::Failed, {}};
        if (count > 0)
            contents.bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno != EINTR)
            return false;
        if (count > 0)
            bytes.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

// Gives a file that cannot be parsed a name of its own, never replacing an earlier one.
bool moveAside(const std::string& path) {
    std::string base =
        path + ".corrupt-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(::getpid());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        // A file system without RENAME_NOREPLACE: link() will not replace a file either.
        if (::link(path.c_str(), target.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        return ::unlink(path.c_str()) == 0;
    }
    return false;
}

// One temporary name per domain is enough: only the holder of the lock writes it, and what a
// writer killed halfway leaves there is truncated by the next one (and never read).
bool replaceFile(const std::string& path, std::string_view bytes, mode_t mode) {
    std::string temporary = path + ".tmp";
    FileDescriptor file(openFile(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600));
    if (!file)
        return false;
    bool replaced = ::fchmod(file.get(), mode) == 0 && writeAll(file.get(), bytes) &&
                    ::fsync(file.get()) == 0 && file.close() &&
                    ::rename(temporary.c_str(), path.c_str()) == 0;
    // Best effort: a temporary file left behind is harmless, as above.
    if (!replaced)
        ::unlink(temporary.c_str());
    return replaced;
}

// Makes the rename itself durable.
bool syncFolder(const std::string& folder) {
    FileDescriptor directory(openFile(folder, O_RDONLY | O_DIRECTORY));
    if (!directory)
        return false;
    // EINVAL: a file system that cannot sync directories; the rename is as durable as it gets.
    return ::fsync(directory.get()) == 0 || errno == EINVAL;
}

bool lockExclusively(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

FilePreferences::FilePreferences(std::string preferencesFolder)
    : _folder(std::move(preferencesFolder)) {}

FilePreferences FilePreferences::forHome(const std::string& homePath) {
    return FilePreferences(homePath + "/Library/Preferences");
}

std::optional<std::string> FilePreferences::fileOfDomain(const std::string& domain) const {
    if (domain.empty() || domain == "." || domain == ".." || domain.size() > kMaxDomainLength ||
        domain.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        return std::nullopt;
    }
    return _folder + "/" + domain + ".plist";
}

std::optional<PlistValue> FilePreferences::copyAppValue(const std::string& key,
                                                        const std::string& domain) {
    {
        std::lock_guard lock(_mutex);
        if (auto pending = _pending.find(domain); pending != _pending.end()) {
            for (const auto& [changedKey, value] : pending->second) {
                if (changedKey == key)
                    return value;
            }
        }
    }
    std::optional<std::string> file = fileOfDomain(domain);
    if (!file)
        return std::nullopt;
    std::optional<DecodedPlist> decoded = readPlistFile(*file);
    // A file that is not a dictionary at the top reads as empty, as an unparseable one does.
    const PlistDictionary* values = decoded ? decoded->value.asDictionary() : nullptr;
    const PlistValue* value = values ? values->find(key) : nullptr;
    if (value == nullptr)
        return std::nullopt;
    return *value;
}

void FilePreferences::setAppValue(const std::string& key, std::optional<PlistValue> value,
                                  const std::string& domain) {
    std::optional<std::string> problem = plistEncodingProblem(key, PlistFormat::Binary);
    if (problem) {
        problem = "a key with " + *problem;
    } else if (value) {
        problem = plistEncodingProblem(*value, PlistFormat::Binary);
    }
    if (problem) {
        // As CFPreferences does with a value that is not a property list: say so and go on,
        // rather than keep a change that would make every later synchronisation fail.
        std::fprintf(stderr, "FilePreferences: not setting %s in %s: it holds %s\n", key.c_str(),
                     domain.c_str(), problem->c_str());
        return;
    }
    std::lock_guard lock(_mutex);
    PendingChanges& changes = _pending[domain];
    auto existing = std::find_if(changes.begin(), changes.end(),
                                 [&](const auto& change) { return change.first == key; });
    if (existing != changes.end()) {
        existing->second = std::move(value);
    } else {
        changes.emplace_back(key, std::move(value));
    }
}

std::optional<PreferencesFailure> FilePreferences::readFailure(const std::string& domain) {
    std::optional<std::string> file = fileOfDomain(domain);
    if (!file)
        return PreferencesFailure{domain, "not a valid domain name"};
    FileContents contents = readFile(*file);
    if (contents.outcome == ReadOutcome::Missing)
        return std::nullopt;
    if (contents.outcome == ReadOutcome::Failed)
        return PreferencesFailure{*file, "could not be read"};
    std::optional<DecodedPlist> decoded = decodePlist(contents.bytes);
    if (!decoded || !decoded->value.asDictionary())
        return PreferencesFailure{*file, "not a property list"};
    return std::nullopt;
}

std::optional<PreferencesFailure> FilePreferences::synchronize(const std::string& domain) {
    std::optional<std::string> file = fileOfDomain(domain);
    if (!file)
        return PreferencesFailure{domain, "not a valid domain name"};
    std::lock_guard lock(_mutex);
    auto pending = _pending.find(domain);
    // Nothing to write, and no cache to refresh: every read goes to the file.
    if (pending == _pending.end())
        return std::nullopt;
    bool written = synchronizeLocked(*file, pending->second);
    _pending.erase(pending);
    if (!written)
        return PreferencesFailure{*file, "could not be written"};
    return std::nullopt;
}

bool FilePreferences::synchronizeLocked(const std::string& file, const PendingChanges& changes) {
    std::error_code error;
    std::filesystem::create_directories(_folder, error);
    if (error)
        return false;
    FileDescriptor lock(openFile(file + ".lock", O_RDWR | O_CREAT, 0600));
    if (!lock || !lockExclusively(lock.get()))
        return false;

    FileContents current = readFile(file);
    // A file that is there but cannot be read must not be replaced by one without its keys.
    if (current.outcome == ReadOutcome::Failed)
        return false;
    PlistDictionary values;
    PlistFormat format = PlistFormat::Xml;
    mode_t mode = 0600;
    if (current.outcome == ReadOutcome::Read) {
        std::optional<DecodedPlist> decoded = decodePlist(current.bytes);
        if (decoded && decoded->value.asDictionary()) {
            values = std::move(*decoded->value.asDictionary());
            format = decoded->format;
            mode = current.mode;
        } else if (!moveAside(file)) {
            return false;
        }
    }
    for (const auto& [key, value] : changes) {
        if (value) {
            values.set(key, *value);
        } else {
            values.remove(key);
        }
    }
    PlistValue contents(std::move(values));
    // Keeping a value (one with control characters, say) matters more than keeping the XML
    // format; binary is what macOS itself writes preference files in. Binary takes everything
    // decodePlist gives and setAppValue lets through.
    if (format == PlistFormat::Xml && plistEncodingProblem(contents, PlistFormat::Xml)) {
        format = PlistFormat::Binary;
    }
    // When only the folder sync fails, the file is already replaced; applying the changes
    // again at the next attempt is harmless.
    return replaceFile(file, encodePlist(contents, format), mode) && syncFolder(_folder);
}

}  // namespace quaymark
