// The window's services on the Win32 API: message boxes, the open-file
// dialog, the multiple-selection list box, the caption, the wait label and
// one pass of event processing.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/ui.h"
#include "platform/windows_files.h"

namespace ks::win32 {

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static HGDIOBJ empty() { return nullptr; }
    static void close(HGDIOBJ h) { ::DeleteObject(h); }
};
// A font, pen or brush; deleted when it goes.
using GdiObject = platform::UniqueHandle<GdiObjectTraits>;

// UTF-16 for text to show; bytes that are not UTF-8 show as U+FFFD.
std::wstring shown(const std::string& utf8);

// Shows a modal message box over owner (may be null) and returns the answer.
// Laid out like the Qt window's: the icon left of the text, the buttons
// right-aligned below it, OK the default and Escape for Cancel; as wide as
// its longest line and its whole title, up to the width of the screen. Its
// text is the static control with the id 0xFFFF, as in the system's boxes.
platform::Answer showMessageBox(HWND owner, const platform::Message& message);

class Win32Ui final : public platform::Ui {
public:
    // window: owner of the boxes and the caption; list and waitLabel are its controls.
    Win32Ui(HWND window, HWND list, HWND waitLabel);

    platform::Answer messageBox(const platform::Message& message) override;
    std::optional<std::string> chooseFile(const std::vector<platform::FileFilter>& filters,
                                          std::size_t preselectedFilter, const std::string& current) override;
    void listClear() override;
    void listAdd(const std::string& text) override;
    std::size_t listCount() const override;
    std::string listText(std::size_t i) const override;
    bool listMarked(std::size_t i) const override;
    void listSetMarked(std::size_t i, bool marked) override;
    void listSetAllMarked(bool marked) override;
    void listFocusFirst() override;
    void setCaption(const std::string& caption) override;
    void setWaitVisible(bool visible) override;
    void processEvents() override;
    std::string toUpper(const std::string& text) const override;

    // arm runs right before each message box opens (the test hook watches for the box from there).
    void setBoxWatcher(std::function<void()> arm) { armWatcher_ = std::move(arm); }

private:
    HWND window_;
    HWND list_;
    HWND waitLabel_;
    std::function<void()> armWatcher_;
};

}  // namespace ks::win32
