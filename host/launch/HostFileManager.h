// The file system of this machine, with system paths mapped under the system root.
#pragma once

#include "FileManager.h"
#include "launch/SystemRoot.h"

namespace quaymark {

// Aliases are symbolic links; an alias chain is a chain of links.
class HostFileManager : public FileManager {
public:
    HostFileManager(SystemRoot root, std::string home)
        : _root(std::move(root)), _home(std::move(home)) {}

    bool fileExistsAtPath(const std::string& path) override;
    bool isDirectoryAtPath(const std::string& path) override;
    bool removeItemAtPath(const std::string& path) override;
    bool copyItemAtPath(const std::string& from, const std::string& to) override;
    std::string homeDirectory() override { return _home; }
    std::optional<AliasResolution> resolveAliasFile(const std::string& path) override;
    std::optional<PlistValue> propertyListWithContentsOfFile(const std::string& path) override;

    // $HOME, else the password database's entry for this user.
    static std::string homeFromEnvironment();

private:
    SystemRoot _root;
    std::string _home;
};

}  // namespace quaymark
