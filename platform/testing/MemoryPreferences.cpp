#include "MemoryPreferences.h"

namespace quaymark {

std::optional<PlistValue> MemoryPreferences::copyAppValue(const std::string& key,
                                                          const std::string& domain) {
    _calls.record("Preferences.copyAppValue", domain + " " + key);
    auto found = _domains.find(domain);
    const PlistValue* value =
        found == _domains.end() || _unreadable.contains(domain) ? nullptr : found->second.find(key);
    return value ? std::optional(*value) : std::nullopt;
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

std::optional<PreferencesFailure> MemoryPreferences::readFailure(const std::string& domain) {
    _calls.record("Preferences.readFailure", domain);
    auto unreadable = _unreadable.find(domain);
    return unreadable == _unreadable.end() ? std::nullopt : std::optional(unreadable->second);
}

std::optional<PreferencesFailure> MemoryPreferences::synchronize(const std::string& domain) {
    _calls.record("Preferences.appSynchronize", domain);
    _synchronizeCalls.push_back(domain);
    std::optional<PreferencesFailure> failure;
    if (auto unreadable = _unreadable.find(domain); unreadable != _unreadable.end()) {
        failure = unreadable->second;
    } else if (_synchronizeFails) {
        failure = PreferencesFailure{"memory:" + domain, "the write failed"};
    }
    if (failure) {
        _domains[domain] = _synchronized[domain];
    } else {
        _synchronized[domain] = _domains[domain];
    }
    _unsynchronized.erase(domain);
    return failure;
}

void MemoryPreferences::setUnreadable(const std::string& domain,
                                      std::optional<PreferencesFailure> failure) {
    if (failure) {
        _unreadable[domain] = std::move(*failure);
    } else {
        _unreadable.erase(domain);
    }
}

void MemoryPreferences::store(const std::string& key, PlistValue value, const std::string& domain) {
    _domains[domain].set(key, value);
    _synchronized[domain].set(key, std::move(value));
}

PlistDictionary MemoryPreferences::values(const std::string& domain) const {
    auto found = _domains.find(domain);
    return found == _domains.end() ? PlistDictionary() : found->second;
}

}  // namespace quaymark
