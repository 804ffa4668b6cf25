// One of each test double, wired together, and the Platform that hands them out.
#pragma once

#include "FakeBundle.h"
#include "ManualSystem.h"
#include "MemoryFileManager.h"
#include "MemoryPreferences.h"
#include "Platform.h"
#include "RecordingTaskLauncher.h"
#include "RecordingWorkspace.h"
#include "ScriptedAppleScriptRunner.h"
#include "ScriptedBridge.h"

namespace quaymark {

// Every double records into `calls`. The bridge hands out Finder ("com.apple.Finder"),
// Terminal, iTerm (classic) and iTerm2 (classic until told otherwise); the three terminals
// tell the workspace whether they run and take the Command-T keystroke by process name.
// Nothing is installed, running or open at the start.
struct TestPlatform {
    TestPlatform() = default;
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    Platform platform() {
        return Platform({.preferences = preferences,
                         .workspace = workspace,
                         .fileManager = fileManager,
                         .mainBundle = mainBundle,
                         .tasks = tasks,
                         .scripting = scripting,
                         .appleScript = appleScript,
                         .clock = clock,
                         .runLoop = runLoop,
                         .application = application,
                         .log = log});
    }

    CallLog calls;
    ScriptedFinder finder{calls};
    ScriptedTerminal terminal{calls};
    ScriptedITerm iTerm{calls, {402, "net.sourceforge.iTerm", "iTerm"}};
    ScriptedITerm iTerm2{calls, {403, "com.googlecode.iterm2", "iTerm2"}};
    MemoryPreferences preferences{calls};
    RecordingWorkspace workspace{calls, {&terminal, &iTerm, &iTerm2}};
    MemoryFileManager fileManager{calls};
    FakeBundle mainBundle{calls};
    RecordingTaskLauncher tasks{calls};
    ScriptedBridge scripting{calls, finder, terminal, iTerm, iTerm2};
    ScriptedAppleScriptRunner appleScript{calls, {&terminal, &iTerm, &iTerm2}};
    ManualClock clock{calls};
    ManualRunLoop runLoop{calls, clock};
    ImmediateApplication application{calls};
    RecordingLog log{calls};
};

}  // namespace quaymark
