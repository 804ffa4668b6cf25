#include "MemoryPreferences.h"

namespace quaymark {

std::optional<PlistValue> MemoryPreferences::copyAppValue(const std::string& key,
                                                          const std::string& domain) {
    _calls.record("Preferences.copyAppValue", domain + " " + key);
    auto found = _domains.find(domain);
    if (found == _domains.end())
        return std::nullopt;
    const PlistValue* value = found->second.find(key);
    if (value == nullptr)
        return std::nullopt;
    return *value;
}

void MemoryPreferences::setAppValue(const std::string& key, std::optional<PlistValue> value,
                                    const std::string& domain) {
    _calls.record("Preferences.setAppValue", domain + " " + key);
    if (value) {
        _domains[domain].set(key, std::move(*value));
    } else {
        _domains[domain].remove(key);
    }
    _unsynchronized.insert(domain);
}

bool MemoryPreferences::appSynchronize(const std::string& domain) {
    _calls.record("Preferences.appSynchronize", domain);
    _synchronizeCalls.push_back(domain);
    if (_synchronizeFails)
        return false;
    _unsynchronized.erase(domain);
    return true;
}

void MemoryPreferences::store(const std::string& key, PlistValue value, const std::string& domain) {
    _domains[domain].set(key, std::move(value));
}

PlistDictionary MemoryPreferences::values(const std::string& domain) const {
    auto found = _domains.find(domain);
    return found == _domains.end() ? PlistDictionary() : found->second;
}

}  // namespace quaymark
