// The main window: the file list, the legend, the marking and batch buttons,
// the instructions, the wait label and the menu, wired to the workflow.
#pragma once

#include <QMainWindow>
#include <memory>

#include "platform/platform.h"
#include "qt_ui.h"
#include "workflow/workflow.h"

class QListWidget;
class QLabel;
class QPushButton;

namespace ks::ui {

// Window geometry comes in twips; the screen has 15 twips to a pixel.
inline constexpr double kTwipsPerPixel = 15.0;
// The fixed client area, in pixels.
inline constexpr int kClientWidth = 698;
inline constexpr int kClientHeight = 554;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(platform::FileLayer& files, QWidget* parent = nullptr);
    ~MainWindow() override;

    workflow::Workflow& workflow() { return *workflow_; }
    QtUi& qtUi() { return *ui_; }

    // Shows the info box.
    void mn_Help_Click();

private:
    void buildControls();
    void buildMenu();
    void Form_Paint();
    void mn_End_Click();

    QListWidget* lst_ = nullptr;
    QLabel* lbl_Warten_ = nullptr;
    std::unique_ptr<QtUi> ui_;
    std::unique_ptr<platform::Platform> platform_;
    std::unique_ptr<workflow::Workflow> workflow_;
    int firstPaint_ = 0;  // positive once the first paint has shown the info box
};

// The window icon, drawn in code.
QIcon appIcon();

}  // namespace ks::ui
