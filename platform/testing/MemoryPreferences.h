// Preference domains held in memory, with a record of what was synchronised.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "CallLog.h"
#include "Preferences.h"

namespace quaymark {

class MemoryPreferences : public Preferences {
public:
    explicit MemoryPreferences(CallLog& calls) : _calls(calls) {}

    std::optional<PlistValue> copyAppValue(const std::string& key,
                                           const std::string& domain) override;
    void setAppValue(const std::string& key, std::optional<PlistValue> value,
                     const std::string& domain) override;
    std::optional<PreferencesFailure> readFailure(const std::string& domain) override;
    std::optional<PreferencesFailure> synchronize(const std::string& domain) override;

    // Puts a value in place as if another process had stored and synchronised it; unlogged.
    void store(const std::string& key, PlistValue value, const std::string& domain);
    // The values of the domain as this process sees them now.
    PlistDictionary values(const std::string& domain) const;
    // The domains passed to synchronize, in call order.
    const std::vector<std::string>& synchronizeCalls() const { return _synchronizeCalls; }
    // True when setAppValue changed the domain after its last synchronisation.
    bool hasUnsynchronizedChanges(const std::string& domain) const {
        return _unsynchronized.contains(domain);
    }
    // synchronize fails while set, dropping the domain's unsynchronised changes as a failed
    // write does.
    void setSynchronizeFails(bool fails) { _synchronizeFails = fails; }
    // While set, the domain reads as nothing stored, readFailure names `failure`, and writes to
    // it fail with it.
    void setUnreadable(const std::string& domain, std::optional<PreferencesFailure> failure);

private:
    CallLog& _calls;
    std::map<std::string, PlistDictionary> _domains;
    // The values as last synchronised, to which a failed synchronisation goes back.
    std::map<std::string, PlistDictionary> _synchronized;
    std::map<std::string, PreferencesFailure> _unreadable;
    std::set<std::string> _unsynchronized;
    std::vector<std::string> _synchronizeCalls;
    bool _synchronizeFails = false;
};

}  // namespace quaymark
