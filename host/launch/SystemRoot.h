// Where the fixed system paths live on this machine.
#pragma once

#include <string>
#include <string_view>

namespace quaymark {

// The system's fixed paths ("/Applications", "/System/...", "/Library/...",
// "/usr/X11R6/...", "/usr/bin/killall") live under the directory named by
// QUAYMARK_SYSTEM_ROOT when it is set, so a whole desktop fits in a sandbox. Every other
// path (the user's folders, $HOME) is a real path and passes unchanged, which lets a real
// shell cd into the folders the programs name. This class is the only place that knows.
class SystemRoot {
public:
    // An empty root maps every path to itself.
    explicit SystemRoot(std::string root);
    static SystemRoot fromEnvironment();

    const std::string& root() const { return _root; }
    // The real path of a path as the system names it.
    std::string map(std::string_view systemPath) const;
    // The path as the system names it of a real path (the inverse of map).
    std::string unmap(std::string_view realPath) const;
    static bool isSystemPath(std::string_view path);
    // The folder for this desktop's runtime state (the running-application registry):
    // "<root>/private/var/run/quaymark" inside a system root, else under XDG_RUNTIME_DIR
    // or /tmp, per user.
    std::string runtimeDirectory() const;

private:
    std::string _root;
};

}  // namespace quaymark
