#include "win32_ui.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>

#include "shell/info_text.h"

namespace ks::win32 {

namespace {

constexpr DWORD kDialogPathChars = 32768;  // the longest path the dialog may return, with its zero

// The message box, in pixels at 96 dpi.
constexpr int kBaseDpi = 96;
constexpr int kBoxMargin = 11;    // around the icon, the text and the buttons
constexpr int kIconGap = 12;      // between the icon and the text
constexpr int kButtonWidth = 88;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 6;
// Title-bar squares beside the title: its icon, three buttons, the gaps
// between them and room either side (a window manager under Wine needs six
// and a bit).
constexpr int kTitleSquares = 7;
// Under Wine the window manager draws the title, often in a font a quarter
// wider than the system's caption font; a third leaves room.
constexpr int kTitleWiderBy = 3;  // a third
constexpr int kBoxTextId = 0xFFFF;
constexpr DWORD kBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND;

// A dialog without controls; the box makes its own when it opens.
struct alignas(DWORD) BoxTemplate {
    DLGTEMPLATE dialog{kBoxStyle, 0, 0, 0, 0, 0, 0};
    WORD menu = 0;
    WORD windowClass = 0;
    WORD title = 0;
};

struct BoxState {
    const platform::Message* message;
    GdiObject font;  // the system's message font, for the box's controls
};

// Width and height of text drawn with the DC's font, its lines broken at CR LF
// only, or with width > 0 also at spaces to stay within width.
SIZE textSize(HDC dc, const std::wstring& text, int width = 0)
{
    RECT r{0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (width > 0 ? DT_WORDBREAK : 0));
    return {r.right - r.left, r.bottom - r.top};
}

HWND addControl(HWND box, const wchar_t* kind, const std::wstring& text, DWORD style, RECT place, int id, HFONT font)
{
    const HWND control = ::CreateWindowExW(0, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, place.left, place.top,
                                           place.right - place.left, place.bottom - place.top, box,
                                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void layOutBox(HWND box, BoxState& state)
{
    const platform::Message& message = *state.message;
    const std::wstring text = shown(message.prompt);
    const std::wstring title = shown(std::string(message.title.empty() ? shell::kProgramTitle : message.title));
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    state.font.reset(::CreateFontIndirectW(&metrics.lfMessageFont));
    const GdiObject captionFont(::CreateFontIndirectW(&metrics.lfCaptionFont));

    const HDC dc = ::GetDC(box);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    const auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, kBaseDpi); };
    const HGDIOBJ previous = ::SelectObject(dc, captionFont.get());
    const int titleText = static_cast<int>(textSize(dc, title).cx);
    const int titleWidth = titleText + titleText / kTitleWiderBy + kTitleSquares * ::GetSystemMetrics(SM_CYCAPTION);
    ::SelectObject(dc, state.font.get());
    SIZE textExtent = textSize(dc, text);
    const int lineHeight = static_cast<int>(textSize(dc, L" ").cy);

    const HICON icon = message.icon == platform::Icon::Critical  ? ::LoadIconW(nullptr, IDI_HAND)
                       : message.icon == platform::Icon::Warning ? ::LoadIconW(nullptr, IDI_EXCLAMATION)
                                                                 : nullptr;
    const int margin = px(kBoxMargin);
    const int iconSide = icon != nullptr ? ::GetSystemMetrics(SM_CXICON) : 0;
    const int textLeft = margin + (icon != nullptr ? iconSide + px(kIconGap) : 0);
    const int buttons = message.buttons == platform::Buttons::OkCancel ? 2 : 1;
    const int buttonsWidth = buttons * px(kButtonWidth) + (buttons - 1) * px(kButtonGap);

    // As wide as the longest line and the whole title, up to the screen's width.
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, kBoxStyle, FALSE, WS_EX_DLGMODALFRAME);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(::GetWindow(box, GW_OWNER), MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& screen = monitor.rcWork;
    const int frameWidth = static_cast<int>(frame.right - frame.left);
    const int widest = static_cast<int>(screen.right - screen.left) - frameWidth;
    int width = std::max({textLeft + static_cast<int>(textExtent.cx) + margin, buttonsWidth + 2 * margin,
                          titleWidth - frameWidth});
    if (width > widest) {
        width = widest;
        textExtent = textSize(dc, text, width - textLeft - margin);
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(box, dc);

    const int contentHeight = std::max({static_cast<int>(textExtent.cy), lineHeight, iconSide});
    const int buttonsTop = margin + contentHeight + margin;
    const HFONT font = static_cast<HFONT>(state.font.get());
    if (icon != nullptr) {
        const HWND iconControl =
            addControl(box, L"STATIC", L"", SS_ICON, {margin, margin, margin + iconSide, margin + iconSide}, -1, font);
        ::SendMessageW(iconControl, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
    addControl(box, L"STATIC", text, SS_LEFT | SS_NOPREFIX, {textLeft, margin, width - margin, margin + textExtent.cy},
               kBoxTextId, font);
    int left = width - margin - buttonsWidth;
    for (int i = 0; i < buttons; ++i) {
        const RECT place{left, buttonsTop, left + px(kButtonWidth), buttonsTop + px(kButtonHeight)};
        addControl(box, L"BUTTON", i == 0 ? L"OK" : L"Abbrechen", WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : 0), place,
                   i == 0 ? IDOK : IDCANCEL, font);
        left += px(kButtonWidth) + px(kButtonGap);
    }
    ::SendMessageW(box, DM_SETDEFID, IDOK, 0);
    ::SetFocus(::GetDlgItem(box, IDOK));

    // Centred over the owner (or the screen), inside the screen.
    RECT outer{0, 0, width, buttonsTop + px(kButtonHeight) + margin};
    ::AdjustWindowRectEx(&outer, kBoxStyle, FALSE, WS_EX_DLGMODALFRAME);
    const int outerWidth = outer.right - outer.left;
    const int outerHeight = outer.bottom - outer.top;
    RECT over = screen;
    if (const HWND owner = ::GetWindow(box, GW_OWNER)) {
        ::GetWindowRect(owner, &over);
    }
    const int x = std::clamp<int>((over.left + over.right - outerWidth) / 2, screen.left,
                                  std::max<int>(screen.left, screen.right - outerWidth));
    const int y = std::clamp<int>((over.top + over.bottom - outerHeight) / 2, screen.top,
                                  std::max<int>(screen.top, screen.bottom - outerHeight));
    ::SetWindowPos(box, nullptr, x, y, outerWidth, outerHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    // Titled once it has its width: a window manager that draws the title
    // (under Wine) may shorten it for the width the box had when titled.
    ::SetWindowTextW(box, title.c_str());
}

INT_PTR CALLBACK boxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        layOutBox(box, *reinterpret_cast<BoxState*>(lParam));
        return FALSE;  // the focus is set: on OK
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(box, LOWORD(wParam));  // Escape and the close box come as IDCANCEL
        return TRUE;
    }
    return FALSE;
}

std::wstring folderOf(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

}  // namespace

std::wstring shown(const std::string& utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int inLength = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), length);
    return wide;
}

platform::Answer showMessageBox(HWND owner, const platform::Message& message)
{
    if (message.icon != platform::Icon::None) {
        ::MessageBeep(static_cast<UINT>(message.icon));  // the style numbers of the icons are those of the sounds
    }
    BoxState state{&message, {}};
    BoxTemplate box;
    const INT_PTR answer = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &box.dialog, owner, &boxProc,
                                                     reinterpret_cast<LPARAM>(&state));
    return answer == IDOK || message.buttons == platform::Buttons::Ok ? platform::Answer::Ok : platform::Answer::Cancel;
}

Win32Ui::Win32Ui(HWND window, HWND list, HWND waitLabel) : window_(window), list_(list), waitLabel_(waitLabel) {}

platform::Answer Win32Ui::messageBox(const platform::Message& message)
{
    if (armWatcher_) {
        armWatcher_();
    }
    return showMessageBox(window_, message);
}

std::optional<std::string> Win32Ui::chooseFile(const std::vector<platform::FileFilter>& filters,
                                               std::size_t preselectedFilter, const std::string& current)
{
    std::wstring filterText;  // description, zero, pattern, zero, ..., zero
    for (const platform::FileFilter& filter : filters) {
        filterText += shown(filter.description) + L'\0' + shown(filter.pattern) + L'\0';
    }
    filterText += L'\0';
    const std::wstring start = shown(current);
    const std::wstring startFolder = folderOf(start);
    const bool folderOnly = start.empty() || start.ends_with(L'\\') || start.ends_with(L'/');
    for (const bool withName : {!folderOnly, false}) {  // a name the dialog refuses: open in its folder only
        std::wstring chosen(kDialogPathChars, L'\0');
        if (withName) {
            chosen.replace(0, std::min<std::size_t>(start.size(), kDialogPathChars - 1), start);
        }
        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof dialog;
        dialog.hwndOwner = window_;
        dialog.lpstrFilter = filterText.c_str();
        dialog.nFilterIndex = static_cast<DWORD>(preselectedFilter + 1);  // counted from 1
        dialog.lpstrFile = chosen.data();
        dialog.nMaxFile = kDialogPathChars;
        dialog.lpstrInitialDir = startFolder.empty() ? nullptr : startFolder.c_str();
        dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        if (::GetOpenFileNameW(&dialog)) {
            return platform::narrow(chosen.c_str());
        }
        if (::CommDlgExtendedError() != FNERR_INVALIDFILENAME) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void Win32Ui::listClear()
{
    ::SendMessageW(list_, LB_RESETCONTENT, 0, 0);
}

void Win32Ui::listAdd(const std::string& text)
{
    ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown(text).c_str()));
}

std::size_t Win32Ui::listCount() const
{
    const LRESULT count = ::SendMessageW(list_, LB_GETCOUNT, 0, 0);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::string Win32Ui::listText(std::size_t i) const
{
    const LRESULT length = ::SendMessageW(list_, LB_GETTEXTLEN, i, 0);
    if (length == LB_ERR) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = ::SendMessageW(list_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    return platform::narrow(text);
}

bool Win32Ui::listMarked(std::size_t i) const
{
    return ::SendMessageW(list_, LB_GETSEL, i, 0) > 0;
}

void Win32Ui::listSetMarked(std::size_t i, bool marked)
{
    ::SendMessageW(list_, LB_SETSEL, marked, static_cast<LPARAM>(i));
}

void Win32Ui::listSetAllMarked(bool marked)
{
    ::SendMessageW(list_, LB_SETSEL, marked, -1);  // -1: every entry
}

void Win32Ui::listFocus(std::size_t i)
{
    ::SetFocus(list_);
    ::SendMessageW(list_, LB_SETCARETINDEX, i, FALSE);  // scrolled into view
}

void Win32Ui::setCaption(const std::string& caption)
{
    ::SetWindowTextW(window_, shown(caption).c_str());
}

void Win32Ui::setWaitVisible(bool visible)
{
    ::ShowWindow(waitLabel_, visible ? SW_SHOW : SW_HIDE);
}

void Win32Ui::processEvents()
{
    // Draws what is pending (the wait label) and nothing else: no click can start a second pass meanwhile.
    ::RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

std::string Win32Ui::toUpper(const std::string& text) const
{
    std::wstring wide = shown(text);
    ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return platform::narrow(wide);
}

}  // namespace ks::win32
