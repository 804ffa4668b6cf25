#include "DesktopServices.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "display/XvfbServer.h"
#include "launch/HostWorkspace.h"
#include "plist/PlistCodec.h"
#include "posix/Spawn.h"
#include "preferences/AtomicFile.h"
#include "standins/FinderKeeper.h"

namespace quaymark {

namespace fs = std::filesystem;

namespace {

// The feed server prints its address as soon as it listens.
constexpr auto kFeedReadyTime = std::chrono::seconds(10);
// A server that does not end on SIGTERM within this time is killed.
constexpr auto kServiceGrace = std::chrono::seconds(3);

}  // namespace

Environment DesktopServices::environment() const {
    Environment environment = folderEnvironment();
    if (std::optional<DesktopService> shown = display())
        environment["DISPLAY"] = shown->address;
    return environment;
}

void DesktopServices::enter() const {
    // Desktops laid out before the runtime folder was part of them get it now.
    layOutRuntime();
    for (const auto& [name, value] : environment())
        setenv(name.c_str(), value.c_str(), 1);
}

Result<void> DesktopServices::installQuaymarkForUpdates(const std::string& builtApp,
                                                        const std::string& version,
                                                        const std::string& publicKey) const {
    const std::optional<DesktopService> served = feed();
    if (!served)
        return Result<void>::failure("the desktop serves no feed");
    return installQuaymark(builtApp, InstallLocation::Applications,
                           {{"CFBundleVersion", version},
                            {"CFBundleShortVersionString", version},
                            {"SUFeedURL", served->address + "appcast.xml"},
                            {"SUPublicEDKey", publicKey}});
}

std::string DesktopServices::installedQuaymarkVersion() const {
    const std::optional<std::string> app = installedQuaymark();
    if (!app)
        return "Quaymark is not installed";
    Result<ProcessOutcome> shown =
        runAndCollect({.executable = systemRoot().map(*app + "/Contents/MacOS/Quaymark"),
                       .arguments = {"--version"},
                       .environment = environment(),
                       .capture = Capture::Both},
                      std::chrono::seconds(20));
    if (!shown)
        return shown.error();
    std::string text = shown->output + shown->errorOutput;
    if (text.ends_with('\n'))
        text.pop_back();
    return text;
}

std::optional<std::string> DesktopServices::bundleIdentifierForApplication(
    const std::string& name) {
    if (name == "Finder")
        return std::string("com.apple.finder");
    if (name == "Terminal")
        return std::string("com.apple.Terminal");
    if (name == "iTerm")
        return std::string("net.sourceforge.iTerm");
    if (name == "iTerm2")
        return std::string("com.googlecode.iterm2");
    if (name == "Quaymark")
        return std::string("com.brindlewood.Quaymark");
    if (name.find('.') != std::string::npos)
        return name;
    return std::nullopt;
}

int DesktopServices::startApplication(const std::string& name) const {
    std::optional<std::string> identifier = bundleIdentifierForApplication(name);
    if (!identifier)
        return -1;
    enter();
    HostWorkspace workspace(systemRoot(), home());
    std::optional<std::string> path = workspace.absolutePathForAppBundleWithIdentifier(*identifier);
    if (!path)
        return -1;
    return workspace.launchBundle(*path, {});
}

bool DesktopServices::stopApplication(const std::string& name) const {
    std::optional<std::string> identifier = bundleIdentifierForApplication(name);
    if (!identifier)
        return false;
    HostWorkspace workspace(systemRoot(), home());
    // A Finder that ends is started again by its keeper, as on a Mac; stopping Finder on purpose
    // ends the keeper first. A Finder that was just starting may have started a keeper anew
    // before it was ended, so the two are looked at again until neither runs.
    const bool finder = *identifier == "com.apple.finder";
    bool stopped = false;
    for (int round = 0; round < 3; ++round) {
        std::optional<int> keeper = finder ? FinderKeeper::running(systemRoot()) : std::nullopt;
        if (keeper)
            endProcess(*keeper, kServiceGrace);
        std::vector<RunningApplication> running =
            workspace.runningApplicationsWithBundleIdentifier(*identifier);
        for (const RunningApplication& application : running) {
            endProcess(application.pid, std::chrono::seconds(5));
            workspace.registry().remove(application.pid);
        }
        stopped = stopped || !running.empty() || keeper;
        if (!finder || (!keeper && running.empty()))
            break;
    }
    return stopped;
}

std::vector<RunningApplication> DesktopServices::runningApplications() const {
    return HostWorkspace(systemRoot(), home()).runningApplications();
}

void DesktopServices::stopAll() const {
    // Finder first, with its keeper, which would otherwise start it again meanwhile.
    stopApplication("Finder");
    for (const RunningApplication& application : runningApplications()) {
        stopApplication(application.bundleIdentifier);
    }
}

std::optional<DesktopService> DesktopServices::service(const std::string& name) const {
    std::optional<DecodedPlist> record = readPlistFile(servicesFile());
    const PlistDictionary* services = record ? record->value.asDictionary() : nullptr;
    const PlistValue* entry = services ? services->find(name) : nullptr;
    const PlistDictionary* fields = entry ? entry->asDictionary() : nullptr;
    if (!fields)
        return std::nullopt;
    const PlistValue* pid = fields->find("Pid");
    const PlistValue* started = fields->find("Started");
    const PlistValue* address = fields->find("Address");
    if (!pid || !pid->asInteger() || !started || !started->asInteger() || !address ||
        !address->asString()) {
        return std::nullopt;
    }
    // A recorded pid names our server only while a process with that pid has run since the
    // time recorded with it; otherwise the number may have gone to another process.
    auto runningSince = processStartTime(static_cast<int>(*pid->asInteger()));
    if (!runningSince || static_cast<std::int64_t>(*runningSince) != *started->asInteger())
        return std::nullopt;
    return DesktopService{static_cast<int>(*pid->asInteger()), *address->asString()};
}

bool DesktopServices::recordService(const std::string& name, const DesktopService& service) const {
    std::optional<DecodedPlist> record = readPlistFile(servicesFile());
    const PlistDictionary* read = record ? record->value.asDictionary() : nullptr;
    PlistDictionary services = read ? *read : PlistDictionary{};
    auto started = processStartTime(service.pid);
    if (!started)
        return false;
    services.set(
        name, PlistDictionary{{"Pid", PlistValue::integer(service.pid)},
                              {"Started", PlistValue::integer(static_cast<std::int64_t>(*started))},
                              {"Address", service.address}});
    return writePlistFileAtomically(servicesFile(), services);
}

Result<void> DesktopServices::startDisplay() const {
    if (display())
        return Result<void>::success();
    if (!XvfbServer::isInstalled()) {
        return Result<void>::failure(std::string(XvfbServer::kProgram) +
                                     " is not installed (Debian package xvfb)");
    }
    Result<StartedXvfb> xvfb = XvfbServer::start();
    if (!xvfb)
        return Result<void>::failure(xvfb.error());
    if (!recordService("Display", {xvfb->pid, xvfb->display})) {
        endProcess(xvfb->pid, kServiceGrace);
        return Result<void>::failure("cannot record the display in " + servicesFile());
    }
    return Result<void>::success();
}

std::optional<DesktopService> DesktopServices::display() const {
    return service("Display");
}

Result<void> DesktopServices::serveFeed(const std::string& folder, const std::string& serverProgram,
                                        const std::vector<std::string>& options) const {
    if (feed())
        return Result<void>::success();
    if (access(serverProgram.c_str(), X_OK) != 0)
        return Result<void>::failure(serverProgram + " is not built");
    fs::path log = feedServerLog();
    std::error_code error;
    fs::remove(log, error);
    std::vector<std::string> arguments{folder};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Result<StartedProcess> started = spawnProcess({.executable = serverProgram,
                                                   .arguments = arguments,
                                                   .logFile = log.string(),
                                                   .detached = true});
    if (!started)
        return Result<void>::failure("cannot start " + serverProgram + ": " + started.error());
    // The server's first line of standard output is its address; anything it says on
    // standard error goes to the same log and is passed over.
    auto deadline = std::chrono::steady_clock::now() + kFeedReadyTime;
    while (std::chrono::steady_clock::now() < deadline && processStartTime(started->pid)) {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            // A line without its line end may still be being written.
            if (line.starts_with("http://127.0.0.1:") && !in.eof()) {
                if (!recordService("Feed", {started->pid, line}))
                    break;
                return Result<void>::success();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    endProcess(started->pid, kServiceGrace);
    return Result<void>::failure("the feed server gave no address; its log is " + log.string());
}

std::optional<DesktopService> DesktopServices::feed() const {
    return service("Feed");
}

std::string DesktopServices::feedServerOutput() const {
    std::ifstream in(feedServerLog());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool DesktopServices::releaseHeldFeedRequests() const {
    const std::optional<DesktopService> served = feed();
    return served && processStartTime(served->pid) && ::kill(served->pid, SIGUSR1) == 0;
}

void DesktopServices::stopServices() const {
    for (const char* name : {"Feed", "Display"}) {
        if (std::optional<DesktopService> running = service(name))
            endProcess(running->pid, kServiceGrace);
    }
    std::error_code error;
    fs::remove(servicesFile(), error);
}

}  // namespace quaymark
