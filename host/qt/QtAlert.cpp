#include "QtAlert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace quaymark {

int QtAlert::runModal(const AlertText& text) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return 0;
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    box.setText(QString::fromStdString(text.messageText));
    box.setInformativeText(QString::fromStdString(text.informativeText));
    // One role for all: the button box keeps buttons of the same role in the order added.
    std::vector<QPushButton*> buttons;
    for (const std::string& title : text.buttons)
        buttons.push_back(box.addButton(QString::fromStdString(title), QMessageBox::ActionRole));
    if (buttons.empty())
        buttons.push_back(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(buttons.front());
    // Escape answers as the last button does, the one furthest from the default.
    box.setEscapeButton(buttons.back());
    box.exec();
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        if (box.clickedButton() == buttons[index])
            return static_cast<int>(index);
    }
    return 0;
}

}  // namespace quaymark
