#include "win32_ui.h"

#include <cderr.h>
#include <commdlg.h>

#include "platform/windows_files.h"

namespace ks::win32 {

namespace {

constexpr DWORD kDialogPathChars = 32768;  // the longest path the dialog may return, with its zero

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

Win32Ui::Win32Ui(HWND window, HWND list, HWND waitLabel) : window_(window), list_(list), waitLabel_(waitLabel) {}

platform::Answer Win32Ui::messageBox(const platform::Message& message)
{
    if (armWatcher_) {
        armWatcher_();
    }
    // The style numbers of Buttons and Icon are those of MessageBoxW (MB_OKCANCEL, MB_ICONSTOP, MB_ICONWARNING).
    const UINT style = static_cast<UINT>(message.style()) | MB_APPLMODAL | MB_SETFOREGROUND;
    const int answer = ::MessageBoxW(window_, shown(message.prompt).c_str(), shown(message.title).c_str(), style);
    return answer == IDOK ? platform::Answer::Ok : platform::Answer::Cancel;
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
    for (const bool withName : {true, false}) {  // a name the dialog refuses: open in its folder only
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

void Win32Ui::listFocusFirst()
{
    ::SetFocus(list_);
    ::SendMessageW(list_, LB_SETCARETINDEX, 0, FALSE);
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
