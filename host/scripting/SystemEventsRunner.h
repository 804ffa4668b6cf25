// System Events on a desktop with stand-in terminals: the Command-T keystroke script.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Scripting.h"
#include "launch/HostWorkspace.h"
#include "launch/SystemRoot.h"

namespace quaymark {

class SystemEventsRunner : public AppleScriptRunner {
public:
    SystemEventsRunner(SystemRoot root, HostWorkspace& workspace)
        : _root(std::move(root)), _workspace(workspace) {}

    // Carries out exactly `tell application "System Events" to tell process "<Name>" to
    // keystroke "t" using command down`: the running stand-in terminal whose process is
    // <Name> opens a new tab after the last tab of its front window (a new window when it
    // has none), and that tab becomes the selected one. The failure's message for any other
    // script, or a name that is no running stand-in terminal's process.
    Result<void> executeScript(const std::string& source) override;

    // The process a keystroke script addresses; nothing for any other text.
    static std::optional<std::string> keystrokeProcess(std::string_view source);

    // Whether System Events on the desktop of `root` refuses every keystroke, as on a Mac
    // where the program has not been given the permission to control the computer. Kept
    // as a flag file in the desktop's runtime folder, so it holds for every program there.
    static bool refusesKeystrokes(const SystemRoot& root);
    // False when the flag file could not be made or removed.
    static bool setRefusesKeystrokes(const SystemRoot& root, bool refuses);

private:
    SystemRoot _root;
    HostWorkspace& _workspace;
};

}  // namespace quaymark
