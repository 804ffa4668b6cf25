// The services a subsystem is given, bundled so that tests can replace any one of them.
#pragma once

#include "Bundle.h"
#include "FileManager.h"
#include "Preferences.h"
#include "Scripting.h"
#include "System.h"
#include "Tasks.h"
#include "Workspace.h"

namespace quaymark {

// Passed by value everywhere: a bundle of references, cheap to copy. The services it names
// must outlive every copy.
struct Platform {
    Preferences& preferences;
    Workspace& workspace;
    FileManager& fileManager;
    Bundle& mainBundle;
    TaskLauncher& tasks;
    ScriptingBridge& scripting;
    AppleScriptRunner& appleScript;
    Clock& clock;
    RunLoop& runLoop;
    Application& application;
    Log& log;
};

}  // namespace quaymark
