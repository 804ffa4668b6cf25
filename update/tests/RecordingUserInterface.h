// The update windows' stand-in for the updater's and installer's tests: it records what would
// be shown and keeps the callbacks a test answers with.
#pragma once

#include <QStringList>
#include <optional>

#include "UpdateUserInterface.h"

namespace quaymark::testing {

class RecordingUserInterface : public UpdateUserInterface {
public:
    void showCheckingProgress(std::function<void()> cancelCheck) override {
        shown.append("progress");
        cancel = std::move(cancelCheck);
    }
    void closeCheckingProgress() override { shown.append("close"); }
    void showUpdateAvailable(const UpdateOffer& offer,
                             std::function<void(UpdateChoice)> chooseOne) override {
        shown.append("offer " + QString::fromStdString(offer.item.displayVersion) +
                     (offer.informational ? " informational" : "") +
                     (offer.critical ? " critical" : ""));
        notes = QString::fromStdString(offer.releaseNotesHtml);
        lastOffer = offer;
        choose = std::move(chooseOne);
    }
    void showUpToDate(const std::string& version) override {
        shown.append("uptodate " + QString::fromStdString(version));
    }
    void showError(const std::string& message) override {
        shown.append("error");
        errors.append(QString::fromStdString(message));
    }
    bool openUrl(const std::string& url) override {
        shown.append("open " + QString::fromStdString(url));
        return true;
    }
    void showInstallProgress(std::function<void()> cancelInstall) override {
        cancel = std::move(cancelInstall);
    }
    void setInstallProgress(std::uint64_t received, std::uint64_t) override {
        lastReceived = received;
    }
    // Presses Cancel when the installation reaches `cancelAt`.
    void setInstallStep(InstallStep step) override {
        steps.push_back(step);
        if (step == cancelAt && cancel) {
            cancelled = true;
            cancel();
        }
    }

    // Short lines: "progress", "close", "offer 2.0 critical", "uptodate 1.0", "error", "open
    // <url>".
    QStringList shown;
    QStringList errors;
    UpdateOffer lastOffer;
    QString notes;
    std::function<void()> cancel;
    std::function<void(UpdateChoice)> choose;
    std::vector<InstallStep> steps;
    std::optional<InstallStep> cancelAt;
    std::uint64_t lastReceived = 0;
    bool cancelled = false;
};

}  // namespace quaymark::testing
