#include "autopilot.h"

#include <commctrl.h>

#include <cwchar>

#include "main_window.h"
#include "platform/windows_files.h"
#include "shell/layout.h"

namespace ks::win32 {

namespace {

constexpr wchar_t kVariable[] = L"KARTENSCHALTER_AUTOPILOT";
constexpr UINT kPollMilliseconds = 200;  // how often the hook looks for the box
constexpr int kBoxTextId = 0xFFFF;       // the static control that holds a message box's text
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kClassChars = 16;
constexpr std::size_t kTipChars = 1024;  // room for the tooltip's text
constexpr int kTitleBarSquares = 4;      // beside a title: its icon, minimise, maximise and close

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

// Width of text in the font of control, or of the caption font with control null.
LONG extent(HWND control, const std::wstring& text)
{
    const HDC dc = ::GetDC(control);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const GdiObject caption(control == nullptr ? ::CreateFontIndirectW(&metrics.lfCaptionFont) : nullptr);
    const HGDIOBJ previous = ::SelectObject(
        dc, control == nullptr ? caption.get() : reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    return size.cx;
}

// "fits" when the box shows each line of its text unbroken and its title, in
// the system's caption font, beside the four squares of a title bar (icon,
// minimise, maximise, close); else the widths that do not fit.
std::string fit(HWND box)
{
    const HWND text = ::GetDlgItem(box, kBoxTextId);
    const std::wstring prompt = textOf(text);
    LONG widest = 0;
    for (std::size_t start = 0; start <= prompt.size();) {
        const std::size_t end = std::min(prompt.find(L"\r\n", start), prompt.size());
        widest = std::max(widest, extent(text, prompt.substr(start, end - start)));
        start = end + 2;
    }
    RECT room{}, outer{};
    ::GetClientRect(text, &room);
    ::GetWindowRect(box, &outer);
    const LONG title = extent(nullptr, textOf(box));
    const LONG titleRoom = outer.right - outer.left - kTitleBarSquares * ::GetSystemMetrics(SM_CXSIZE);
    if (widest <= room.right && title <= titleRoom) {
        return "fits";
    }
    return "line " + std::to_string(widest) + " in " + std::to_string(room.right) + ", title " + std::to_string(title) +
           " in " + std::to_string(titleRoom);
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
    gActive->note("BOX " + oneLine(textOf(box)) + " | " + oneLine(textOf(::GetDlgItem(box, kBoxTextId))) + " | " +
                  fit(box));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void Autopilot::drive(MainWindow& window)
{
    for (const auto& [name, index] : {std::pair{"Label2", -1}, {"cmd_Trnsp", 1}}) {
        const HWND control = window.control(name, index);
        const HDC dc = ::GetDC(control);
        const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        ::SelectObject(dc, previous);
        ::ReleaseDC(control, dc);
        note("FONT " + std::string(name) + " weight " + std::to_string(metrics.tmWeight) + ", " +
             std::to_string(metrics.tmHeight - metrics.tmInternalLeading) + " px");
    }
    std::wstring tip(kTipChars, L'\0');
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.lpszText = tip.data();
    if (::SendMessageW(window.tooltip(), TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)) &&
        tool.uId == reinterpret_cast<UINT_PTR>(window.control("lst"))) {
        tool.lpszText = tip.data();
        ::SendMessageW(window.tooltip(), TTM_GETTEXTW, tip.size(), reinterpret_cast<LPARAM>(&tool));
    }
    tip.resize(std::wcslen(tip.c_str()));
    std::erase(tip, L'\u00A0');  // the no-break spaces that end its lines
    note("TIP " + oneLine(tip));
    for (const shell::Control& c : shell::kControls) {
        if (c.kind == shell::Kind::Button) {
            const std::size_t lines = window.buttonLines(window.control(c.name, c.index)).size();
            note("BUTTON " + std::string(c.name) + (c.index >= 0 ? " " + std::to_string(c.index) : "") +
                 (lines <= static_cast<std::size_t>(c.lines) ? " fits" : " " + std::to_string(lines) + " lines"));
        }
    }
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
        const std::string whole = window.ui().listText(i);
        const std::string shown = window.shownEntry(i);
        note("ENTRY " + whole + (shown == whole ? "" : " | SHOWN " + shown));
    }
}

}  // namespace ks::win32
