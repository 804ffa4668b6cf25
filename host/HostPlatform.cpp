#include "HostPlatform.h"

#include "scripting/FinderWindows.h"
#include "scripting/SystemEventsRunner.h"
#include "scripting/TmuxScripting.h"

namespace quaymark {

HostPlatform::HostPlatform(std::string processName, std::string ownDomain)
    : HostPlatform(std::move(processName), std::move(ownDomain), SystemRoot::fromEnvironment(),
                   HostFileManager::homeFromEnvironment()) {}

HostPlatform::HostPlatform(std::string processName, std::string ownDomain, SystemRoot root,
                           std::string home)
    : _log(std::move(processName)),
      _root(std::move(root)),
      _home(std::move(home)),
      _preferences(FilePreferences::forHome(_home, _log, {.ownDomain = std::move(ownDomain)})),
      _workspace(_root, _home),
      _fileManager(_root, _home),
      _mainBundle(HostBundle::forRunningExecutable(_root)),
      _tasks([this](std::string_view path) { return _root.map(path); }),
      // Finder is no tmux terminal: its scripting target comes from this source.
      _scripting(std::make_unique<TmuxScriptingBridge>(
          TmuxDesktop{_root, _home, _workspace},
          [this](const std::string&) -> std::unique_ptr<FinderScripting> {
              return std::make_unique<FinderStandInScripting>(
                  _workspace, FinderWindowsFile::pathForHome(_home));
          })),
      _appleScript(std::make_unique<SystemEventsRunner>(_root, _workspace)),
      _application(_runLoop) {
    _platform = std::make_unique<Platform>(Platform::Services{.preferences = _preferences,
                                                              .workspace = _workspace,
                                                              .fileManager = _fileManager,
                                                              .mainBundle = _mainBundle,
                                                              .tasks = _tasks,
                                                              .scripting = *_scripting,
                                                              .appleScript = *_appleScript,
                                                              .clock = _clock,
                                                              .runLoop = _runLoop,
                                                              .application = _application,
                                                              .log = _log});
}

HostPlatform::~HostPlatform() = default;

}  // namespace quaymark
