#include "launch/HostBundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "PathUtilities.h"
#include "plist/PlistCodec.h"

namespace quaymark {

HostBundle HostBundle::forRunningExecutable(const SystemRoot& root) {
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string executable =
        length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
    std::string macOS = stringByDeletingLastPathComponent(executable);
    std::string contents = stringByDeletingLastPathComponent(macOS);
    std::string bundle = stringByDeletingLastPathComponent(contents);
    bool inBundle = lastPathComponent(macOS) == "MacOS" &&
                    lastPathComponent(contents) == "Contents" && bundle.ends_with(".app");
    return HostBundle(root, root.unmap(inBundle ? bundle : macOS));
}

std::optional<std::string> HostBundle::pathForResource(const std::string& name,
                                                       const std::string& type) {
    std::string path =
        _bundlePath + "/Contents/Resources/" + name + (type.empty() ? "" : "." + type);
    struct stat info {};
    if (stat(_root.map(path).c_str(), &info) != 0)
        return std::nullopt;
    return path;
}

std::optional<PlistValue> HostBundle::objectForInfoDictionaryKey(const std::string& key) {
    std::optional<DecodedPlist> info =
        readPlistFile(_root.map(_bundlePath + "/Contents/Info.plist"));
    const PlistDictionary* dictionary = info ? info->value.asDictionary() : nullptr;
    const PlistValue* value = dictionary ? dictionary->find(key) : nullptr;
    if (!value)
        return std::nullopt;
    return *value;
}

}  // namespace quaymark
