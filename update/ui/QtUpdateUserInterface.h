// The updater's windows on Qt Widgets, none of them modal.
#pragma once

#include <QPointer>
#include <QWidget>

#include "UpdateUserInterface.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quaymark {

class ReleaseNotesBrowser;

// Offers one release. Object names are what tests find: "headlineLabel", "versionLabel",
// "releaseNotesBrowser", "installButton", "remindLaterButton", "skipButton".
class UpdateAvailableWindow : public QWidget {
    Q_OBJECT
public:
    UpdateAvailableWindow();
    // Replaces what the window shows; `choose` runs once, for the first button pressed.
    void offer(const UpdateOffer& offer, std::function<void(UpdateChoice)> choose);

private:
    void pressed(UpdateChoice choice);

    QLabel* _headlineLabel;
    QLabel* _versionLabel;
    ReleaseNotesBrowser* _releaseNotesBrowser;
    std::function<void(UpdateChoice)> _choose;
};

// A window with one line of text and one button: progress (with "cancelButton"), "You're up
// to date!" or an error (with "okButton"); the text is in "messageLabel", a busy window's
// bar is "progressBar".
class MessageWindow : public QWidget {
    Q_OBJECT
public:
    MessageWindow(const QString& objectName, const QString& title, const QString& message,
                  const QString& buttonObjectName, const QString& buttonText, bool busy);
    QPushButton* button() const { return _button; }
    // Shows `received` of `total` bytes in the bar and the text; an unknown total is 0.
    void setProgress(std::uint64_t received, std::uint64_t total);

private:
    QPushButton* _button;
    QLabel* _label;
    QProgressBar* _bar = nullptr;
};

class QtUpdateUserInterface : public UpdateUserInterface {
public:
    QtUpdateUserInterface() = default;
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
    void setInstallProgress(std::uint64_t received, std::uint64_t total) override;
    void closeInstallProgress() override;

private:
    void showMessage(MessageWindow* window);

    QPointer<MessageWindow> _progressWindow;
    QPointer<MessageWindow> _installWindow;
    QPointer<MessageWindow> _messageWindow;
    QPointer<UpdateAvailableWindow> _updateWindow;
};

}  // namespace quaymark
