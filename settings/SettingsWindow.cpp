#include "SettingsWindow.h"

#include <QCloseEvent>

#include "ui_MainWindow.h"

namespace quaymark {

SettingsWindow::SettingsWindow(QWidget* parent)
    : QMainWindow(parent), _form(std::make_unique<Ui::MainWindow>()) {
    _form->setupUi(this);
    // The window has no menu bar, so the quit command's shortcut hangs on the window itself.
    addAction(_form->actionQuit);
    connect(_form->actionQuit, &QAction::triggered, this, &QWidget::close);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

}  // namespace quaymark
