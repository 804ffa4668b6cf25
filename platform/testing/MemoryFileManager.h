// A file system in memory: folders, files (optionally holding a property list) and
// aliases, which may lead to nothing. Calls are recorded as
// "FileManager.<operation> <path>".
#pragma once

#include "CallLog.h"
#include "FileManager.h"
#include "PathUtilities.h"

namespace quaymark {

class MemoryFileManager : public FileManager {
public:
    explicit MemoryFileManager(CallLog& calls) : _calls(calls) {}

    bool fileExistsAtPath(const std::string& path) override {
        _calls.record("FileManager.fileExistsAtPath", path);
        return hasItem(path);
    }
    bool isDirectoryAtPath(const std::string& path) override {
        _calls.record("FileManager.isDirectoryAtPath", path);
        AliasResolution resolution = resolve(normalised(path));
        return resolution.succeeded && resolution.isFolder;
    }
    bool removeItemAtPath(const std::string& path) override {
        _calls.record("FileManager.removeItemAtPath", path);
        std::string key = normalised(path);
        if (key == "/" || !_items.erase(key))
            return false;
        std::erase_if(_items, [&](const auto& entry) { return isInside(entry.first, key); });
        return true;
    }
    bool copyItemAtPath(const std::string& from, const std::string& to) override {
        _calls.record("FileManager.copyItemAtPath", from + " " + to);
        std::string source = normalised(from);
        std::string destination = normalised(to);
        if (!hasItem(source) || hasItem(destination) || isInside(destination, source))
            return false;
        std::map<std::string, Item> copies;
        for (const auto& [path, item] : _items) {
            if (path == source || isInside(path, source))
                copies[destination + path.substr(source.size())] = item;
        }
        for (auto& [path, item] : copies)
            put(path, std::move(item));
        return true;
    }
    std::string homeDirectory() override {
        _calls.record("FileManager.homeDirectory");
        return _home;
    }
    std::optional<AliasResolution> resolveAliasFile(const std::string& path) override {
        _calls.record("FileManager.resolveAliasFile", path);
        if (!hasItem(path))
            return std::nullopt;
        return resolve(normalised(path));
    }
    std::optional<PlistValue> propertyListWithContentsOfFile(const std::string& path) override {
        _calls.record("FileManager.propertyListWithContentsOfFile", path);
        auto found = _items.find(normalised(path));
        if (found == _items.end() || found->second.kind != Kind::File)
            return std::nullopt;
        return found->second.propertyList;
    }

    // Each adds the missing parent folders and replaces an item already at the path.
    void addFolder(const std::string& path) { put(normalised(path), Item{Kind::Folder, {}, {}}); }
    void addFile(const std::string& path, std::optional<PlistValue> propertyList = std::nullopt) {
        put(normalised(path), Item{Kind::File, {}, std::move(propertyList)});
    }
    // The target need not exist: that makes a broken alias.
    void addAlias(const std::string& path, const std::string& target) {
        put(normalised(path), Item{Kind::Alias, normalised(target), {}});
    }
    void setHomeDirectory(std::string path) { _home = std::move(path); }
    // Whether an item is at the path, without recording a call.
    bool hasItem(const std::string& path) const { return _items.contains(normalised(path)); }

private:
    enum class Kind { Folder, File, Alias };
    struct Item {
        Kind kind = Kind::File;
        std::string aliasTarget;
        std::optional<PlistValue> propertyList;
    };

    // Paths are kept without trailing slashes, so "/a/" and "/a" name one item.
    static std::string normalised(std::string path) {
        while (path.size() > 1 && path.ends_with('/'))
            path.pop_back();
        return path;
    }
    static bool isInside(const std::string& path, const std::string& folder) {
        return folder == "/" ? path != "/" : path.starts_with(folder + "/");
    }
    void put(const std::string& path, Item item) {
        for (std::string parent = stringByDeletingLastPathComponent(path);
             !parent.empty() && !_items.contains(parent);
             parent = stringByDeletingLastPathComponent(parent)) {
            _items[parent] = Item{Kind::Folder, {}, {}};
        }
        _items[path] = std::move(item);
    }
    // An alias is followed one step, as far as any test needs; one that leads nowhere fails.
    AliasResolution resolve(const std::string& path) const {
        auto found = _items.find(path);
        bool aliased = found != _items.end() && found->second.kind == Kind::Alias;
        if (aliased)
            found = _items.find(found->second.aliasTarget);
        if (found == _items.end() || found->second.kind == Kind::Alias)
            return AliasResolution{};
        return AliasResolution{true, found->second.kind == Kind::Folder, aliased, found->first};
    }

    CallLog& _calls;
    std::map<std::string, Item> _items{{"/", Item{Kind::Folder, {}, {}}}};
    std::string _home = "/Users/tester";
};

}  // namespace quaymark
