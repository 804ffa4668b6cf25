#include "BundleInfo.h"

namespace quaymark {

std::optional<std::string> infoString(Bundle& bundle, const std::string& key) {
    const std::optional<PlistValue> value = bundle.objectForInfoDictionaryKey(key);
    if (!value || value->asString() == nullptr || value->asString()->empty())
        return std::nullopt;
    return *value->asString();
}

}  // namespace quaymark
