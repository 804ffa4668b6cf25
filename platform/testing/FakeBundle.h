// A main bundle whose path, resources and information dictionary a test sets.
#pragma once

#include <map>
#include <set>

#include "Bundle.h"
#include "CallLog.h"

namespace quaymark {

class FakeBundle : public Bundle {
public:
    explicit FakeBundle(CallLog& calls) : _calls(calls) {}

    std::string bundlePath() override {
        _calls.record("Bundle.bundlePath");
        return _bundlePath;
    }
    // Found at "<bundlePath>/Contents/Resources/<name>.<type>" once added.
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) override {
        _calls.record("Bundle.pathForResource", name + "." + type);
        if (!_resources.contains(name + "." + type))
            return std::nullopt;
        return _bundlePath + "/Contents/Resources/" + name + "." + type;
    }
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) override {
        _calls.record("Bundle.objectForInfoDictionaryKey", key);
        auto value = info.find(key);
        return value == info.end() ? std::nullopt : std::optional<PlistValue>(value->second);
    }

    // The information dictionary, for the test to fill.
    std::map<std::string, PlistValue> info;

    void setBundlePath(std::string path) { _bundlePath = std::move(path); }
    void addResource(const std::string& name, const std::string& type) {
        _resources.insert(name + "." + type);
    }

private:
    CallLog& _calls;
    std::string _bundlePath = "/Applications/Quaymark.app";
    std::set<std::string> _resources;
};

}  // namespace quaymark
