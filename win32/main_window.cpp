#include "main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

#include "resources.h"
#include "shell/info_text.h"

namespace ks::win32 {

namespace {

constexpr wchar_t kClassName[] = L"Kartenschalter";
constexpr int kFirstControlId = 100;  // + index in shell::kControls
constexpr int kFirstMenuId = 200;     // + index in shell::kMenu
constexpr UINT kFirstPaintMessage = WM_APP + 1;
constexpr int kPointsPerInch = 72;
constexpr int kBaseDpi = 96;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;  // fixed size
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
constexpr WORD kTipShowMilliseconds = 30000;  // long enough to read the list's tooltip
// Pixels at 96 dpi.
constexpr int kEntryMargin = 2;       // between the list's edge and an entry's text
constexpr int kFocusInset = 3;        // from a button's edge to its focus frame
constexpr int kButtonTextInset = 5;   // from a button's edge to its text: the frame keeps a pixel's room
constexpr double kFontStep = 0.25;    // points: a button's font shrinks by this until its text fits
constexpr double kSmallestFont = 6;   // points
constexpr UINT_PTR kListWatch = 1;    // the list's subclass

// Functions of newer Windows versions, looked up so that older ones still start the program.
template <typename Function>
Function userFunction(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32"), name)));
}

int dpiOf(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = userFunction<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        return static_cast<int>(getDpiForWindow(window));
    }
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

// The outer size of a window whose client area is client at dpi.
RECT windowRect(RECT client, int dpi)
{
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = userFunction<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr || !adjustForDpi(&client, kWindowStyle, TRUE, kWindowExStyle, static_cast<UINT>(dpi))) {
        ::AdjustWindowRectEx(&client, kWindowStyle, TRUE, kWindowExStyle);
    }
    return client;
}

int scaled(int twips, int dpi)
{
    return shell::pixels(twips, dpi);
}

GdiObject fontFor(const shell::Font& font, int dpi)
{
    const bool fixed = font.face == shell::Face::Fixed;
    const int height = -static_cast<int>(std::lround(font.points * dpi / kPointsPerInch));
    return GdiObject(::CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline, FALSE,
                                   DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                   fixed ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                                   fixed ? L"Courier New" : L"Arial"));  // Wine: Liberation Sans, Bold included
}

// The wait label's entry in the layout.
const shell::Control& waitSpec()
{
    return *std::find_if(std::begin(shell::kControls), std::end(shell::kControls),
                         [](const shell::Control& c) { return std::string_view(c.name) == "lbl_Warten"; });
}

COLORREF colourOf(std::int32_t rgb)
{
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The window class, with the control kinds of the layout.
struct Kind {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

Kind kindOf(const shell::Control& c)
{
    switch (c.kind) {
    case shell::Kind::List:  // entries drawn by drawEntry
        return {L"LISTBOX",
                WS_VSCROLL | LBS_MULTIPLESEL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | LBS_HASSTRINGS | LBS_OWNERDRAWFIXED,
                WS_EX_CLIENTEDGE};
    case shell::Kind::Label: return {L"STATIC", SS_OWNERDRAW, 0};  // drawn by drawLabel
    case shell::Kind::Button: return {L"BUTTON", BS_OWNERDRAW, 0};  // drawn by drawButton
    case shell::Kind::Line: break;
    }
    return {nullptr, 0, 0};
}

// Width of UTF-8 text in the DC's font.
LONG extent(HDC dc, std::string_view text)
{
    const std::wstring wide = shown(std::string(text));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size.cx;
}

// Draws lines of UTF-8 text from the top of area, one font height each.
void drawLines(HDC dc, const std::vector<std::string_view>& lines, RECT area, UINT align)
{
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    for (const std::string_view text : lines) {
        area.bottom = area.top + metrics.tmHeight;
        const std::wstring wide = shown(std::string(text));
        ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &area, DT_SINGLELINE | DT_NOPREFIX | align);
        area.top = area.bottom;
    }
}

RECT inset(RECT r, int by)
{
    ::InflateRect(&r, -by, -by);
    return r;
}

// A tooltip's lines, each ending in a no-break space: the tooltip (under Wine)
// draws its text a pixel or two narrower than it measured it, which cuts that
// space rather than the line's last character.
std::wstring tipLines(const std::vector<std::string_view>& lines)
{
    std::string text;
    for (const std::string_view line : lines) {
        text.append(text.empty() ? "" : "\r\n").append(line).append("\u00A0");
    }
    return shown(text);
}

// The list's tooltip: one line for each suffix.
std::wstring suffixTip()
{
    return tipLines({std::begin(shell::kSuffixTipLines), std::end(shell::kSuffixTipLines)});
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, platform::FileLayer& files, std::string startPath,
                       std::function<void(MainWindow&)> afterStart)
    : startPath_(std::move(startPath)), afterStart_(std::move(afterStart))
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MainWindow::windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(KS_APP_ICON));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);

    window_ = ::CreateWindowExW(kWindowExStyle, kClassName, shown(workflow::kStartCaption).c_str(), kWindowStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                instance, this);
    if (window_ == nullptr) {
        throw std::runtime_error("the main window could not be created");
    }
    buildControls(instance);
    buildMenu();
    place(dpiOf(window_));
    ui_ = std::make_unique<Win32Ui>(window_, lst_, lbl_Warten_);
    platform_ = std::make_unique<platform::Platform>(platform::Platform{*ui_, files});
    workflow_ = std::make_unique<workflow::Workflow>(*platform_);
    ::SetFocus(lst_);
}

MainWindow::~MainWindow()
{
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

HWND MainWindow::control(std::string_view name, int index) const
{
    for (std::size_t i = 0; i < std::size(shell::kControls); ++i) {
        if (shell::kControls[i].name == name && shell::kControls[i].index == index) {
            return controls_[i];
        }
    }
    return nullptr;
}

int MainWindow::menuId(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(shell::kMenu); ++i) {
        if (shell::kMenu[i].name == name) {
            return kFirstMenuId + static_cast<int>(i);
        }
    }
    return 0;
}

void MainWindow::buildControls(HINSTANCE instance)
{
    // Creation order is the z-order, and the z-order is the order of the Tab key.
    std::vector<std::size_t> order(std::size(shell::kControls));
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    const auto rank = [](std::size_t i) {
        const int tab = shell::kControls[i].tabOrder;
        return tab >= 0 ? tab : INT_MAX;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });

    controls_.assign(order.size(), nullptr);
    for (const std::size_t i : order) {
        const shell::Control& c = shell::kControls[i];
        const Kind kind = kindOf(c);
        if (kind.className == nullptr) {
            continue;
        }
        const DWORD style = WS_CHILD | kind.style | (c.hiddenAtStart ? 0 : WS_VISIBLE) | (c.tabOrder >= 0 ? WS_TABSTOP : 0);
        controls_[i] = ::CreateWindowExW(kind.exStyle, kind.className, shown(c.text).c_str(), style, 0, 0, 0, 0,
                                         window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)),
                                         instance, nullptr);
        if (c.kind == shell::Kind::List) {
            lst_ = controls_[i];
            addTooltip(instance);
        }
        if (&c == &waitSpec()) {
            lbl_Warten_ = controls_[i];
            waitBrush_.reset(::CreateSolidBrush(colourOf(c.background)));
        }
    }
}

void MainWindow::addTooltip(HINSTANCE instance)
{
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    tip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance,
                             nullptr);  // owned by the window, which destroys it
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(lst_);
    tool.lpszText = LPSTR_TEXTCALLBACKW;  // tipText
    ::SetWindowSubclass(lst_, &MainWindow::listProc, kListWatch, reinterpret_cast<DWORD_PTR>(this));
    ::SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, ::GetSystemMetrics(SM_CXSCREEN));  // lines break at CR LF only
    ::SendMessageW(tip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(kTipShowMilliseconds, 0));
}

void MainWindow::buildMenu()
{
    const HMENU bar = ::CreateMenu();
    HMENU fileMenu = nullptr;
    for (std::size_t i = 0; i < std::size(shell::kMenu); ++i) {
        const shell::MenuItem& item = shell::kMenu[i];
        const UINT_PTR id = kFirstMenuId + i;
        if (item.opensFileMenu) {
            fileMenu = ::CreatePopupMenu();
            ::AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(fileMenu), shown(item.text).c_str());
        } else if (std::string_view(item.text) == "-") {
            ::AppendMenuW(fileMenu, MF_SEPARATOR, 0, nullptr);
        } else {
            ::AppendMenuW(item.inFileMenu ? fileMenu : bar, MF_STRING, id, shown(item.text).c_str());
        }
    }
    ::SetMenu(window_, bar);  // the window owns the menu from here on
}

void MainWindow::place(int dpi)
{
    dpi_ = dpi;
    RECT client{0, 0, scaled(shell::kClientWidthTwips, dpi), scaled(shell::kClientHeightTwips, dpi)};
    const RECT outer = windowRect(client, dpi);
    ::SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    fonts_.clear();
    const HDC dc = ::GetDC(window_);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const shell::Control& c = shell::kControls[i];
        fonts_.push_back(c.kind == shell::Kind::Line ? GdiObject() : fontFor(c.font, dpi));
        if (controls_[i] == nullptr) {
            continue;
        }
        // A button's text within its lines and inside its focus frame, in a smaller font where it needs one.
        const RECT area = inset({0, 0, scaled(c.place.c, dpi), scaled(c.place.d, dpi)}, ::MulDiv(kButtonTextInset, dpi, kBaseDpi));
        for (shell::Font smaller = c.font; c.kind == shell::Kind::Button && smaller.points > kSmallestFont;) {
            const HGDIOBJ previous = ::SelectObject(dc, fonts_[i].get());
            const auto fits = [&](std::string_view line) { return extent(dc, line) <= area.right - area.left; };
            const auto lines = shell::breakAtSpaces(c.text, fits);
            TEXTMETRICW metrics{};
            ::GetTextMetricsW(dc, &metrics);
            ::SelectObject(dc, previous);
            if (lines.size() <= static_cast<std::size_t>(c.lines) && std::ranges::all_of(lines, fits) &&
                static_cast<LONG>(lines.size()) * metrics.tmHeight <= area.bottom - area.top) {
                break;
            }
            smaller.points -= kFontStep;
            fonts_[i] = fontFor(smaller, dpi);
        }
        ::SetWindowPos(controls_[i], nullptr, scaled(c.place.a, dpi), scaled(c.place.b, dpi), scaled(c.place.c, dpi),
                       scaled(c.place.d, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[i].get()), TRUE);
        if (c.kind == shell::Kind::List) {
            const HGDIOBJ previous = ::SelectObject(dc, fonts_[i].get());
            TEXTMETRICW metrics{};
            ::GetTextMetricsW(dc, &metrics);
            ::SelectObject(dc, previous);
            ::SendMessageW(controls_[i], LB_SETITEMHEIGHT, 0, metrics.tmHeight);
        }
    }
    ::ReleaseDC(window_, dc);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void MainWindow::paintLines(HDC dc) const
{
    for (const shell::Control& c : shell::kControls) {
        if (c.kind != shell::Kind::Line) {
            continue;
        }
        const GdiObject pen(::CreatePen(PS_SOLID, ::MulDiv(c.lineWidth, dpi_, kBaseDpi), ::GetSysColor(COLOR_WINDOWTEXT)));
        const HGDIOBJ previous = ::SelectObject(dc, pen.get());
        ::MoveToEx(dc, scaled(c.place.a, dpi_), scaled(c.place.b, dpi_), nullptr);
        ::LineTo(dc, scaled(c.place.c, dpi_), scaled(c.place.d, dpi_));
        ::SelectObject(dc, previous);
    }
}

void MainWindow::drawLabel(const DRAWITEMSTRUCT& item) const
{
    const std::size_t index = item.CtlID - kFirstControlId;
    if (index >= std::size(shell::kControls) || shell::kControls[index].kind != shell::Kind::Label) {
        return;
    }
    const shell::Control& c = shell::kControls[index];
    const HDC dc = item.hDC;
    ::FillRect(dc, &item.rcItem, item.hwndItem == lbl_Warten_ ? static_cast<HBRUSH>(waitBrush_.get())
                                                              : ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetTextColor(dc, c.foreground != shell::kDefaultColour ? colourOf(c.foreground) : ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkMode(dc, TRANSPARENT);
    const HGDIOBJ previous = ::SelectObject(dc, fonts_[index].get());
    const LONG width = item.rcItem.right - item.rcItem.left;
    drawLines(dc, shell::breakAtSpaces(c.text, [&](std::string_view l) { return extent(dc, l) <= width; }), item.rcItem,
              c.centred ? DT_CENTER : DT_LEFT);
    ::SelectObject(dc, previous);
}

std::string MainWindow::shownEntry(std::size_t i) const
{
    const HDC dc = ::GetDC(lst_);
    const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(lst_, WM_GETFONT, 0, 0)));
    RECT client{};
    ::GetClientRect(lst_, &client);
    const int room = client.right - 2 * ::MulDiv(kEntryMargin, dpi_, kBaseDpi);
    std::string text = shell::fitEntry(ui_->listText(i), room, [dc](std::string_view t) { return extent(dc, t); });
    ::SelectObject(dc, previous);
    ::ReleaseDC(lst_, dc);
    return text;
}

void MainWindow::drawEntry(const DRAWITEMSTRUCT& item) const
{
    const HDC dc = item.hDC;
    if (item.itemID == static_cast<UINT>(-1)) {  // an empty list with the focus
        if (item.itemState & ODS_FOCUS) {
            ::DrawFocusRect(dc, &item.rcItem);
        }
        return;
    }
    const bool marked = item.itemState & ODS_SELECTED;
    ::FillRect(dc, &item.rcItem, ::GetSysColorBrush(marked ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    ::SetTextColor(dc, ::GetSysColor(marked ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    ::SetBkMode(dc, TRANSPARENT);
    const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(lst_, WM_GETFONT, 0, 0)));
    RECT text = item.rcItem;
    text.left += ::MulDiv(kEntryMargin, dpi_, kBaseDpi);
    const std::wstring wide = shown(shownEntry(item.itemID));
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &text, DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER);
    ::SelectObject(dc, previous);
    if (item.itemState & ODS_FOCUS) {
        ::DrawFocusRect(dc, &item.rcItem);
    }
}

std::vector<std::string> MainWindow::buttonLines(HWND button) const
{
    const auto at = std::ranges::find(controls_, button);
    if (button == nullptr || at == controls_.end()) {
        return {};
    }
    const std::size_t index = static_cast<std::size_t>(at - controls_.begin());
    RECT client{};
    ::GetClientRect(button, &client);
    const RECT area = inset(client, ::MulDiv(kButtonTextInset, dpi_, kBaseDpi));
    const HDC dc = ::GetDC(button);
    const HGDIOBJ previous = ::SelectObject(dc, fonts_[index].get());
    std::vector<std::string> lines;
    for (const std::string_view line : shell::breakAtSpaces(shell::kControls[index].text, [&](std::string_view l) {
             return extent(dc, l) <= area.right - area.left;
         })) {
        lines.emplace_back(line);
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(button, dc);
    return lines;
}

void MainWindow::drawButton(const DRAWITEMSTRUCT& item) const
{
    const HDC dc = item.hDC;
    RECT face = item.rcItem;
    const bool pushed = item.itemState & ODS_SELECTED;
    ::DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    const std::vector<std::string> owned = buttonLines(item.hwndItem);
    const std::vector<std::string_view> lines(owned.begin(), owned.end());
    const HGDIOBJ previous = ::SelectObject(dc, fonts_[item.CtlID - kFirstControlId].get());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT area = inset(item.rcItem, ::MulDiv(kButtonTextInset, dpi_, kBaseDpi));
    const LONG height = static_cast<LONG>(lines.size()) * metrics.tmHeight;
    area.top += std::max<LONG>(0, (area.bottom - area.top - height) / 2) + (pushed ? 1 : 0);
    area.left += pushed ? 1 : 0;
    area.right += pushed ? 1 : 0;
    ::SetTextColor(dc, ::GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    ::SetBkMode(dc, TRANSPARENT);
    drawLines(dc, lines, area, DT_CENTER);
    ::SelectObject(dc, previous);
    if (item.itemState & ODS_FOCUS) {
        const RECT frame = inset(item.rcItem, ::MulDiv(kFocusInset, dpi_, kBaseDpi));
        ::DrawFocusRect(dc, &frame);
    }
}

const wchar_t* MainWindow::tipText()
{
    tipText_ = suffixTip();
    if (tipEntry_ >= 0 && static_cast<std::size_t>(tipEntry_) < ui_->listCount()) {
        const std::string whole = ui_->listText(static_cast<std::size_t>(tipEntry_));
        if (shownEntry(static_cast<std::size_t>(tipEntry_)) != whole) {
            tipText_ = tipLines({whole});
        }
    }
    return tipText_.c_str();
}

LRESULT CALLBACK MainWindow::listProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self)
{
    if (message == WM_MOUSEMOVE) {
        auto& window = *reinterpret_cast<MainWindow*>(self);
        const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam);
        const int entry = HIWORD(hit) == 0 ? static_cast<int>(LOWORD(hit)) : -1;
        if (entry != window.tipEntry_) {
            window.tipEntry_ = entry;
            ::SendMessageW(window.tip_, TTM_POP, 0, 0);  // shown again for the new entry, with its text
        }
    }
    return ::DefSubclassProc(list, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr && self->workflow_ ? self->onMessage(message, wParam, lParam)
                                              : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT MainWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        const HDC dc = ::BeginPaint(window_, &paint);
        paintLines(dc);
        ::EndPaint(window_, &paint);
        Form_Paint();
        return 0;
    }
    case kFirstPaintMessage: onFirstPaint(); return 0;
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        item.CtlType == ODT_LISTBOX ? drawEntry(item) : item.CtlType == ODT_BUTTON ? drawButton(item) : drawLabel(item);
        return TRUE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == tip_ && header->code == TTN_GETDISPINFOW) {
            reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = const_cast<wchar_t*>(tipText());
        }
        return 0;
    }
    case WM_DROPFILES: {
        const auto drop = reinterpret_cast<HDROP>(wParam);
        std::wstring path(::DragQueryFileW(drop, 0, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
        ::DragFinish(drop);
        if (!path.empty()) {
            workflow_->openPath(platform::narrow(path));
        }
        return 0;
    }
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        place(HIWORD(wParam));
        return 0;
    }
    case WM_CLOSE: mn_End_Click(); return 0;
    case WM_DESTROY:
        window_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default: break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::onCommand(int id, int notification)
{
    if (id == IDOK) {  // Enter: the focused button is pressed
        const HWND focus = ::GetFocus();
        if (focus != nullptr && focus != lst_ && ::GetParent(focus) == window_) {
            ::SendMessageW(focus, BM_CLICK, 0, 0);
        }
        return;
    }
    const std::size_t control = static_cast<std::size_t>(id - kFirstControlId);
    if (id >= kFirstControlId && control < std::size(shell::kControls)) {
        if (notification == BN_CLICKED && shell::kControls[control].kind == shell::Kind::Button) {
            run(shell::kControls[control].command);
        }
        return;
    }
    const std::size_t item = static_cast<std::size_t>(id - kFirstMenuId);
    if (id >= kFirstMenuId && item < std::size(shell::kMenu)) {
        run(shell::kMenu[item].command);
    }
}

void MainWindow::run(shell::Command command)
{
    if (!workflow_->run(command)) {
        mn_End_Click();
    }
}

void MainWindow::Form_Paint()
{
    if (firstPaint_ > 0) {
        return;
    }
    firstPaint_ = 1;
    // Shown once the paint is done: a modal box must not open inside WM_PAINT.
    ::PostMessageW(window_, kFirstPaintMessage, 0, 0);
}

void MainWindow::onFirstPaint()
{
    workflow_->afterFirstPaint(startPath_);
    if (afterStart_) {
        afterStart_(*this);
    }
}

void MainWindow::mn_End_Click()
{
    if (window_ != nullptr) {
        ::DestroyWindow(window_);
    }
}

}  // namespace ks::win32
