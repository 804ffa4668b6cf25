#include "MemoryFileManager.h"

#include "PathUtilities.h"

namespace quaymark {

namespace {

// Paths are kept without trailing slashes, so "/a/" and "/a" name one item.
std::string normalised(const std::string& path) {
    std::string result = path;
    while (result.size() > 1 && result.ends_with('/'))
        result.pop_back();
    return result;
}

bool isInside(const std::string& path, const std::string& folder) {
    return folder == "/" ? path != "/" : path.starts_with(folder + "/");
}

}  // namespace

bool MemoryFileManager::fileExistsAtPath(const std::string& path) {
    _calls.record("FileManager.fileExistsAtPath", path);
    return hasItem(path);
}

bool MemoryFileManager::isDirectoryAtPath(const std::string& path) {
    _calls.record("FileManager.isDirectoryAtPath", path);
    if (!hasItem(path))
        return false;
    AliasResolution resolution = resolve(normalised(path));
    return resolution.succeeded && resolution.isFolder;
}

bool MemoryFileManager::removeItemAtPath(const std::string& path) {
    _calls.record("FileManager.removeItemAtPath", path);
    std::string key = normalised(path);
    if (key == "/" || !_items.erase(key))
        return false;
    std::erase_if(_items, [&](const auto& entry) { return isInside(entry.first, key); });
    return true;
}

bool MemoryFileManager::copyItemAtPath(const std::string& from, const std::string& to) {
    _calls.record("FileManager.copyItemAtPath", from + " " + to);
    std::string source = normalised(from);
    std::string destination = normalised(to);
    if (!hasItem(source) || hasItem(destination) || isInside(destination, source))
        return false;
    std::map<std::string, Item> copies;
    for (const auto& [path, item] : _items) {
        if (path == source)
            copies[destination] = item;
        if (isInside(path, source))
            copies[destination + path.substr(source.size())] = item;
    }
    for (auto& [path, item] : copies)
        put(path, std::move(item));
    return true;
}

std::string MemoryFileManager::homeDirectory() {
    _calls.record("FileManager.homeDirectory");
    return _home;
}

std::optional<AliasResolution> MemoryFileManager::resolveAliasFile(const std::string& path) {
    _calls.record("FileManager.resolveAliasFile", path);
    if (!hasItem(path))
        return std::nullopt;
    return resolve(normalised(path));
}

std::optional<PlistValue> MemoryFileManager::propertyListWithContentsOfFile(
    const std::string& path) {
    _calls.record("FileManager.propertyListWithContentsOfFile", path);
    auto found = _items.find(normalised(path));
    if (found == _items.end() || found->second.kind != Kind::File)
        return std::nullopt;
    return found->second.propertyList;
}

void MemoryFileManager::addFolder(const std::string& path) {
    put(normalised(path), Item{Kind::Folder, {}, std::nullopt});
}

void MemoryFileManager::addFile(const std::string& path, std::optional<PlistValue> propertyList) {
    put(normalised(path), Item{Kind::File, {}, std::move(propertyList)});
}

void MemoryFileManager::addAlias(const std::string& path, const std::string& target) {
    put(normalised(path), Item{Kind::Alias, normalised(target), std::nullopt});
}

bool MemoryFileManager::hasItem(const std::string& path) const {
    return _items.contains(normalised(path));
}

void MemoryFileManager::put(const std::string& path, Item item) {
    for (std::string parent = stringByDeletingLastPathComponent(path);
         !parent.empty() && !_items.contains(parent);
         parent = stringByDeletingLastPathComponent(parent)) {
        _items[parent] = Item{Kind::Folder, {}, std::nullopt};
    }
    _items[path] = std::move(item);
}

AliasResolution MemoryFileManager::resolve(const std::string& path) const {
    // A chain longer than this is taken to be a loop, which no resolution survives.
    constexpr int kMaximumChain = 32;
    AliasResolution resolution;
    std::string current = path;
    for (int hop = 0; hop <= kMaximumChain; ++hop) {
        auto found = _items.find(current);
        if (found == _items.end())
            return AliasResolution{};
        if (found->second.kind != Kind::Alias) {
            resolution.succeeded = true;
            resolution.isFolder = found->second.kind == Kind::Folder;
            resolution.resolvedPath = current;
            return resolution;
        }
        resolution.wasAliased = true;
        current = found->second.aliasTarget;
    }
    return AliasResolution{};
}

}  // namespace quaymark
