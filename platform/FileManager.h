// The file system as the system sees it: existence, copies, aliases, the home folder.
#pragma once

#include <optional>
#include <string>

#include "PlistValue.h"

namespace quaymark {

// The outcome of resolving an item that may be an alias (alias chains followed to the end).
struct AliasResolution {
    // False when a link in the chain leads nowhere; the other fields are then unset.
    bool succeeded = false;
    bool isFolder = false;
    bool wasAliased = false;
    std::string resolvedPath;
};

class FileManager {
public:
    virtual ~FileManager() = default;

    // Whether a file or folder is at the path; symbolic links are followed, and one that
    // leads nowhere counts as nothing.
    virtual bool fileExistsAtPath(const std::string& path) = 0;
    // False when nothing is there or it is not a folder (aliases are followed).
    virtual bool isDirectoryAtPath(const std::string& path) = 0;
    // False when the item could not be removed; a missing item counts as a failure.
    virtual bool removeItemAtPath(const std::string& path) = 0;
    // False when the copy failed or the destination exists already.
    virtual bool copyItemAtPath(const std::string& from, const std::string& to) = 0;
    // The current user's home folder.
    virtual std::string homeDirectory() = 0;
    // Nothing when no item is at the path (the file-system reference cannot be made).
    virtual std::optional<AliasResolution> resolveAliasFile(const std::string& path) = 0;
    // The property list stored in the file; nothing when it cannot be read or parsed.
    virtual std::optional<PlistValue> propertyListWithContentsOfFile(const std::string& path) = 0;
};

}  // namespace quaymark
