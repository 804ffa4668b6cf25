// What the updater shows to the user, apart from how: a recording double stands in for it
// in tests, QtUpdateUserInterface on screen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Updater.h"

namespace quaymark {

// LearnMore is the informational update's answer: the item's page is opened, nothing installed.
enum class UpdateChoice { Install, LearnMore, RemindLater, Skip };

// The steps of an installation, each named in the progress window while it runs.
enum class InstallStep { Downloading, Verifying, Extracting, Installing };

struct UpdateOffer {
    SUAppcastItem item;
    // The running application's version, as people see it.
    std::string currentVersion;
    // HTML to show as release notes: the item's description or the fetched notes.
    std::string releaseNotesHtml;
    // Nothing to install: the window names the version and offers the item's page.
    bool informational = false;
    // The version may not be skipped.
    bool critical = false;
};

class UpdateUserInterface {
public:
    virtual ~UpdateUserInterface() = default;
    // Shows that a check the user asked for is running; `cancel` runs if the user cancels it.
    // Nothing to report on failure: without a display the window simply is not seen.
    virtual void showCheckingProgress(std::function<void()> cancel) = 0;
    // Closes the progress window; does nothing when none is shown.
    virtual void closeCheckingProgress() = 0;
    // Offers the update (one window; a second offer replaces the first). `choose` runs at most
    // once, with the button pressed; closing the window otherwise counts as RemindLater.
    virtual void showUpdateAvailable(const UpdateOffer& offer,
                                     std::function<void(UpdateChoice)> choose) = 0;
    // Tells the user that the running version is the newest.
    virtual void showUpToDate(const std::string& currentVersion) = 0;
    // Tells the user in one line why the check failed.
    virtual void showError(const std::string& message) = 0;
    // Hands the address to the desktop (the browser); false when nothing would take it.
    virtual bool openUrl(const std::string& url) = 0;

    // The installation's progress window; an interface that shows none keeps these empty.
    // Shows it (replacing any shown); `cancel` runs if the user cancels the download.
    virtual void showInstallProgress(std::function<void()> cancel) { (void)cancel; }
    // The step now running; a window names it and keeps Cancel working.
    virtual void setInstallStep(InstallStep step) { (void)step; }
    // Bytes received so far of `total` (0 when the server did not say).
    virtual void setInstallProgress(std::uint64_t received, std::uint64_t total) {
        (void)received;
        (void)total;
    }
    // Closes the progress window; does nothing when none is shown.
    virtual void closeInstallProgress() {}
};

}  // namespace quaymark
