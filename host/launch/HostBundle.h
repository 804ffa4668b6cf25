// The running program's bundle, found from the executable's own path.
#pragma once

#include "Bundle.h"
#include "launch/SystemRoot.h"

namespace quaymark {

class HostBundle : public Bundle {
public:
    // `bundlePath` as the system names it.
    HostBundle(SystemRoot root, std::string bundlePath)
        : _root(std::move(root)), _bundlePath(std::move(bundlePath)) {}
    // The bundle of the running executable: ".../Name.app" when the executable lies in
    // "Name.app/Contents/MacOS", else the executable's folder.
    static HostBundle forRunningExecutable(const SystemRoot& root);

    std::string bundlePath() override { return _bundlePath; }
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) override;
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) override;

private:
    SystemRoot _root;
    std::string _bundlePath;
};

}  // namespace quaymark
