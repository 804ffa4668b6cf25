#include "launch/BundleRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "PathUtilities.h"
#include "plist/PlistCodec.h"
#include "posix/Posix.h"
#include "preferences/AtomicFile.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// Applications are found in these folders and their subfolders (as "/Applications/
// Utilities" holds Terminal), never inside another bundle, at most this deep.
constexpr int kMaximumFolderDepth = 3;

// Record files are named after the identifier, with anything but letters, digits, ".", "-"
// and "_" escaped; a name too long for the file system is replaced by a hash, and the record
// itself names its identifier, so that a shared name is never taken for a match.
constexpr std::size_t kLongestRecordName = 200;

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000LL + time.tv_nsec;
}

bool isBundleName(const std::string& name) {
    return name.size() > 4 && name.ends_with(".app");
}

std::string recordName(const std::string& identifier) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "bundle-";
    for (unsigned char c : identifier) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '-' || c == '_';
        if (plain) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += kHex[c >> 4];
            name += kHex[c & 15];
        }
    }
    if (name.size() <= kLongestRecordName)
        return name;
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : identifier)
        hash = (hash ^ c) * 1099511628211ULL;
    std::string hashed = "bundle#";
    for (int shift = 60; shift >= 0; shift -= 4)
        hashed += kHex[(hash >> shift) & 15];
    return hashed;
}

const std::string* stringAt(const PlistDictionary& dictionary, std::string_view key) {
    const PlistValue* value = dictionary.find(key);
    return value ? value->asString() : nullptr;
}

bool isCurrentFormat(const PlistDictionary& dictionary) {
    const PlistValue* version = dictionary.find("Version");
    return version && version->asInteger() == BundleRegistry::kFormatVersion;
}

}  // namespace

std::optional<BundleInfo> readBundleInfo(const std::string& realBundlePath) {
    std::optional<DecodedPlist> info = readPlistFile(realBundlePath + "/Contents/Info.plist");
    const PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    const std::string* identifier =
        dictionary ? stringAt(*dictionary, "CFBundleIdentifier") : nullptr;
    const std::string* executable =
        dictionary ? stringAt(*dictionary, "CFBundleExecutable") : nullptr;
    if (!identifier || !executable)
        return std::nullopt;
    return BundleInfo{*identifier, *executable};
}

BundleRegistry::BundleRegistry(SystemRoot root, std::string home)
    : _root(std::move(root)),
      _home(std::move(home)),
      _cacheDirectory(stringByAppendingPathComponent(_home, "Library/Caches/LaunchServices")) {}

std::string BundleRegistry::indexPath() const {
    return _cacheDirectory + "/index.plist";
}

std::string BundleRegistry::recordPath(const std::string& identifier) const {
    return _cacheDirectory + "/" + recordName(identifier);
}

BundleRegistry::FolderStamp BundleRegistry::stampOf(const std::string& realPath) {
    // A folder's modification time changes whenever an entry is added, removed or renamed in
    // it; the change time also when its permissions change; the inode when it is replaced.
    FolderStamp stamp{realPath};
    struct stat info {};
    if (stat(realPath.c_str(), &info) == 0) {
        stamp.modified = nanoseconds(info.st_mtim);
        stamp.changed = nanoseconds(info.st_ctim);
        stamp.inode = static_cast<std::int64_t>(info.st_ino);
    }
    return stamp;
}

bool BundleRegistry::isCurrent() const {
    return !_stamps.empty() && !_racy &&
           std::all_of(_stamps.begin(), _stamps.end(),
                       [](const FolderStamp& stamp) { return stampOf(stamp.realPath) == stamp; });
}

bool BundleRegistry::loadIndex() {
    _bundles.reset();
    _stamps.clear();
    _racy = false;
    std::optional<DecodedPlist> index = readPlistFile(indexPath());
    const PlistDictionary* entries = index ? index->value.asDictionary() : nullptr;
    const PlistValue* folders =
        entries && isCurrentFormat(*entries) ? entries->find("Folders") : nullptr;
    if (!folders || !folders->asArray())
        return false;
    for (const PlistValue& folder : *folders->asArray()) {
        const PlistArray* fields = folder.asArray();
        if (!fields || fields->size() != 4 || !(*fields)[0].asString()) {
            _stamps.clear();
            return false;
        }
        auto number = [&](std::size_t i) { return (*fields)[i].asInteger().value_or(-1); };
        _stamps.push_back({*(*fields)[0].asString(), number(1), number(2), number(3)});
    }
    return !_stamps.empty();
}

std::optional<std::string> BundleRegistry::readRecord(const std::string& identifier,
                                                      bool& readable) const {
    std::string path = recordPath(identifier);
    std::optional<DecodedPlist> record = readPlistFile(path);
    const PlistDictionary* fields = record ? record->value.asDictionary() : nullptr;
    if (!fields) {
        // Only a record that is not there says that no bundle has the identifier.
        struct stat info {};
        readable = lstat(path.c_str(), &info) != 0 && errno == ENOENT;
        return std::nullopt;
    }
    const std::string* named = stringAt(*fields, "Identifier");
    const std::string* bundle = stringAt(*fields, "Path");
    readable = isCurrentFormat(*fields) && named && *named == identifier && bundle;
    return readable ? std::optional<std::string>(*bundle) : std::nullopt;
}

bool BundleRegistry::confirms(const std::string& path, const std::string& identifier) const {
    std::optional<BundleInfo> info = readBundleInfo(_root.map(path));
    return info && info->bundleIdentifier == identifier;
}

std::optional<std::string> BundleRegistry::pathForIdentifier(const std::string& identifier) {
    if (!isCurrent() && !(loadIndex() && isCurrent()))
        rescan(Rescan::WhenStale);
    auto scanned = [&]() -> std::optional<std::string> {
        auto found = _bundles->find(identifier);
        return found == _bundles->end() ? std::nullopt : std::optional(found->second);
    };
    std::optional<std::string> found;
    if (_bundles) {
        found = scanned();
    } else {
        bool readable = true;
        found = readRecord(identifier, readable);
        if (!readable) {
            rescan(Rescan::Always);
            return scanned();
        }
    }
    if (found && !confirms(*found, identifier)) {
        rescan(Rescan::Always);
        return scanned();
    }
    return found;
}

void BundleRegistry::rescan(Rescan when) {
    // One process scans and writes at a time; the others wait and read what it wrote. Without
    // the lock (the caches folder cannot be written) each process scans for itself.
    std::error_code error;
    fs::create_directories(_cacheDirectory, error);
    FileDescriptor lock = openFile(_cacheDirectory + "/lock", O_RDWR | O_CREAT, 0600);
    bool locked = lock && retryOnInterrupt([&] { return flock(lock.get(), LOCK_EX); }) == 0;
    if (when == Rescan::WhenStale && locked && loadIndex() && isCurrent())
        return;

    struct timespec started {};
    clock_gettime(CLOCK_REALTIME, &started);
    std::map<std::string, std::string> bundles;
    _stamps.clear();
    struct Pending {
        std::string systemPath;
        int depth;
    };
    std::vector<Pending> folders = {{"/Applications", 0},
                                    {stringByAppendingPathComponent(_home, "Applications"), 0}};
    for (std::size_t next = 0; next < folders.size(); ++next) {
        Pending folder = folders[next];
        std::string realFolder = _root.map(folder.systemPath);
        // Stamped before it is listed: a change while it is listed then shows at the next
        // lookup.
        _stamps.push_back(stampOf(realFolder));
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(realFolder, error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::vector<Pending> subfolders;
        for (const std::string& name : names) {
            std::string systemPath = stringByAppendingPathComponent(folder.systemPath, name);
            std::string realPath = _root.map(systemPath);
            if (!fs::is_directory(realPath, error))
                continue;
            if (isBundleName(name)) {
                if (std::optional<BundleInfo> info = readBundleInfo(realPath))
                    bundles.emplace(info->bundleIdentifier, systemPath);
            } else if (folder.depth + 1 < kMaximumFolderDepth) {
                subfolders.push_back({systemPath, folder.depth + 1});
            }
        }
        // Breadth first, so a bundle near the top wins over one deeper down.
        folders.insert(folders.end(), subfolders.begin(), subfolders.end());
    }
    _bundles = std::move(bundles);
    // File times come from a clock that advances in ticks of a few milliseconds, and some
    // file systems keep whole seconds: a folder changed that recently could change again
    // without its stamp showing it, so such a scan is not kept for the next lookup.
    _racy = std::any_of(_stamps.begin(), _stamps.end(), [&](const FolderStamp& stamp) {
        std::int64_t tick = stamp.modified % 1'000'000'000 == 0 ? 2'000'000'000 : 100'000'000;
        return stamp.modified != 0 && stamp.modified + tick > nanoseconds(started);
    });
    if (locked)
        writeCache();
}

void BundleRegistry::writeCache() {
    // The index goes first and comes back last, so that no reader pairs it with records of
    // another scan. Whatever fails leaves no index, and the next lookup scans again.
    std::error_code error;
    if (!fs::remove(indexPath(), error) && error)
        return;
    std::set<std::string> written;
    for (const auto& [identifier, path] : *_bundles) {
        PlistDictionary record{{"Version", PlistValue::integer(kFormatVersion)},
                               {"Identifier", identifier},
                               {"Path", path}};
        std::string file = recordPath(identifier);
        std::string bytes = encodePlist(PlistValue(record), PlistFormat::Binary);
        written.insert(fs::path(file).filename().string());
        // Creating files is most of the cost of a scan: a record that stays as it was is kept.
        // The others are written in place: a reader that meets one half written, or one a
        // crash cut short, refuses it and scans for itself.
        std::ifstream in(file, std::ios::binary);
        if (in && std::string(std::istreambuf_iterator<char>(in), {}) == bytes)
            continue;
        FileDescriptor out = openFile(file, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
        if (!out || !writeAll(out.get(), bytes) || !out.close())
            return;
    }
    // The records of bundles that are gone go too, so a record never outlives its bundle.
    for (const auto& entry : fs::directory_iterator(_cacheDirectory, error)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("bundle") && !written.contains(name) && !fs::remove(entry, error))
            return;
    }
    if (error || _racy)
        return;
    PlistArray folders;
    for (const FolderStamp& stamp : _stamps) {
        folders.push_back(PlistArray{stamp.realPath, PlistValue::integer(stamp.modified),
                                     PlistValue::integer(stamp.changed),
                                     PlistValue::integer(stamp.inode)});
    }
    PlistDictionary index{{"Version", PlistValue::integer(kFormatVersion)},
                          {"Folders", std::move(folders)}};
    writeFileAtomically(indexPath(), encodePlist(PlistValue(index), PlistFormat::Binary),
                        {.durability = Durability::None});
}

}  // namespace quaymark
