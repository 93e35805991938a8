// The main window on the Win32 API: the controls and menu of shell/layout.h
// at the monitor's DPI, the two lines, the coloured wait label, the info box
// at the first paint, dropped files, wired to the shared workflow.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_files.h"
#include "shell/layout.h"
#include "win32_ui.h"
#include "workflow/workflow.h"

namespace ks::win32 {

class MainWindow {
public:
    // Creates the window, still hidden, over files; startPath (a folder or a
    // file in it) is listed right after the info box when it is not empty.
    // afterStart runs once that is done (the smoke test's hook). Throws
    // std::runtime_error when Windows refuses the window.
    MainWindow(HINSTANCE instance, platform::FileLayer& files, std::string startPath,
               std::function<void(MainWindow&)> afterStart = {});
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow();

    HWND window() const { return window_; }
    // The tooltip that explains the list's suffixes.
    HWND tooltip() const { return tip_; }
    Win32Ui& ui() { return *ui_; }
    // The control of the layout with that name (and index, for the batch buttons), or null.
    HWND control(std::string_view name, int index = -1) const;
    // Entry i as the list shows it: a name too long for the list shortened in its middle, never its suffix.
    std::string shownEntry(std::size_t i) const;
    // The lines a button's text shows in, as drawn.
    std::vector<std::string> buttonLines(HWND button) const;
    // The WM_COMMAND id of the menu item with that name, or 0.
    static int menuId(std::string_view name);

    // Runs a command of a button or menu item.
    void run(shell::Command command);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void buildControls(HINSTANCE instance);
    void addTooltip(HINSTANCE instance);
    void buildMenu();
    // Draws a label, its text broken into lines only at spaces.
    void drawLabel(const DRAWITEMSTRUCT& item) const;
    // Draws a list entry: its mark, its text as shownEntry gives it, the focus frame.
    void drawEntry(const DRAWITEMSTRUCT& item) const;
    // Draws a push button, its text broken at spaces inside the focus frame.
    void drawButton(const DRAWITEMSTRUCT& item) const;
    // The list's tooltip for the point under the mouse: a shortened entry whole, else what the suffixes mean.
    const wchar_t* tipText();
    // Watches the mouse on the list, so that the tooltip follows the entry under it.
    static LRESULT CALLBACK listProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);
    // Sizes the window and places and fonts every control for dpi.
    void place(int dpi);
    void paintLines(HDC dc) const;
    void Form_Paint();
    void onFirstPaint();
    // A menu item, a button's notification, or IDOK for the Enter key.
    void onCommand(int id, int notification);
    void mn_End_Click();

    HWND window_ = nullptr;
    std::vector<HWND> controls_;  // one per shell::kControls entry; null for the lines
    HWND lst_ = nullptr;
    HWND lbl_Warten_ = nullptr;
    HWND tip_ = nullptr;
    int dpi_ = 0;
    std::wstring tipText_;  // what the tooltip shows now
    int tipEntry_ = -1;      // the entry under the mouse, -1 for none
    std::vector<GdiObject> fonts_;  // one per control, for the current dpi
    GdiObject waitBrush_;
    std::unique_ptr<Win32Ui> ui_;
    std::unique_ptr<platform::Platform> platform_;
    std::unique_ptr<workflow::Workflow> workflow_;
    std::string startPath_;
    std::function<void(MainWindow&)> afterStart_;
    int firstPaint_ = 0;  // positive once the first paint has asked for the info box
};

}  // namespace ks::win32
