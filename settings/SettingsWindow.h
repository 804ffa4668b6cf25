// The settings window, laid out by the interface file MainWindow.ui.
#pragma once

#include <QMainWindow>
#include <memory>

namespace Ui {
class MainWindow;
}

namespace quaymark {

class SettingsWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // The controls, under the object names the interface file gives them.
    const Ui::MainWindow& form() const { return *_form; }

signals:
    // The user closed the window, with its close box or Ctrl+Q; it is hidden by then.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Keeps the wheel off the pop-ups: scrolling past one must not change a setting.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::MainWindow> _form;
};

}  // namespace quaymark
