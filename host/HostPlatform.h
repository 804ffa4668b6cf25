// The host realisation of every platform service, assembled for one program.
#pragma once

#include <memory>

#include "HostSystem.h"
#include "Platform.h"
#include "launch/HostBundle.h"
#include "launch/HostFileManager.h"
#include "launch/HostWorkspace.h"
#include "launch/SystemRoot.h"
#include "posix/PosixTaskLauncher.h"
#include "preferences/FilePreferences.h"

namespace quaymark {

// The services it owns live as long as it does.
class HostPlatform {
public:
    // The system root and home of this process's environment (QUAYMARK_SYSTEM_ROOT, HOME).
    // `ownDomain` names the program's own preference domain (see FilePreferencesOptions).
    HostPlatform(std::string processName, std::string ownDomain);
    HostPlatform(std::string processName, std::string ownDomain, SystemRoot root, std::string home);
    ~HostPlatform();

    Platform platform() { return *_platform; }
    const SystemRoot& systemRoot() const { return _root; }

private:
    // First, since the services below log through it.
    StderrLog _log;
    SystemRoot _root;
    std::string _home;
    FilePreferences _preferences;
    HostWorkspace _workspace;
    HostFileManager _fileManager;
    HostBundle _mainBundle;
    PosixTaskLauncher _tasks;
    std::unique_ptr<ScriptingBridge> _scripting;
    std::unique_ptr<AppleScriptRunner> _appleScript;
    SystemClock _clock;
    BasicRunLoop _runLoop;
    RunLoopApplication _application;
    std::unique_ptr<Platform> _platform;
};

}  // namespace quaymark
