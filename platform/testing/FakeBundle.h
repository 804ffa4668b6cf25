// A main bundle whose path, resources and information dictionary a test sets.
#pragma once

#include <set>
#include <string>

#include "Bundle.h"
#include "CallLog.h"

namespace quaymark {

class FakeBundle : public Bundle {
public:
    explicit FakeBundle(CallLog& calls, std::string bundlePath = "/Applications/Quaymark.app")
        : _calls(calls), _bundlePath(std::move(bundlePath)) {}

    std::string bundlePath() override;
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) override;
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) override;

    void setBundlePath(std::string path) { _bundlePath = std::move(path); }
    // The resource is found at "<bundlePath>/Contents/Resources/<name>.<type>".
    void addResource(const std::string& name, const std::string& type) {
        _resources.insert(name + "." + type);
    }
    void setInfoValue(const std::string& key, PlistValue value) {
        _info.set(key, std::move(value));
    }

private:
    CallLog& _calls;
    std::string _bundlePath;
    std::set<std::string> _resources;
    PlistDictionary _info;
};

}  // namespace quaymark
