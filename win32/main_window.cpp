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
    case shell::Kind::List:
        return {L"LISTBOX",
                WS_VSCROLL | LBS_MULTIPLESEL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | LBS_HASSTRINGS,
                WS_EX_CLIENTEDGE};
    case shell::Kind::Label: return {L"STATIC", SS_OWNERDRAW, 0};  // drawn by drawLabel
    case shell::Kind::Button: return {L"BUTTON", BS_PUSHBUTTON | BS_MULTILINE | BS_CENTER | BS_VCENTER, 0};
    case shell::Kind::Line: break;
    }
    return {nullptr, 0, 0};
}

// The list's tooltip: one line for each suffix.
std::wstring suffixTip()
{
    std::string text;
    for (const std::string_view line : shell::kSuffixTipLines) {
        text.append(text.empty() ? "" : "\r\n").append(line);
    }
    return shown(text);
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
    std::wstring text = suffixTip();
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(lst_);
    tool.lpszText = text.data();
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
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const shell::Control& c = shell::kControls[i];
        fonts_.push_back(c.kind == shell::Kind::Line ? GdiObject() : fontFor(c.font, dpi));
        if (controls_[i] == nullptr) {
            continue;
        }
        ::SetWindowPos(controls_[i], nullptr, scaled(c.place.a, dpi), scaled(c.place.b, dpi), scaled(c.place.c, dpi),
                       scaled(c.place.d, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[i].get()), TRUE);
    }
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
    const auto extent = [dc](std::string_view text) {
        const std::wstring wide = shown(std::string(text));
        SIZE size{};
        ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
        return size.cx;
    };
    const LONG width = item.rcItem.right - item.rcItem.left;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT line = item.rcItem;
    for (const std::string_view text : shell::breakAtSpaces(c.text, [&](std::string_view l) { return extent(l) <= width; })) {
        line.bottom = line.top + metrics.tmHeight;
        const std::wstring wide = shown(std::string(text));
        ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &line,
                    DT_SINGLELINE | DT_NOPREFIX | (c.centred ? DT_CENTER : DT_LEFT));
        line.top = line.bottom;
    }
    ::SelectObject(dc, previous);
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
    case WM_DRAWITEM: drawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)); return TRUE;
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
