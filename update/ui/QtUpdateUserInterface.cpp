#include "QtUpdateUserInterface.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "ReleaseNotesBrowser.h"

namespace quaymark {
namespace {

// Return always presses the default button, as on a Mac, not the button that has the focus:
// none of them is an automatic default.
QPushButton* addButton(QDialogButtonBox* box, const char* objectName, const QString& text,
                       QDialogButtonBox::ButtonRole role) {
    QPushButton* button = box->addButton(text, role);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    // Each button answers Alt and its underlined letter, as dialog buttons do on this desktop.
    button->setAccessibleName(QString(text).remove(QChar('&')).remove(QChar(0x2026)));
    return button;
}

QLabel* addLabel(QVBoxLayout* layout, const char* objectName) {
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

// Only web pages are handed to the desktop from a feed; a file or program address is not.
bool isWebAddress(const std::string& address) {
    const QString scheme = QUrl(QString::fromStdString(address)).scheme().toLower();
    return scheme == "http" || scheme == "https";
}

}  // namespace

UpdateAvailableWindow::UpdateAvailableWindow(UrlOpener openUrl)
    : _openUrl(std::move(openUrl)), _releaseNotesBrowser(new ReleaseNotesBrowser) {
    setObjectName("updateAvailableWindow");
    setWindowTitle(tr("Software Update"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    _headlineLabel = addLabel(layout, "headlineLabel");
    _headlineLabel->setText(tr("A new version of Quaymark is available!"));
    QFont bold = _headlineLabel->font();
    bold.setBold(true);
    _headlineLabel->setFont(bold);
    _versionLabel = addLabel(layout, "versionLabel");
    QLabel* notesLabel = addLabel(layout, "releaseNotesLabel");
    notesLabel->setText(tr("Release Notes:"));
    notesLabel->setBuddy(_releaseNotesBrowser);
    _releaseNotesBrowser->setObjectName("releaseNotesBrowser");
    _releaseNotesBrowser->setAccessibleName(tr("Release Notes"));
    layout->addWidget(_releaseNotesBrowser, 1);

    auto* buttons = new QDialogButtonBox(this);
    _skipButton = addButton(buttons, "skipButton", tr("&Skip This Version"),
                            QDialogButtonBox::DestructiveRole);
    _versionHistoryButton = addButton(buttons, "versionHistoryButton", tr("&Version History"),
                                      QDialogButtonBox::HelpRole);
    _remindLaterButton = addButton(buttons, "remindLaterButton", tr("&Remind Me Later"),
                                   QDialogButtonBox::RejectRole);
    _learnMoreButton =
        addButton(buttons, "learnMoreButton", tr("&Learn More…"), QDialogButtonBox::AcceptRole);
    _installButton =
        addButton(buttons, "installButton", tr("&Install Update"), QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    connect(_installButton, &QPushButton::clicked, this, [this] { choose(UpdateChoice::Install); });
    connect(_learnMoreButton, &QPushButton::clicked, this,
            [this] { choose(UpdateChoice::LearnMore); });
    connect(_remindLaterButton, &QPushButton::clicked, this,
            [this] { choose(UpdateChoice::RemindLater); });
    connect(_skipButton, &QPushButton::clicked, this, [this] { choose(UpdateChoice::Skip); });
    connect(_versionHistoryButton, &QPushButton::clicked, this,
            &UpdateAvailableWindow::openVersionHistory);
    resize(520, 380);
}

void UpdateAvailableWindow::offer(const UpdateOffer& offer,
                                  std::function<void(UpdateChoice)> choose) {
    _choose = std::move(choose);
    const QString version = QString::fromStdString(offer.item.displayVersion);
    const QString current = QString::fromStdString(offer.currentVersion);
    // A critical release says why it cannot be skipped, where the skip button would be missed.
    const QString available = offer.critical
                                  ? tr("Quaymark %1 is now available; you have %2. It is a "
                                       "critical update and cannot be skipped.")
                                  : tr("Quaymark %1 is now available; you have %2.");
    _versionLabel->setText(available.arg(version, current) + ' ' +
                           (offer.informational ? tr("Would you like to read about it on the web?")
                                                : tr("Would you like to download it now?")));
    _releaseNotesBrowser->showNotes(QString::fromStdString(offer.releaseNotesHtml));
    _installButton->setVisible(!offer.informational);
    _learnMoreButton->setVisible(offer.informational);
    // A dialog has one default button: making one the default clears the other.
    (offer.informational ? _learnMoreButton : _installButton)->setDefault(true);
    _skipButton->setVisible(!offer.critical);
    _versionHistoryURL = isWebAddress(offer.item.fullReleaseNotesURL)
                             ? offer.item.fullReleaseNotesURL
                             : std::string();
    _versionHistoryButton->setVisible(!_versionHistoryURL.empty());
}

void UpdateAvailableWindow::reject() {
    choose(UpdateChoice::RemindLater);
}

void UpdateAvailableWindow::choose(UpdateChoice choice) {
    // Taken before closing, so that it runs once; the choice may show the next offer.
    std::function<void(UpdateChoice)> chosen = std::exchange(_choose, nullptr);
    done(choice == UpdateChoice::RemindLater ? Rejected : Accepted);
    if (chosen)
        chosen(choice);
}

void UpdateAvailableWindow::openVersionHistory() {
    // When nothing takes the address the window stays as it was, the choice still open: there
    // is nothing else to offer in its place.
    (void)_openUrl(QUrl(QString::fromStdString(_versionHistoryURL)));
}

ProgressWindow::ProgressWindow(const QString& objectName, std::function<void()> cancel)
    : _cancel(std::move(cancel)), _progressBar(new QProgressBar) {
    setObjectName(objectName);
    setWindowTitle(tr("Software Update"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    _messageLabel = addLabel(layout, "messageLabel");
    _progressBar->setObjectName("progressBar");
    _progressBar->setAccessibleName(tr("Progress"));
    _progressBar->setRange(0, 0);
    layout->addWidget(_progressBar);
    auto* buttons = new QDialogButtonBox(this);
    _cancelButton = addButton(buttons, "cancelButton", tr("Cancel"), QDialogButtonBox::RejectRole);
    connect(_cancelButton, &QPushButton::clicked, this, &ProgressWindow::reject);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

ProgressWindow* ProgressWindow::checking(std::function<void()> cancel) {
    auto* window = new ProgressWindow("checkingWindow", std::move(cancel));
    window->showText(tr("Checking for updates…"));
    return window;
}

ProgressWindow* ProgressWindow::installing(std::function<void()> cancel) {
    auto* window = new ProgressWindow("installWindow", std::move(cancel));
    window->setStep(InstallStep::Downloading);
    return window;
}

void ProgressWindow::setStep(InstallStep step) {
    if (_cancelling) {
        // The same step again was under way before Cancel; only a new one shows the
        // installation going on.
        if (step == _step)
            return;
        _cancelling = false;
        _cancelButton->setEnabled(true);
    }
    _step = step;
    _progressBar->setRange(0, 0);
    switch (step) {
        case InstallStep::Downloading:
            return showText(tr("Downloading update…"));
        case InstallStep::Verifying:
            return showText(tr("Verifying update…"));
        case InstallStep::Extracting:
            return showText(tr("Extracting update…"));
        case InstallStep::Installing:
            return showText(tr("Installing update…"));
    }
}

void ProgressWindow::setProgress(std::uint64_t received, std::uint64_t total) {
    if (_cancelling || _step != InstallStep::Downloading)
        return;
    const auto megabytes = [](std::uint64_t bytes) {
        return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1);
    };
    // Kilobytes keep any archive the installer accepts within the bar's int range.
    if (total > 0) {
        _progressBar->setRange(0, static_cast<int>(total / 1024));
        _progressBar->setValue(static_cast<int>(std::min(received, total) / 1024));
    }
    showText(total > 0
                 ? tr("Downloading update… %1 of %2 MB").arg(megabytes(received), megabytes(total))
                 : tr("Downloading update… %1 MB").arg(megabytes(received)));
}

void ProgressWindow::dismiss() {
    done(Accepted);
}

void ProgressWindow::reject() {
    if (_cancelling)
        return;
    _cancelling = true;
    _cancelButton->setEnabled(false);
    _progressBar->setRange(0, 0);
    showText(tr("Cancelling…"));
    // A copy: the owner may close this window from inside the call.
    const std::function<void()> cancel = _cancel;
    if (cancel)
        cancel();
}

void ProgressWindow::showText(const QString& text) {
    _messageLabel->setText(text);
}

MessageWindow::MessageWindow(const QString& objectName, const QString& title,
                             const QString& message) {
    setObjectName(objectName);
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    addLabel(layout, "messageLabel")->setText(message);
    auto* buttons = new QDialogButtonBox(this);
    addButton(buttons, "okButton", tr("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

MessageWindow* MessageWindow::upToDate(const std::string& currentVersion) {
    return new MessageWindow(
        "upToDateWindow", tr("You're up to date!"),
        tr("You're up to date! Quaymark %1 is currently the newest version available.")
            .arg(QString::fromStdString(currentVersion)));
}

MessageWindow* MessageWindow::error(const std::string& message) {
    return new MessageWindow("updateErrorWindow", tr("Update Error!"),
                             QString::fromStdString(message));
}

QtUpdateUserInterface::QtUpdateUserInterface()
    : QtUpdateUserInterface(&QDesktopServices::openUrl) {}

QtUpdateUserInterface::QtUpdateUserInterface(UrlOpener openUrl) : _openUrl(std::move(openUrl)) {}

QtUpdateUserInterface::~QtUpdateUserInterface() {
    delete _installWindow.data();
    delete _checkingWindow.data();
    delete _messageWindow.data();
    delete _updateWindow.data();
}

void QtUpdateUserInterface::showCheckingProgress(std::function<void()> cancel) {
    closeCheckingProgress();
    _checkingWindow = ProgressWindow::checking(std::move(cancel));
    _checkingWindow->show();
}

void QtUpdateUserInterface::closeCheckingProgress() {
    // Forgotten at once: a closed window is deleted only by the event loop.
    if (ProgressWindow* window = std::exchange(_checkingWindow, nullptr))
        window->dismiss();
}

void QtUpdateUserInterface::showUpdateAvailable(const UpdateOffer& offer,
                                                std::function<void(UpdateChoice)> choose) {
    // A window that has been answered is closed and waits for deletion, so the choice it
    // reported may show the next offer only in a new one.
    if (!_updateWindow || !_updateWindow->isVisible())
        _updateWindow = new UpdateAvailableWindow(_openUrl);
    _updateWindow->offer(offer, std::move(choose));
    _updateWindow->show();
    _updateWindow->raise();
}

void QtUpdateUserInterface::showUpToDate(const std::string& currentVersion) {
    showMessage(MessageWindow::upToDate(currentVersion));
}

void QtUpdateUserInterface::showError(const std::string& message) {
    showMessage(MessageWindow::error(message));
}

bool QtUpdateUserInterface::openUrl(const std::string& url) {
    return _openUrl(QUrl(QString::fromStdString(url)));
}

void QtUpdateUserInterface::showInstallProgress(std::function<void()> cancel) {
    closeInstallProgress();
    _installWindow = ProgressWindow::installing(std::move(cancel));
    _installWindow->show();
}

void QtUpdateUserInterface::setInstallStep(InstallStep step) {
    if (_installWindow)
        _installWindow->setStep(step);
}

void QtUpdateUserInterface::setInstallProgress(std::uint64_t received, std::uint64_t total) {
    if (_installWindow)
        _installWindow->setProgress(received, total);
}

void QtUpdateUserInterface::closeInstallProgress() {
    if (ProgressWindow* window = std::exchange(_installWindow, nullptr))
        window->dismiss();
}

void QtUpdateUserInterface::showMessage(MessageWindow* window) {
    if (MessageWindow* shown = std::exchange(_messageWindow, window))
        shown->accept();
    window->show();
}

}  // namespace quaymark
