// The commands that lay a desktop out, install Quaymark in it, run programs on it and remove
// it.
#include <filesystem>
#include <ostream>

#include "commands/DesktopCommand.h"
#include "posix/Spawn.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

DesktopOptions optionsFrom(const ToolArguments& arguments) {
    DesktopOptions options;
    options.systemVersion = arguments.option("--system-version", options.systemVersion);
    options.iTerm2Version = arguments.option("--iterm2-version", options.iTerm2Version);
    options.shell = arguments.option("--shell", options.shell);
    if (arguments.options.contains("--terminals")) {
        std::string list = "," + arguments.option("--terminals", "") + ",";
        options.terminal = list.find(",Terminal,") != std::string::npos;
        options.iTerm = list.find(",iTerm,") != std::string::npos;
        options.iTerm2 = list.find(",iTerm2,") != std::string::npos;
        options.xterm = list.find(",xterm,") != std::string::npos;
    }
    return options;
}

int create(const Invocation& call) {
    if (call.words.size() != 1) {
        call.err << "usage: quaymark-desktop create DESKTOP [options]\n";
        return 2;
    }
    Result<void> created = Desktop::create(call.words[0], optionsFrom(call.arguments),
                                           StandInPrograms::besideRunningExecutable());
    if (!created) {
        call.err << created.error() << "\n";
        return 1;
    }
    call.out << "created " << fs::canonical(call.words[0]).string() << "\n";
    return 0;
}

int install(const Invocation& call) {
    std::string app = call.words.empty() ? QUAYMARK_BUILT_APP : call.words[0];
    InstallLocation location = call.arguments.hasFlag("--home") ? InstallLocation::HomeApplications
                                                                : InstallLocation::Applications;
    PlistDictionary infoChanges;
    for (const std::string& info : call.arguments.infos) {
        const std::size_t equals = info.find('=');
        if (equals == 0 || equals == std::string::npos) {
            call.err << "--info wants KEY=VALUE, not \"" << info << "\"\n";
            return 2;
        }
        infoChanges.set(info.substr(0, equals), info.substr(equals + 1));
    }
    Result<void> installed = call.desktop->installQuaymark(app, location, infoChanges);
    if (!installed) {
        call.err << installed.error() << "\n";
        return 1;
    }
    call.out << "installed " << call.desktop->installedQuaymark().value_or("?") << "\n";
    return 0;
}

int env(const Invocation& call) {
    for (const auto& [name, value] : call.desktop->environment())
        call.out << "export " << name << "='" << value << "'\n";
    return 0;
}

int run(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    SpawnRequest request;
    request.executable = words[0].find('/') == std::string::npos ? "/usr/bin/env" : words[0];
    request.arguments.assign(words.begin() + (request.executable == "/usr/bin/env" ? 0 : 1),
                             words.end());
    request.environment = currentEnvironment();
    Result<StartedProcess> started = spawnProcess(request);
    if (!started) {
        call.err << started.error() << "\n";
        return 127;
    }
    std::optional<int> status = waitForChild(started->pid);
    return status ? exitStatusOf(*status) : 127;
}

int destroy(const Invocation& call) {
    call.desktop->stopAll();
    call.desktop->stopServices();
    std::error_code error;
    fs::remove_all(call.desktop->folder(), error);
    return error ? 1 : 0;
}

}  // namespace

const DesktopCommand kCreateCommand{
    .name = "create",
    .arguments =
        "DESKTOP [--system-version 10.14.6] [--terminals Terminal,iTerm,iTerm2,xterm]\n"
        "                 [--iterm2-version 3.4.0] [--shell bash|zsh]",
    .usage = "lay out a fresh desktop: system root, home, stand-in applications",
    .handler = create,
    .onDesktop = false};

const DesktopCommand kInstallCommand{
    .name = "install",
    .arguments = "[--home] [--info KEY=VALUE]... [APP]",
    .usage =
        "copy a built Quaymark.app into /Applications (or ~/Applications),\n"
        "with each KEY of the copy's Info.plist set to the text VALUE\n"
        "(CFBundleVersion, SUFeedURL, SUPublicEDKey, ...)",
    .handler = install};

const DesktopCommand kEnvCommand{
    .name = "env",
    .usage = "the environment that runs programs on this desktop, as shell lines",
    .handler = env};

const DesktopCommand kRunCommand{
    .name = "run",
    .arguments = "COMMAND...",
    .usage = "run a command on this desktop and pass on its exit status",
    .handler = run,
    .fewestWords = 1};

const DesktopCommand kDestroyCommand{
    .name = "destroy",
    .usage = "end every application of the desktop and remove its folder",
    .handler = destroy};

}  // namespace quaymark
