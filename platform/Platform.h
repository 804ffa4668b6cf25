// The services a subsystem is given, bundled so that tests can replace any one of them.
#pragma once

#include <functional>

#include "Bundle.h"
#include "FileManager.h"
#include "Preferences.h"
#include "Scripting.h"
#include "System.h"
#include "Tasks.h"
#include "Workspace.h"

namespace quaymark {

// Passed by value everywhere: a bundle of references, cheap to copy. The services it names
// must outlive every copy. The host and the test doubles each make one from all their
// services, by name; anything else starts from one of those and replaces services by name
// (`test.platform().withBundle(bundle)`).
struct Platform {
    // Every service, named, for the one place that owns them all. A service left out does
    // not compile.
    struct Services {
        std::reference_wrapper<Preferences> preferences;
        std::reference_wrapper<Workspace> workspace;
        std::reference_wrapper<FileManager> fileManager;
        std::reference_wrapper<Bundle> mainBundle;
        std::reference_wrapper<TaskLauncher> tasks;
        std::reference_wrapper<ScriptingBridge> scripting;
        std::reference_wrapper<AppleScriptRunner> appleScript;
        std::reference_wrapper<Clock> clock;
        std::reference_wrapper<RunLoop> runLoop;
        std::reference_wrapper<Application> application;
        std::reference_wrapper<Log> log;
    };

    explicit Platform(const Services& services)
        : preferences(services.preferences),
          workspace(services.workspace),
          fileManager(services.fileManager),
          mainBundle(services.mainBundle),
          tasks(services.tasks),
          scripting(services.scripting),
          appleScript(services.appleScript),
          clock(services.clock),
          runLoop(services.runLoop),
          application(services.application),
          log(services.log) {}

    // This platform with one service replaced.
    Platform withPreferences(Preferences& service) const {
        return with(&Services::preferences, service);
    }
    Platform withWorkspace(Workspace& service) const { return with(&Services::workspace, service); }
    Platform withFileManager(FileManager& service) const {
        return with(&Services::fileManager, service);
    }
    Platform withBundle(Bundle& service) const { return with(&Services::mainBundle, service); }
    Platform withTasks(TaskLauncher& service) const { return with(&Services::tasks, service); }
    Platform withScripting(ScriptingBridge& service) const {
        return with(&Services::scripting, service);
    }
    Platform withAppleScript(AppleScriptRunner& service) const {
        return with(&Services::appleScript, service);
    }
    Platform withClock(Clock& service) const { return with(&Services::clock, service); }
    Platform withRunLoop(RunLoop& service) const { return with(&Services::runLoop, service); }
    Platform withApplication(Application& service) const {
        return with(&Services::application, service);
    }
    Platform withLog(Log& service) const { return with(&Services::log, service); }

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

private:
    template <typename Service>
    Platform with(std::reference_wrapper<Service> Services::*field, Service& service) const {
        Services services{.preferences = preferences,
                          .workspace = workspace,
                          .fileManager = fileManager,
                          .mainBundle = mainBundle,
                          .tasks = tasks,
                          .scripting = scripting,
                          .appleScript = appleScript,
                          .clock = clock,
                          .runLoop = runLoop,
                          .application = application,
                          .log = log};
        services.*field = service;
        return Platform(services);
    }
};

}  // namespace quaymark
