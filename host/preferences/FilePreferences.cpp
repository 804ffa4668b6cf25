#include "preferences/FilePreferences.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <variant>

#include "plist/PlistCodec.h"
#include "posix/Posix.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace {

// NAME_MAX (255) less the longest name kept beside a domain's file:
// "<domain>.plist.corrupt-<unix time>-<pid>-<counter>".
constexpr std::size_t kMaxDomainLength = 200;

constexpr const char* kNotAPropertyList = "not a property list";
constexpr const char* kNotADictionary = "not a dictionary at the top";

std::string reasonOf(int error) {
    if (error == EACCES || error == EPERM)
        return "permission denied";
    std::string reason = std::strerror(error);
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

struct StoredDomain {
    PlistDictionary values;
    PlistFormat format = PlistFormat::Xml;
    mode_t mode = 0600;
};

struct Missing {};
// The file's values, Missing when there is no file, or why it could not be read.
using Loaded = std::variant<StoredDomain, Missing, std::string>;

// What tells one state of a file from another: a writer that renames a new file in changes
// the inode, one that writes in place changes the times (and mostly the size).
struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    long modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;

    explicit FileStamp(const struct stat& status)
        : device(status.st_dev),
          inode(status.st_ino),
          size(status.st_size),
          modifiedSeconds(status.st_mtim.tv_sec),
          modifiedNanoseconds(status.st_mtim.tv_nsec),
          changedSeconds(status.st_ctim.tv_sec),
          changedNanoseconds(status.st_ctim.tv_nsec) {}
    bool operator==(const FileStamp&) const = default;
};

// `stamp` is set to the stamp of the file whose values were read.
Loaded load(const std::string& path, std::optional<FileStamp>& stamp) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return errno == ENOENT ? Loaded(Missing{}) : Loaded(reasonOf(errno));
    // Looked at before opening: opening a FIFO could block, and opening a device could act.
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    // O_NONBLOCK in case a FIFO took the file's place since the stat.
    FileDescriptor file = openFile(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file)
        return errno == ENOENT ? Loaded(Missing{}) : Loaded(reasonOf(errno));
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return "not a regular file";
    std::string bytes;
    if (!readAll(file.get(), bytes))
        return reasonOf(errno);
    std::optional<DecodedPlist> decoded = decodePlist(bytes);
    if (!decoded)
        return kNotAPropertyList;
    if (!decoded->value.asDictionary())
        return kNotADictionary;
    stamp.emplace(status);
    return StoredDomain{std::move(*decoded->value.asDictionary()), decoded->format,
                        static_cast<mode_t>(status.st_mode & 07777)};
}

// Gives a file that cannot be parsed a name of its own, never replacing an earlier one; the
// new name, or nothing when the file could not be moved.
std::optional<std::string> moveAside(const std::string& path) {
    std::string base =
        path + ".corrupt-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(::getpid());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string target = attempt == 0 ? base : base + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return std::nullopt;
        // A file system without RENAME_NOREPLACE: link() will not replace a file either.
        if (::link(path.c_str(), target.c_str()) != 0) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        return ::unlink(path.c_str()) == 0 ? std::optional(target) : std::nullopt;
    }
    return std::nullopt;
}

// flock has no timed form, and interrupting a blocking one would take a process-wide signal
// handler. Polling with LOCK_NB is no answer either: nothing queues the pollers, and one that
// sleeps between tries keeps losing the lock to writers that come straight back (eight
// processes writing in a loop kept one waiting 2.4 s with sleeps of at most 4 ms, against
// 0.4 s for a blocking flock, whose waiters the kernel wakes the moment the lock is let go).
// So the blocking flock runs on a thread of its own, on a second descriptor of the same open
// file, while this thread waits with the time limit. The lock belongs to the open file, so
// once taken it is ours; the waiter then closes its descriptor and ends. A waiter given up on
// stays blocked until the lock comes free, and lets it go at once by closing the last
// descriptor of that file.
// `operation` is LOCK_EX or LOCK_SH.
bool lockWithin(int fd, int operation, std::chrono::milliseconds timeLimit) {
    if (retryOnInterrupt([&] { return ::flock(fd, operation | LOCK_NB); }) == 0)
        return true;
    if (errno != EWOULDBLOCK)
        return false;
    FileDescriptor waiterFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!waiterFd)
        return false;
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<bool> locked;
    };
    auto wait = std::make_shared<Wait>();
    try {
        std::thread([wait, operation, waiterFd = std::move(waiterFd)] {
            bool locked = retryOnInterrupt([&] { return ::flock(waiterFd.get(), operation); }) == 0;
            std::lock_guard guard(wait->mutex);
            wait->locked = locked;
            wait->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock guard(wait->mutex);
    return wait->done.wait_for(guard, timeLimit, [&] { return wait->locked.has_value(); }) &&
           *wait->locked;
}

std::string durationText(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 == 0)
        return std::to_string(duration.count() / 1000) + " s";
    return std::to_string(duration.count()) + " ms";
}

}  // namespace

// A caller that asks whether a domain can be read and then reads it, or reads and then writes
// it, would decode the same file two or three times: a Finder file of 200 KB takes over a
// millisecond each time in XML. The values of a file are therefore kept with its stamp and
// used again while a fresh stat() gives the same stamp. Nothing read from a file that has
// changed since is used; the one blind spot, a program rewriting the file in place twice
// within one tick of the file system's clock at the same size, is not how preference files
// are written.
class KeptDomains {
public:
    Loaded load(const std::string& path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            std::lock_guard guard(_mutex);
            auto kept = _kept.find(path);
            if (kept != _kept.end() && kept->second.first == FileStamp(status))
                return kept->second.second;
        }
        std::optional<FileStamp> stamp;
        Loaded loaded = quaymark::load(path, stamp);
        std::lock_guard guard(_mutex);
        if (const auto* stored = std::get_if<StoredDomain>(&loaded); stored && stamp) {
            _kept.insert_or_assign(path, std::pair(*stamp, *stored));
        } else {
            _kept.erase(path);
        }
        return loaded;
    }

private:
    std::mutex _mutex;
    std::map<std::string, std::pair<FileStamp, StoredDomain>> _kept;
};

FilePreferences::~FilePreferences() = default;

FilePreferences::FilePreferences(std::string preferencesFolder, Log& log,
                                 FilePreferencesOptions options)
    : _folder(std::move(preferencesFolder)),
      _log(log),
      _options(std::move(options)),
      _kept(std::make_unique<KeptDomains>()) {}

FilePreferences FilePreferences::forHome(const std::string& homePath, Log& log,
                                         FilePreferencesOptions options) {
    return FilePreferences(homePath + "/Library/Preferences", log, std::move(options));
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
    Loaded loaded = _kept->load(*file);
    const StoredDomain* stored = std::get_if<StoredDomain>(&loaded);
    const PlistValue* value = stored ? stored->values.find(key) : nullptr;
    if (value == nullptr)
        return std::nullopt;
    return *value;
}

void FilePreferences::setAppValue(const std::string& key, std::optional<PlistValue> value,
                                  const std::string& domain) {
    Result<void> encodable = checkPlistEncodable(key, PlistFormat::Binary);
    if (!encodable) {
        encodable = Result<void>::failure("a key with " + encodable.error());
    } else if (value) {
        encodable = checkPlistEncodable(*value, PlistFormat::Binary);
    }
    if (!encodable) {
        // As CFPreferences does with a value that is not a property list: say so and go on,
        // rather than keep a change that would make every later synchronisation fail.
        _log.log("Preferences: not setting " + key + " in " + domain + ": it holds " +
                 encodable.error());
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
    // A domain whose writers' lock stays taken cannot be changed now: said here, so that a
    // caller about to read, change and write the domain learns it before it starts. Shared,
    // so that readers never wait for each other; a missing lock file means no writer.
    FileDescriptor lock = openFile(*file + ".lock", O_RDONLY | O_NOFOLLOW);
    if (lock && !lockWithin(lock.get(), LOCK_SH, _options.lockTimeLimit))
        return lockFailure(*file);
    Loaded loaded = _kept->load(*file);
    if (const std::string* reason = std::get_if<std::string>(&loaded))
        return PreferencesFailure{*file, *reason};
    return std::nullopt;
}

PreferencesFailure FilePreferences::lockFailure(const std::string& file) const {
    return PreferencesFailure{file,
                              "lock not obtained within " + durationText(_options.lockTimeLimit)};
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
    // Dropped whatever happens: changes kept after a failure could later be written over a
    // file that has changed since, on the strength of a state nobody looked at.
    PendingChanges changes = std::move(pending->second);
    _pending.erase(pending);
    return write(domain, *file, changes);
}

std::optional<PreferencesFailure> FilePreferences::write(const std::string& domain,
                                                         const std::string& file,
                                                         const PendingChanges& changes) {
    std::error_code error;
    std::filesystem::create_directories(_folder, error);
    if (error)
        return PreferencesFailure{_folder, reasonOf(error.value())};
    FileDescriptor lock = openFile(file + ".lock", O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    if (!lock)
        return PreferencesFailure{file + ".lock", reasonOf(errno)};
    if (!lockWithin(lock.get(), LOCK_EX, _options.lockTimeLimit))
        return lockFailure(file);

    Loaded loaded = _kept->load(file);
    StoredDomain stored;
    if (auto* values = std::get_if<StoredDomain>(&loaded)) {
        stored = std::move(*values);
    } else if (auto* reason = std::get_if<std::string>(&loaded)) {
        bool unparseable = *reason == kNotAPropertyList || *reason == kNotADictionary;
        // Another program's file we did not understand stays as it is, byte for byte.
        if (domain != _options.ownDomain || !unparseable)
            return PreferencesFailure{file, *reason};
        std::optional<std::string> movedTo = moveAside(file);
        if (!movedTo)
            return PreferencesFailure{file, *reason + ", and it could not be moved aside"};
        _log.log("Preferences: " + file + " is " + *reason + "; moved it to " + *movedTo +
                 " and started afresh");
    }
    for (const auto& [key, value] : changes) {
        if (value) {
            stored.values.set(key, *value);
        } else {
            stored.values.remove(key);
        }
    }
    PlistValue contents(std::move(stored.values));
    // Keeping a value (one with control characters, say) matters more than keeping the XML
    // format; binary is what macOS itself writes preference files in. Binary takes everything
    // decodePlist gives and setAppValue lets through.
    if (stored.format == PlistFormat::Xml && !checkPlistEncodable(contents, PlistFormat::Xml))
        stored.format = PlistFormat::Binary;
    // One temporary name per domain is enough: only the holder of the lock writes it.
    if (!writeFileAtomically(file, encodePlist(contents, stored.format),
                             {.mode = stored.mode,
                              .durability = Durability::FileAndFolder,
                              .temporaryPath = file + ".tmp"})) {
        return PreferencesFailure{file, "could not be written: " + reasonOf(errno)};
    }
    return std::nullopt;
}

}  // namespace quaymark
