// Preference domains as property-list files in one folder, shared safely between processes.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Preferences.h"

namespace quaymark {

// Domain D lives in <folder>/D.plist. Reads go to the file afresh each time: writers replace
// it by an atomic rename, so a reader sees the old file or the new one, whole. appSynchronize
// holds an exclusive flock on <folder>/D.plist.lock (the lock cannot be on the file itself,
// whose inode each write replaces), re-reads the file and applies this process's changes key by
// key, so keys other processes wrote in the meantime survive. The file keeps its format (new
// files are XML). A file that cannot be parsed, or holds no dictionary, is renamed to
// D.plist.corrupt-<unix time>-<pid>, never over an earlier one, and the domain starts empty.
class FilePreferences : public Preferences {
public:
    explicit FilePreferences(std::string preferencesFolder);
    // The preferences of the user whose home folder is `homePath`.
    static FilePreferences forHome(const std::string& homePath);

    // Nothing also when the domain's file is missing, unreadable or cannot be parsed.
    std::optional<PlistValue> copyAppValue(const std::string& key,
                                           const std::string& domain) override;
    // A value no property-list file can hold unaltered (a string with a NUL byte or invalid
    // UTF-8, a date beyond 1932..2069) is not taken: the call is logged and changes nothing.
    void setAppValue(const std::string& key, std::optional<PlistValue> value,
                     const std::string& domain) override;
    std::optional<PreferencesFailure> readFailure(const std::string& domain) override;
    // Fails when the domain name is refused, or the folder, lock or file cannot be made,
    // read or written.
    std::optional<PreferencesFailure> synchronize(const std::string& domain) override;

    const std::string& folder() const { return _folder; }
    // The file of `domain`; nothing when the name is refused: empty, ".", "..", or holding "/"
    // or a NUL byte (refused rather than sanitised, since a sanitised name could land on
    // another domain's file), or too long for the file names kept beside it.
    std::optional<std::string> fileOfDomain(const std::string& domain) const;

private:
    // In the order first set, so new keys are appended to the file in that order.
    using PendingChanges = std::vector<std::pair<std::string, std::optional<PlistValue>>>;

    bool synchronizeLocked(const std::string& file, const PendingChanges& changes);

    std::string _folder;
    std::mutex _mutex;
    std::map<std::string, PendingChanges> _pending;
};

}  // namespace quaymark
