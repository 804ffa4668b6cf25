#include "UserDefaults.h"

namespace quaymark {

void UserDefaults::registerDefaults(const PlistDictionary& defaults) {
    for (const auto& [key, value] : defaults)
        _registered.set(key, value);
}

std::optional<PlistValue> UserDefaults::objectForKey(const std::string& key) const {
    if (auto stored = _preferences.copyAppValue(key, _domain))
        return stored;
    if (const PlistValue* registered = _registered.find(key))
        return *registered;
    return std::nullopt;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    std::optional<PlistValue> value = objectForKey(key);
    if (!value || !value->asString())
        return std::nullopt;
    return *value->asString();
}

bool UserDefaults::boolForKey(const std::string& key) const {
    std::optional<PlistValue> value = objectForKey(key);
    return value && booleanForm(*value).value_or(false);
}

void UserDefaults::setObject(const std::string& key, std::optional<PlistValue> value) {
    _preferences.setAppValue(key, std::move(value), _domain);
}

void UserDefaults::setBool(const std::string& key, bool value) {
    _preferences.setAppValue(key, PlistValue::boolean(value), _domain);
}

bool UserDefaults::synchronize() {
    return _preferences.appSynchronize(_domain);
}

}  // namespace quaymark
