#include "SettingsWindow.h"

#include <QCloseEvent>
#include <QComboBox>

#include "ui_MainWindow.h"

namespace quaymark {

SettingsWindow::SettingsWindow(QWidget* parent)
    : QMainWindow(parent), _form(std::make_unique<Ui::MainWindow>()) {
    _form->setupUi(this);
    // The window has no menu bar, so the quit command's shortcut hangs on the window itself.
    addAction(_form->actionQuit);
    connect(_form->actionQuit, &QAction::triggered, this, &QWidget::close);
    // A pop-up changes on a click, or on the keyboard while it has focus; never on the wheel,
    // which would also give it focus by default.
    for (QComboBox* popUp : {_form->terminals, _form->openTypes}) {
        popUp->setFocusPolicy(Qt::StrongFocus);
        popUp->installEventFilter(this);
    }
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

}  // namespace quaymark
