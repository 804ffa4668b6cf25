// The standard user defaults of a program's own domain, over a registration domain
// that lives only in this process.
#pragma once

#include <optional>
#include <string>

#include "Preferences.h"

namespace quaymark {

class UserDefaults {
public:
    UserDefaults(Preferences& preferences, std::string domain)
        : _preferences(preferences), _domain(std::move(domain)) {}

    const std::string& domain() const { return _domain; }

    // Adds the entries of `defaults` to the registration domain, replacing equal keys.
    // Registered values are seen by the readers below when the domain has no value; they
    // are never written out.
    void registerDefaults(const PlistDictionary& defaults);

    // The stored value, else the registered one; nothing when neither exists.
    std::optional<PlistValue> objectForKey(const std::string& key) const;
    // The string value, else nothing (values of other types included).
    std::optional<std::string> stringForKey(const std::string& key) const;
    // The boolean reading of the value; false when absent or not a valid boolean.
    bool boolForKey(const std::string& key) const;

    void setObject(const std::string& key, std::optional<PlistValue> value);
    void setBool(const std::string& key, bool value);
    // False when the write failed.
    bool synchronize();

private:
    Preferences& _preferences;
    std::string _domain;
    PlistDictionary _registered;
};

}  // namespace quaymark
