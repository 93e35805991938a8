// The smoke test's hook. With the environment variable KARTENSCHALTER_AUTOPILOT
// naming a file, the program answers each of its own message boxes with OK
// once the box is on screen, noting its title and text as read back from the
// box and whether the box shows each line unbroken and its whole title; after
// the info box and the listing of the start folder it notes the weight and
// size of the font that three controls got, the list's tooltip, the caption
// and the entries, presses "Alle markieren" and "Transparent schalten", notes
// them again and ends through "&Ende (exit)".
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace ks::win32 {

class MainWindow;

class Autopilot {
public:
    // The hook when the variable is set, else null.
    static std::unique_ptr<Autopilot> fromEnvironment();

    explicit Autopilot(std::wstring logPath);
    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;
    ~Autopilot();

    // Watches for the next message box of this thread; once it shows, notes it and answers OK.
    void watchNextBox();
    // The steps after the start, once the start folder is listed.
    void drive(MainWindow& window);

private:
    static void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD);
    void note(const std::string& line) const;
    void noteWindow(MainWindow& window) const;

    std::wstring logPath_;
    UINT_PTR timer_ = 0;
};

}  // namespace ks::win32
