// Per-application preference domains: the CFPreferences calls.
#pragma once

#include <optional>
#include <string>

#include "PlistValue.h"

namespace quaymark {

// Why a domain's stored values could not be read or written: the file (or other store) and
// the reason, e.g. {"/home/u/Library/Preferences/com.apple.finder.plist", "not a property list"}.
// Reasons are short lowercase phrases: "not a property list", "not a dictionary at the top",
// "not a regular file", "permission denied", "lock not obtained within 5 s", or the system's
// own words for an I/O error.
struct PreferencesFailure {
    std::string file;
    std::string reason;
    // "<file>: <reason>", one line.
    std::string message() const;
    bool operator==(const PreferencesFailure&) const = default;
};

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
    // Why the stored values of `domain` cannot be read now; nothing when they can, and when
    // nothing is stored at all. Tells "nothing stored" from "could not read", which
    // copyAppValue does not.
    virtual std::optional<PreferencesFailure> readFailure(const std::string& domain) = 0;
    // Writes this process's changes out; why it failed, nothing on success. A failed write
    // drops the domain's pending changes, so that no later synchronisation writes them over
    // a file that has changed since.
    virtual std::optional<PreferencesFailure> synchronize(const std::string& domain) = 0;

    // CFPreferencesAppSynchronize: false when synchronize failed.
    bool appSynchronize(const std::string& domain) { return !synchronize(domain); }

    // CFPreferencesGetAppBooleanValue: the boolean when the key holds one in a valid form
    // (a boolean; an integer, non-zero meaning true; a string "true"/"YES"/"false"/"NO" in
    // any letter case); nothing otherwise.
    std::optional<bool> appBooleanValue(const std::string& key, const std::string& domain);
};

// The boolean reading of a stored value, by the rules of appBooleanValue.
std::optional<bool> booleanForm(const PlistValue& value);

}  // namespace quaymark
