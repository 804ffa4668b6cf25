// Preference domains as property-list files in one folder, shared safely between processes.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Preferences.h"
#include "System.h"

namespace quaymark {

struct FilePreferencesOptions {
    // The domain of this program's own settings (empty: none). Only its file is moved aside
    // when it is not a property list; any other domain's file that cannot be read is left
    // exactly as it is, and writes to that domain fail.
    std::string ownDomain{};
    // How long synchronize waits for another process's lock before it gives up.
    std::chrono::milliseconds lockTimeLimit = std::chrono::seconds(5);
};

// Domain D lives in <folder>/D.plist. Reads go to the file afresh each time and take no lock:
// writers replace it by an atomic rename, so a reader sees the old file or the new one, whole.
// synchronize holds an exclusive flock on <folder>/D.plist.lock (the lock cannot be on the
// file itself, whose inode each write replaces), re-reads the file and applies this process's
// changes key by key, so keys other processes wrote in the meantime survive. The file keeps
// its format and mode (new files are XML, 0600). The own domain's file that is not a property
// list is renamed to D.plist.corrupt-<unix time>-<pid>, never over an earlier one, and the
// domain starts empty.
class KeptDomains;

class FilePreferences : public Preferences {
public:
    FilePreferences(std::string preferencesFolder, Log& log, FilePreferencesOptions options = {});
    ~FilePreferences() override;
    // The preferences of the user whose home folder is `homePath`.
    static FilePreferences forHome(const std::string& homePath, Log& log,
                                   FilePreferencesOptions options = {});

    // Nothing also when the domain's file cannot be read (readFailure says why).
    std::optional<PlistValue> copyAppValue(const std::string& key,
                                           const std::string& domain) override;
    // A value no property-list file can hold unaltered (a string with a NUL byte or invalid
    // UTF-8, say) is not taken: the call is logged and changes nothing.
    void setAppValue(const std::string& key, std::optional<PlistValue> value,
                     const std::string& domain) override;
    // Also a failure when the writers' lock of the domain stays taken past the time limit:
    // the domain can be read then, but not changed.
    std::optional<PreferencesFailure> readFailure(const std::string& domain) override;
    // Fails when the domain name is refused, the lock is not obtained in time, the file
    // cannot be read (and is not the own domain's unparseable one), or it cannot be written.
    // With no change pending it touches nothing and succeeds.
    std::optional<PreferencesFailure> synchronize(const std::string& domain) override;

    const std::string& folder() const { return _folder; }
    // The file of `domain`; nothing when the name is refused: empty, ".", "..", or holding "/"
    // or a NUL byte (refused rather than sanitised, since a sanitised name could land on
    // another domain's file), or too long for the file names kept beside it.
    std::optional<std::string> fileOfDomain(const std::string& domain) const;

private:
    // In the order first set, so new keys are appended to the file in that order.
    using PendingChanges = std::vector<std::pair<std::string, std::optional<PlistValue>>>;

    std::optional<PreferencesFailure> write(const std::string& domain, const std::string& file,
                                            const PendingChanges& changes);
    PreferencesFailure lockFailure(const std::string& file) const;

    std::string _folder;
    Log& _log;
    FilePreferencesOptions _options;
    std::mutex _mutex;
    std::map<std::string, PendingChanges> _pending;
    // What each domain's file held when last read, for as long as it stays that file.
    std::unique_ptr<KeptDomains> _kept;
};

}  // namespace quaymark
