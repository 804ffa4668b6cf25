#include "QtUpdateUserInterface.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

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
    : _button(new QPushButton(buttonText)) {
    setObjectName(objectName);
    setWindowTitle(title);
    deleteWhenClosed(this);
    auto* label = new QLabel(message);
    label->setObjectName("messageLabel");
    label->setWordWrap(true);
    _button->setObjectName(buttonObjectName);
    _button->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    if (busy) {
        auto* bar = new QProgressBar;
        bar->setRange(0, 0);
        layout->addWidget(bar);
    }
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(_button);
    layout->addLayout(row);
    setMinimumWidth(360);
}

QtUpdateUserInterface::~QtUpdateUserInterface() {
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

void QtUpdateUserInterface::showMessage(MessageWindow* window) {
    if (_messageWindow)
        _messageWindow->close();
    _messageWindow = window;
    QObject::connect(window->button(), &QPushButton::clicked, window, &QWidget::close);
    window->show();
}

}  // namespace quaymark
