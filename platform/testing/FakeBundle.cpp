#include "FakeBundle.h"

namespace quaymark {

std::string FakeBundle::bundlePath() {
    _calls.record("Bundle.bundlePath");
    return _bundlePath;
}

std::optional<std::string> FakeBundle::pathForResource(const std::string& name,
                                                       const std::string& type) {
    _calls.record("Bundle.pathForResource", name + "." + type);
    if (!_resources.contains(name + "." + type))
        return std::nullopt;
    return _bundlePath + "/Contents/Resources/" + name + "." + type;
}

std::optional<PlistValue> FakeBundle::objectForInfoDictionaryKey(const std::string& key) {
    _calls.record("Bundle.objectForInfoDictionaryKey", key);
    const PlistValue* value = _info.find(key);
    if (value == nullptr)
        return std::nullopt;
    return *value;
}

}  // namespace quaymark
