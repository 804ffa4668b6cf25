#include "QtUpdateUserInterface.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "ReleaseNotesBrowser.h"

namespace quaymark {
namespace {

QPushButton* addButton(QHBoxLayout* row, const char* objectName, const QString& text) {
    auto* button = new QPushButton(text);
    button->setObjectName(objectName);
    row->addWidget(button);
    return button;
}

void deleteWhenClosed(QWidget* window) {
    window->setAttribute(Qt::WA_DeleteOnClose);
}

}  // namespace

UpdateAvailableWindow::UpdateAvailableWindow()
    : _headlineLabel(new QLabel),
      _versionLabel(new QLabel),
      _releaseNotesBrowser(new ReleaseNotesBrowser) {
    setObjectName("updateAvailableWindow");
    setWindowTitle(tr("Software Update"));
    deleteWhenClosed(this);
    _headlineLabel->setObjectName("headlineLabel");
    _headlineLabel->setText(tr("A new version of Quaymark is available!"));
    QFont bold = _headlineLabel->font();
    bold.setBold(true);
    _headlineLabel->setFont(bold);
    _versionLabel->setObjectName("versionLabel");
    _versionLabel->setWordWrap(true);
    _releaseNotesBrowser->setObjectName("releaseNotesBrowser");

    auto* buttons = new QHBoxLayout;
    QPushButton* skip = addButton(buttons, "skipButton", tr("Skip This Version"));
    buttons->addStretch();
    QPushButton* later = addButton(buttons, "remindLaterButton", tr("Remind Me Later"));
    QPushButton* install = addButton(buttons, "installButton", tr("Install Update"));
    install->setDefault(true);
    connect(skip, &QPushButton::clicked, this, [this] { pressed(UpdateChoice::Skip); });
    connect(later, &QPushButton::clicked, this, [this] { pressed(UpdateChoice::RemindLater); });
    connect(install, &QPushButton::clicked, this, [this] { pressed(UpdateChoice::Install); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_headlineLabel);
    layout->addWidget(_versionLabel);
    layout->addWidget(new QLabel(tr("Release Notes:")));
    layout->addWidget(_releaseNotesBrowser, 1);
    layout->addLayout(buttons);
    resize(520, 380);
    // Outside a dialog only the button with the focus answers Return, so the default one
    // starts with it, and Return installs as the default button does on a Mac.
    install->setFocus();
}

void UpdateAvailableWindow::offer(const UpdateOffer& offer,
                                  std::function<void(UpdateChoice)> choose) {
    _choose = std::move(choose);
    _versionLabel->setText(tr("Quaymark %1 is now available; you have %2. Would you like to "
                              "download it now?")
                               .arg(QString::fromStdString(offer.item.displayVersion),
                                    QString::fromStdString(offer.currentVersion)));
    _releaseNotesBrowser->showNotes(QString::fromStdString(offer.releaseNotesHtml));
}

void UpdateAvailableWindow::pressed(UpdateChoice choice) {
    // Taken before closing: closing deletes the window, and the choice may open another.
    std::function<void(UpdateChoice)> choose = std::exchange(_choose, nullptr);
    close();
    if (choose)
        choose(choice);
}

MessageWindow::MessageWindow(const QString& objectName, const QString& title,
                             const QString& message, const QString& buttonObjectName,
                             const QString& buttonText, bool busy)
    : _button(new QPushButton(buttonText)), _label(new QLabel(message)) {
    setObjectName(objectName);
    setWindowTitle(title);
    deleteWhenClosed(this);
    _label->setObjectName("messageLabel");
    _label->setWordWrap(true);
    _button->setObjectName(buttonObjectName);
    _button->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_label);
    if (busy) {
        _bar = new QProgressBar;
        _bar->setObjectName("progressBar");
        _bar->setRange(0, 0);
        layout->addWidget(_bar);
    }
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(_button);
    layout->addLayout(row);
    setMinimumWidth(360);
}

void MessageWindow::setProgress(std::uint64_t received, std::uint64_t total) {
    const auto megabytes = [](std::uint64_t bytes) {
        return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1);
    };
    // Kilobytes keep a 500 MB archive within the bar's int range.
    if (_bar != nullptr && total > 0) {
        _bar->setRange(0, static_cast<int>(total / 1024));
        _bar->setValue(static_cast<int>(std::min(received, total) / 1024));
    }
    _label->setText(
        total > 0 ? tr("Downloading update… %1 of %2 MB").arg(megabytes(received), megabytes(total))
                  : tr("Downloading update… %1 MB").arg(megabytes(received)));
}

QtUpdateUserInterface::~QtUpdateUserInterface() {
    delete _installWindow.data();
    delete _progressWindow.data();
    delete _messageWindow.data();
    delete _updateWindow.data();
}

void QtUpdateUserInterface::showCheckingProgress(std::function<void()> cancel) {
    closeCheckingProgress();
    _progressWindow = new MessageWindow("checkingWindow", QObject::tr("Software Update"),
                                        QObject::tr("Checking for updates…"), "cancelButton",
                                        QObject::tr("Cancel"), true);
    QObject::connect(_progressWindow->button(), &QPushButton::clicked, _progressWindow,
                     [cancel = std::move(cancel)] { cancel(); });
    _progressWindow->show();
}

void QtUpdateUserInterface::closeCheckingProgress() {
    if (_progressWindow)
        _progressWindow->close();
}

void QtUpdateUserInterface::showUpdateAvailable(const UpdateOffer& offer,
                                                std::function<void(UpdateChoice)> choose) {
    if (!_updateWindow)
        _updateWindow = new UpdateAvailableWindow;
    _updateWindow->offer(offer, std::move(choose));
    _updateWindow->show();
    _updateWindow->raise();
}

void QtUpdateUserInterface::showUpToDate(const std::string& currentVersion) {
    showMessage(new MessageWindow(
        "upToDateWindow", QObject::tr("You're up to date!"),
        QObject::tr("You're up to date! Quaymark %1 is currently the newest version available.")
            .arg(QString::fromStdString(currentVersion)),
        "okButton", QObject::tr("OK"), false));
}

void QtUpdateUserInterface::showError(const std::string& message) {
    showMessage(new MessageWindow("updateErrorWindow", QObject::tr("Update Error!"),
                                  QString::fromStdString(message), "okButton", QObject::tr("OK"),
                                  false));
}

bool QtUpdateUserInterface::openUrl(const std::string& url) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void QtUpdateUserInterface::showInstallProgress(std::function<void()> cancel) {
    closeInstallProgress();
    _installWindow = new MessageWindow("installWindow", QObject::tr("Software Update"),
                                       QObject::tr("Downloading update…"), "cancelButton",
                                       QObject::tr("Cancel"), true);
    QObject::connect(_installWindow->button(), &QPushButton::clicked, _installWindow,
                     [cancel = std::move(cancel)] { cancel(); });
    _installWindow->show();
}

void QtUpdateUserInterface::setInstallProgress(std::uint64_t received, std::uint64_t total) {
    if (_installWindow)
        _installWindow->setProgress(received, total);
}

void QtUpdateUserInterface::closeInstallProgress() {
    if (_installWindow)
        _installWindow->close();
}

void QtUpdateUserInterface::showMessage(MessageWindow* window) {
    if (_messageWindow)
        _messageWindow->close();
    _messageWindow = window;
    QObject::connect(window->button(), &QPushButton::clicked, window, &QWidget::close);
    window->show();
}

}  // namespace quaymark
