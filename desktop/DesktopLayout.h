// Where a stand-in desktop keeps its parts in its folder, how a new one is laid out, and the
// Quaymark.app installed in it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PlistValue.h"
#include "Result.h"
#include "Workspace.h"
#include "launch/SystemRoot.h"

namespace quaymark {

struct DesktopOptions {
    // "ProductVersion" of the system's SystemVersion.plist.
    std::string systemVersion = "10.14.6";
    bool terminal = true;
    bool iTerm = true;
    bool iTerm2 = true;
    bool xterm = true;
    // iTerm2 below 3 speaks the classic scripting vocabulary, from 3 on the next-generation one.
    std::string iTerm2Version = "3.4.0";
    // The shell the stand-in terminals run: "bash" or "zsh".
    std::string shell = "bash";
};

// The built programs a desktop copies into its system root.
struct StandInPrograms {
    std::string finder;    // quaymark-finder
    std::string killall;   // quaymark-killall
    std::string terminal;  // quaymark-standin
    // The programs in the folder of the running executable, where the build puts them.
    static StandInPrograms besideRunningExecutable();
    // Any other built program, by its path relative to that folder.
    static std::string besideRunningExecutable(const std::string& name);
};

enum class InstallLocation { Applications, HomeApplications };

// Runs this source tree's scripts/make-release with `arguments`; the base64 public key it
// printed, or everything it printed when it failed.
Result<std::string> makeRelease(const std::vector<std::string>& arguments);

// Copies the bundle `builtApp` to `target` (replacing what is there), with `infoChanges` set in
// the copy's Info.plist; the reason on failure.
Result<void> copyApplication(const std::string& builtApp, const std::string& target,
                             const PlistDictionary& infoChanges = {});

class DesktopLayout {
public:
    // A desktop laid out earlier in `folder`.
    explicit DesktopLayout(std::string folder);

    // Lays out a new desktop in `folder`, which must be missing or empty; the reason when
    // that failed.
    static Result<void> create(const std::string& folder, const DesktopOptions& options,
                               const StandInPrograms& programs);

    const std::string& folder() const { return _folder; }
    std::string root() const { return _folder + "/root"; }
    std::string home() const { return _folder + "/home"; }
    // XDG_RUNTIME_DIR of the programs on this desktop.
    std::string runtimeFolder() const { return _folder + "/run"; }
    SystemRoot systemRoot() const { return SystemRoot(root()); }
    bool exists() const;

    // Copies a built Quaymark.app into /Applications or ~/Applications, with `infoChanges`
    // set in the copy's Info.plist (another version, feed or public key); the reason on failure.
    Result<void> installQuaymark(const std::string& builtApp, InstallLocation location,
                                 const PlistDictionary& infoChanges = {}) const;
    // The path of the installed Quaymark.app as the system names it, if there is one.
    std::optional<std::string> installedQuaymark() const;

    // The addresses applications asked the desktop to open (in a browser), oldest first.
    std::vector<std::string> urlsOpened() const;

protected:
    // HOME, QUAYMARK_SYSTEM_ROOT, XDG_RUNTIME_DIR and a PATH that finds the desktop's URL
    // opener first.
    Environment folderEnvironment() const;
    // The runtime folder and the URL opener, which desktops laid out before they were part
    // of one get when they are entered.
    void layOutRuntime() const;

private:
    // SystemVersion.plist, Finder, killall and the chosen terminals in the system root.
    Result<void> layOutSystem(const DesktopOptions& options, const StandInPrograms& programs) const;

    std::string _folder;
};

}  // namespace quaymark
