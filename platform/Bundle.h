// The running program's own application bundle.
#pragma once

#include <optional>
#include <string>

#include "PlistValue.h"

namespace quaymark {

class Bundle {
public:
    virtual ~Bundle() = default;

    // Absolute path of the bundle directory (".../Name.app").
    virtual std::string bundlePath() = 0;
    // Path of "Contents/Resources/<name>.<type>"; nothing when no such file exists.
    virtual std::optional<std::string> pathForResource(const std::string& name,
                                                       const std::string& type) = 0;
    // A value of the information dictionary; nothing when absent or unreadable.
    virtual std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) = 0;
};

}  // namespace quaymark
