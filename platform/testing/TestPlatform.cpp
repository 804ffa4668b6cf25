#include "TestPlatform.h"

namespace quaymark {

TestPlatform::TestPlatform() {
    scripting.add("com.apple.Finder", finder);
    scripting.add("com.apple.Terminal", terminal);
    scripting.add("net.sourceforge.iTerm", iTerm);
    scripting.add("com.googlecode.iterm2", iTerm2);
    for (ScriptedITerm* model : {&iTerm, &iTerm2}) {
        workspace.attach(*model);
        appleScript.attach(*model);
    }
    workspace.attach(terminal);
    appleScript.attach(terminal);
}

Platform TestPlatform::platform() {
    return Platform{preferences, workspace, fileManager, mainBundle,  tasks, scripting,
                    appleScript, clock,     runLoop,     application, log};
}

}  // namespace quaymark
