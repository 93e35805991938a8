#include "autopilot.h"

#include <cwchar>

#include "main_window.h"
#include "platform/windows_files.h"

namespace ks::win32 {

namespace {

constexpr wchar_t kVariable[] = L"KARTENSCHALTER_AUTOPILOT";
constexpr UINT kPollMilliseconds = 200;  // how often the hook looks for the box
constexpr int kBoxTextId = 0xFFFF;       // the static control that holds a message box's text
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kClassChars = 16;

Autopilot* gActive = nullptr;  // the one hook of the program, for its timer

std::wstring textOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// One line for a text of several: CR LF shows as \n.
std::string oneLine(const std::wstring& text)
{
    std::string line = platform::narrow(text);
    for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at + 2)) {
        line.replace(at, 2, "\\n");
    }
    return line;
}

BOOL CALLBACK findBox(HWND window, LPARAM found)
{
    wchar_t className[kClassChars] = {};
    if (::GetClassNameW(window, className, kClassChars) > 0 && std::wcscmp(className, kDialogClass) == 0 &&
        ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::unique_ptr<Autopilot> Autopilot::fromEnvironment()
{
    const DWORD length = ::GetEnvironmentVariableW(kVariable, nullptr, 0);
    if (length == 0) {
        return nullptr;
    }
    std::wstring path(length, L'\0');
    path.resize(::GetEnvironmentVariableW(kVariable, path.data(), length));
    return std::make_unique<Autopilot>(path);
}

Autopilot::Autopilot(std::wstring logPath) : logPath_(std::move(logPath))
{
    gActive = this;
}

Autopilot::~Autopilot()
{
    if (timer_ != 0) {
        ::KillTimer(nullptr, timer_);
    }
    gActive = nullptr;
}

void Autopilot::watchNextBox()
{
    if (timer_ == 0) {
        timer_ = ::SetTimer(nullptr, 0, kPollMilliseconds, &Autopilot::onTimer);
    }
}

void CALLBACK Autopilot::onTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
    if (gActive == nullptr || box == nullptr) {
        return;
    }
    ::KillTimer(nullptr, gActive->timer_);
    gActive->timer_ = 0;
    gActive->note("BOX " + oneLine(textOf(box)) + " | " + oneLine(textOf(::GetDlgItem(box, kBoxTextId))));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void Autopilot::drive(MainWindow& window)
{
    noteWindow(window);
    ::SendMessageW(window.control("cmd_Mark"), BM_CLICK, 0, 0);
    std::size_t marked = 0;
    for (std::size_t i = 0; i < window.ui().listCount(); ++i) {
        marked += window.ui().listMarked(i) ? 1 : 0;
    }
    note("MARKED " + std::to_string(marked));
    ::SendMessageW(window.control("cmd_Trnsp", 1), BM_CLICK, 0, 0);
    noteWindow(window);
    note("EXIT");
    ::PostMessageW(window.window(), WM_COMMAND, static_cast<WPARAM>(MainWindow::menuId("mn_End")), 0);
}

void Autopilot::note(const std::string& line) const
{
    const platform::FileHandle log(::CreateFileW(logPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string text = line + "\n";
    DWORD put = 0;
    if (log) {
        ::WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
    }
}

void Autopilot::noteWindow(MainWindow& window) const
{
    note("CAPTION " + oneLine(textOf(window.window())));
    for (std::size_t i = 0; i < window.ui().listCount(); ++i) {
        note("ENTRY " + window.ui().listText(i));
    }
}

}  // namespace ks::win32
