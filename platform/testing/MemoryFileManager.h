// A file system in memory: folders, files (optionally holding a property list) and
// aliases, which may lead to other aliases or to nothing.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "CallLog.h"
#include "FileManager.h"

namespace quaymark {

class MemoryFileManager : public FileManager {
public:
    explicit MemoryFileManager(CallLog& calls) : _calls(calls) {}

    bool fileExistsAtPath(const std::string& path) override;
    bool isDirectoryAtPath(const std::string& path) override;
    bool removeItemAtPath(const std::string& path) override;
    bool copyItemAtPath(const std::string& from, const std::string& to) override;
    std::string homeDirectory() override;
    std::optional<AliasResolution> resolveAliasFile(const std::string& path) override;
    std::optional<PlistValue> propertyListWithContentsOfFile(const std::string& path) override;

    // Each adds the missing parent folders and replaces an item already at the path.
    void addFolder(const std::string& path);
    void addFile(const std::string& path, std::optional<PlistValue> propertyList = std::nullopt);
    // The target need not exist: that makes a broken alias.
    void addAlias(const std::string& path, const std::string& target);
    void setHomeDirectory(std::string path) { _home = std::move(path); }
    // Whether an item is at the path, without recording a call.
    bool hasItem(const std::string& path) const;

private:
    enum class Kind { Folder, File, Alias };
    struct Item {
        Kind kind = Kind::File;
        std::string aliasTarget;
        std::optional<PlistValue> propertyList;
    };

    void put(const std::string& path, Item item);
    AliasResolution resolve(const std::string& path) const;

    CallLog& _calls;
    std::map<std::string, Item> _items{{"/", Item{Kind::Folder, {}, std::nullopt}}};
    std::string _home = "/Users/tester";
};

}  // namespace quaymark
