#include "qt/QtAlert.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
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
    // The texts break their lines where they mean to; the box is made wide enough for the
    // longest one (a path, say) rather than wrapping it, up to most of the screen.
    const int widest = box.screen() ? box.screen()->availableGeometry().width() * 3 / 4 : 800;
    for (QLabel* label : box.findChildren<QLabel*>()) {
        int needed = 0;
        for (const QString& line : label->text().split(u'\n'))
            needed = std::max(needed, label->fontMetrics().horizontalAdvance(line));
        label->setMinimumWidth(std::min(needed, widest));
    }
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
