#include "commands/UpdateStory.h"

#include <chrono>
#include <filesystem>
#include <ostream>

#include "HostPlatform.h"
#include "QuaymarkPreferences.h"
#include "commands/DesktopCommand.h"

namespace quaymark {

namespace fs = std::filesystem;

UpdateStory::UpdateStory(const Desktop& desktop, const std::optional<DisplayWindows>& display,
                         const std::string& folder)
    : _desktop(desktop),
      _display(display),
      _folder(folder),
      _feed((fs::path(desktop.folder()) / "feed").string()),
      _keys((fs::path(desktop.folder()) / "release-key").string()) {}

std::vector<Step> UpdateStory::steps() {
    std::vector<Step> steps = releaseSteps();
    for (Step& step : updateSteps())
        steps.push_back(std::move(step));
    return steps;
}

std::vector<Step> UpdateStory::releaseSteps() {
    return {
        {.name = "serve a feed",
         .run = [this] { return serveFeed(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== Update story. A feed is served from " << _feed << " at " << _address
                     << "\n";
             }},
        {.name = "pack 1.1 into the feed",
         .run = [this] { return packRelease(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== make-release packed Quaymark 1.1, signed with a new key in " << _keys
                     << ", into the feed\n";
             }},
        {.name = "install 1.0 reading that feed",
         .run = [this] { return installOldVersion(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== Installed with that feed and key: Quaymark --version says " << _version
                     << "\n";
             }},
        {.name = "make the next click check for updates",
         .run = [this] { return setLaunchDateBack(); },
         .tell =
             [](std::ostream& out) {
                 out << "== \"Last Launch Date\" set three days back, so the next click checks "
                        "for updates\n";
             }},
    };
}

std::vector<Step> UpdateStory::updateSteps() {
    return {
        {.name = "click",
         .run = [this] { return clickForUpdate(); },
         .tell =
             [](std::ostream& out) {
                 out << "== Click: Terminal opens the folder, and the button starts Quaymark for "
                        "updates\n";
             }},
        {.name = "the update window",
         .run = [this] { return waitForOffer(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== The update window shows: " << describeWindow(*_offer) << "\n";
             }},
        {.name = "install the update",
         .run = [this] { return installUpdate(); },
         .tell =
             [](std::ostream& out) {
                 out << "== Return pressed on the display: Install Update\n";
             }},
        {.name = "the new version in place",
         .run = [this] { return waitForNewVersion(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== 1.0 has ended and the new version shows its window: "
                     << describeWindow(*_relaunched) << "\n"
                     << "== $ /Applications/Quaymark.app/Contents/MacOS/Quaymark --version: "
                     << _version << "\n";
             }},
        {.name = "a click afterwards",
         .run = [this] { return clickAfterwards(); },
         .tell =
             [this](std::ostream& out) {
                 out << "== A click afterwards " << (_opened ? "opens" : "did not open")
                     << " a terminal at the folder\n";
             }},
        {.name = "1.1 runs and clicks still open terminals",
         .run =
             [this] {
                 _desktop.stopApplication("Quaymark");
                 // Both were told in the lines before; nothing more to say.
                 return _version == "Quaymark 1.1" && _opened ? Result<void>::success()
                                                              : Result<void>::failure("");
             }},
    };
}

Result<void> UpdateStory::serveFeed() {
    _desktop.stopApplication("Quaymark");
    fs::create_directories(_feed);
    Result<void> served = _desktop.serveFeed(
        _feed, StandInPrograms::besideRunningExecutable("feed/quaymark-feed-server"));
    if (served)
        _address = _desktop.feed()->address;
    return served;
}

Result<void> UpdateStory::packRelease() {
    Result<std::string> made =
        makeRelease({"--version", "1.1", "--app", QUAYMARK_BUILT_APP, "--new-key", _keys, "--feed",
                     _feed, "--url", _address, "--feed-url", _address + "appcast.xml"});
    if (!made) {
        std::string printed = made.error();
        if (printed.ends_with('\n'))
            printed.pop_back();
        return Result<void>::failure("make-release failed: " + printed);
    }
    _publicKey = made.value();
    return Result<void>::success();
}

Result<void> UpdateStory::installOldVersion() {
    Result<void> installed =
        _desktop.installQuaymarkForUpdates(QUAYMARK_BUILT_APP, "1.0", _publicKey);
    if (installed)
        _version = _desktop.installedQuaymarkVersion();
    return installed;
}

Result<void> UpdateStory::setLaunchDateBack() {
    HostPlatform host("quaymark-desktop", kPreferencesDomain, _desktop.systemRoot(),
                      _desktop.home());
    Preferences& preferences = host.platform().preferences;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    preferences.setAppValue(
        preference_key::kLastLaunchDate,
        PlistDate::fromUnixSeconds(std::chrono::duration<double>(now).count() - 3 * 86400 - 60),
        kPreferencesDomain);
    if (!preferences.appSynchronize(kPreferencesDomain))
        return Result<void>::failure("cannot store the last launch date");
    return Result<void>::success();
}

Result<void> UpdateStory::clickForUpdate() {
    std::size_t windowsBefore = terminalWindowCount(_desktop);
    PlistDictionary click = _desktop.clickToolbarItem(std::nullopt);
    if (click.contains("Error") || waitForTerminalIn(_desktop, _folder, windowsBefore).empty())
        return Result<void>::failure("the click opened no terminal at the folder: " +
                                     describe(click));
    return Result<void>::success();
}

Result<void> UpdateStory::waitForOffer() {
    _offer = _display->waitForWindow("Software Update", kSettingsShowTime);
    return _offer ? Result<void>::success() : Result<void>::failure("no update window came");
}

Result<void> UpdateStory::installUpdate() {
    return _display->pressKeys(*_offer, {"Return"})
               ? Result<void>::success()
               : Result<void>::failure("xdotool could not press Return");
}

Result<void> UpdateStory::waitForNewVersion() {
    _relaunched = _display->waitForSuccessor("Quaymark", _offer->pid, kSettingsShowTime);
    if (!_relaunched)
        return Result<void>::failure("the new version did not start in place of the old one");
    _version = _desktop.installedQuaymarkVersion();
    return Result<void>::success();
}

Result<void> UpdateStory::clickAfterwards() {
    std::size_t windowsBefore = terminalWindowCount(_desktop);
    PlistDictionary click = _desktop.clickToolbarItem(std::nullopt);
    _opened =
        !click.contains("Error") && !waitForTerminalIn(_desktop, _folder, windowsBefore).empty();
    return Result<void>::success();
}

}  // namespace quaymark
