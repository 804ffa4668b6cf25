// The demo's update story: Quaymark 1.0 installed with a feed on 127.0.0.1 that offers 1.1,
// packed by make-release and signed with a key made for the demo; the stored launch date
// three days back, a click, Return in the update window, and 1.1 in place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "commands/ScriptOfSteps.h"
#include "display/DisplayWindows.h"

namespace quaymark {

class UpdateStory {
public:
    // `display` and `folder` (the folder the clicks open) are read when the steps run, after
    // the steps before them have set them.
    UpdateStory(const Desktop& desktop, const std::optional<DisplayWindows>& display,
                const std::string& folder);

    // The steps, one line of the story each; they refer to this story, which outlives them.
    std::vector<Step> steps();

private:
    // 1.1 packed into a feed that 1.0, installed, reads.
    std::vector<Step> releaseSteps();
    // A click that checks for updates, and 1.1 installed through the update window.
    std::vector<Step> updateSteps();
    Result<void> serveFeed();
    Result<void> packRelease();
    Result<void> installOldVersion();
    Result<void> setLaunchDateBack();
    Result<void> clickForUpdate();
    Result<void> waitForOffer();
    Result<void> installUpdate();
    Result<void> waitForNewVersion();
    Result<void> clickAfterwards();

    const Desktop& _desktop;
    const std::optional<DisplayWindows>& _display;
    const std::string& _folder;
    std::string _feed;
    std::string _keys;
    std::string _address;
    std::string _publicKey;
    std::string _version;
    std::optional<DisplayWindow> _offer;
    std::optional<DisplayWindow> _relaunched;
    bool _opened = false;
};

}  // namespace quaymark
