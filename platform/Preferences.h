// Per-application preference domains: the CFPreferences calls.
#pragma once

#include <optional>
#include <string>

#include "PlistValue.h"

namespace quaymark {

class Preferences {
public:
    virtual ~Preferences() = default;

    // The value stored under `key` in `domain` for the current user (this process's
    // unsynchronised changes included); nothing when absent or unreadable.
    virtual std::optional<PlistValue> copyAppValue(const std::string& key,
                                                   const std::string& domain) = 0;
    // Replaces the whole value under `key`; nothing removes the key. Takes effect for
    // this process at once and for others after appSynchronize.
    virtual void setAppValue(const std::string& key, std::optional<PlistValue> value,
                             const std::string& domain) = 0;
    // Writes this process's changes out and re-reads the domain; false when the write failed
    // (the changes are then kept for the next attempt).
    virtual bool appSynchronize(const std::string& domain) = 0;

    // CFPreferencesGetAppBooleanValue: the boolean when the key holds one in a valid form
    // (a boolean; an integer, non-zero meaning true; a string "true"/"YES"/"false"/"NO" in
    // any letter case); nothing otherwise.
    std::optional<bool> appBooleanValue(const std::string& key, const std::string& domain);
};

// The boolean reading of a stored value, by the rules of appBooleanValue.
std::optional<bool> booleanForm(const PlistValue& value);

}  // namespace quaymark
