// The main window: the file list, the legend, the marking and batch buttons,
// the instructions, the wait label and the menu, wired to the workflow.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "platform/ui.h"
#include "qt_ui.h"
#include "shell/layout.h"
#include "workflow/workflow.h"

class QLabel;
class QPushButton;

namespace ks::ui {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(platform::FileLayer& files, QWidget* parent = nullptr);
    ~MainWindow() override;

    workflow::Workflow& workflow() { return *workflow_; }
    QtUi& qtUi() { return *ui_; }

    // Lists the folder of path (a folder, or any file in it, relative to the
    // working folder or absolute) as if chosen through the dialog, right after
    // the info box of the first paint has been closed; "" lists nothing.
    void listAtStart(const std::string& path);

protected:
    // A dropped file or folder lists its folder, as if chosen through the dialog.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    // Runs a command of a button or menu item.
    void run(shell::Command command);
    void Form_Paint();
    void mn_End_Click();

    EntryList* lst_ = nullptr;
    QLabel* lbl_Warten_ = nullptr;
    std::unique_ptr<QtUi> ui_;
    std::unique_ptr<platform::Platform> platform_;
    std::unique_ptr<workflow::Workflow> workflow_;
    int firstPaint_ = 0;  // positive once the first paint has shown the info box
    std::string startPath_;  // listed after the first info box; empty when none
};

// The window icon, drawn in code.
QIcon appIcon();

}  // namespace ks::ui
