// The updater's windows: Qt dialogs, none of them modal, so the settings window keeps working.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

#include "UpdateUserInterface.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QUrl;

namespace quaymark {

class ReleaseNotesBrowser;

// Hands an address to the desktop; false when nothing would take it.
using UrlOpener = std::function<bool(const QUrl& url)>;

// Offers one release. Object names are what tests find: "headlineLabel", "versionLabel",
// "releaseNotesBrowser", "installButton" (the default), "learnMoreButton" (the default of an
// informational offer, which has no Install), "remindLaterButton", "skipButton" (absent from
// a critical offer) and "versionHistoryButton" (only when the item links its history on the
// web).
class UpdateAvailableWindow : public QDialog {
    Q_OBJECT
public:
    explicit UpdateAvailableWindow(UrlOpener openUrl);
    // Replaces what the window shows; `choose` runs once, for the first button pressed.
    void offer(const UpdateOffer& offer, std::function<void(UpdateChoice)> choose);

    // Escape and the title bar's close button answer "Remind Me Later", as on a Mac, where
    // closing the update alert puts the update off rather than refusing it.
    void reject() override;

private:
    void choose(UpdateChoice choice);
    void openVersionHistory();

    UrlOpener _openUrl;
    QLabel* _headlineLabel = nullptr;
    QLabel* _versionLabel = nullptr;
    ReleaseNotesBrowser* _releaseNotesBrowser;
    QPushButton* _installButton = nullptr;
    QPushButton* _learnMoreButton = nullptr;
    QPushButton* _remindLaterButton = nullptr;
    QPushButton* _skipButton = nullptr;
    QPushButton* _versionHistoryButton = nullptr;
    std::string _versionHistoryURL;
    std::function<void(UpdateChoice)> _choose;
};

// Something running that the user may cancel: a check ("checkingWindow") or an installation
// ("installWindow"). The text is in "messageLabel", the bar is "progressBar", the button
// "cancelButton".
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    static ProgressWindow* checking(std::function<void()> cancel);
    static ProgressWindow* installing(std::function<void()> cancel);

    // Names the step. A step reported after Cancel means the installer went on without
    // stopping, so the window shows it and offers Cancel again.
    void setStep(InstallStep step);
    // Shows `received` of `total` bytes while downloading; an unknown total is 0.
    void setProgress(std::uint64_t received, std::uint64_t total);
    // Closes the window without cancelling anything.
    void dismiss();

    // Cancel, Escape and the title bar's close button all ask the running work to stop, once;
    // the window says so and stays until its owner closes it, which the work does when it
    // has stopped.
    void reject() override;

private:
    ProgressWindow(const QString& objectName, std::function<void()> cancel);
    void showText(const QString& text);

    std::function<void()> _cancel;
    QLabel* _messageLabel = nullptr;
    QProgressBar* _progressBar;
    QPushButton* _cancelButton = nullptr;
    InstallStep _step = InstallStep::Downloading;
    bool _cancelling = false;
};

// One line of text and OK: "You're up to date!" ("upToDateWindow") or an error
// ("updateErrorWindow"). The text is in "messageLabel", the button is "okButton"; Return and
// Escape both close the window.
class MessageWindow : public QDialog {
    Q_OBJECT
public:
    static MessageWindow* upToDate(const std::string& currentVersion);
    static MessageWindow* error(const std::string& message);

private:
    MessageWindow(const QString& objectName, const QString& title, const QString& message);
};

class QtUpdateUserInterface : public UpdateUserInterface {
public:
    // Opens addresses with the desktop's URL opener.
    QtUpdateUserInterface();
    explicit QtUpdateUserInterface(UrlOpener openUrl);
    ~QtUpdateUserInterface() override;
    QtUpdateUserInterface(const QtUpdateUserInterface&) = delete;
    QtUpdateUserInterface& operator=(const QtUpdateUserInterface&) = delete;

    void showCheckingProgress(std::function<void()> cancel) override;
    void closeCheckingProgress() override;
    void showUpdateAvailable(const UpdateOffer& offer,
                             std::function<void(UpdateChoice)> choose) override;
    void showUpToDate(const std::string& currentVersion) override;
    void showError(const std::string& message) override;
    bool openUrl(const std::string& url) override;
    void showInstallProgress(std::function<void()> cancel) override;
    void setInstallStep(InstallStep step) override;
    void setInstallProgress(std::uint64_t received, std::uint64_t total) override;
    void closeInstallProgress() override;

private:
    void showMessage(MessageWindow* window);

    UrlOpener _openUrl;
    QPointer<ProgressWindow> _checkingWindow;
    QPointer<ProgressWindow> _installWindow;
    QPointer<MessageWindow> _messageWindow;
    QPointer<UpdateAvailableWindow> _updateWindow;
};

}  // namespace quaymark
