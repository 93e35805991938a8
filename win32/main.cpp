// Kartenschalter for Windows: switches Garmin IMG map tiles between transparent and opaque.
#include <windows.h>

#include <exception>

#include "autopilot.h"
#include "main_window.h"
#include "shell/arguments.h"
#include "version.h"

namespace {

constexpr int kExitUsage = 2;  // the command line was wrong

// The help in the box, for those who start the program without a console: in
// German, the options lined up at a tab stop.
constexpr char kGermanHelp[] =
    "Aufruf: kartenschalter [PFAD]\n"
    "Schaltet Garmin-IMG-Karten zwischen transparent und opak um.\n"
    "\n"
    "Listet jede Datei eines Ordners mit dem Zustand ihres Transparenz-Bits,\n"
    "markierte Dateien werden auf einmal umgeschaltet; dabei wird je Karte\n"
    "genau ein Byte an Ort und Stelle geändert.\n"
    "\n"
    "PFAD ist ein Ordner oder eine beliebige Datei darin: dieser Ordner wird\n"
    "gleich nach dem Start gelistet, als wäre er über \u201EDatei (file)\u201C >\n"
    "\u201EPfad wählen (select path)\u201C gewählt worden.\n"
    "\n"
    "Optionen:\n"
    "  -h, --help\tdiese Hilfe zeigen und beenden\n"
    "  --version\tdie Version zeigen und beenden";

// Writes text to where the program's output goes: the file or pipe it was
// given, or the console it was started from; false when there is neither.
bool writeOut(DWORD which, const std::string& text)
{
    HANDLE out = ::GetStdHandle(which);
    const bool given = out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) != FILE_TYPE_UNKNOWN;
    ks::platform::FileHandle console;
    if (!given) {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
            return false;
        }
        console.reset(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
        out = console.get();
        if (!console) {
            return false;
        }
    }
    std::string lines;  // CR LF, as the console and Windows' editors want
    for (const char c : text) {
        if (c == '\n') {
            lines += '\r';
        }
        lines += c;
    }
    DWORD mode = 0;
    DWORD put = 0;
    if (::GetConsoleMode(out, &mode)) {  // a console: as UTF-16, whatever its code page
        const std::wstring wide = ks::win32::shown(lines);
        return ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &put, nullptr) != 0;
    }
    return ::WriteFile(out, lines.data(), static_cast<DWORD>(lines.size()), &put, nullptr) != 0;
}

// Tells text on the console (stdout, or stderr for a complaint), or in a box
// when the program has none; returns exitCode.
int tell(const std::string& text, const std::string& boxText, ks::platform::Icon icon, int exitCode)
{
    if (!writeOut(exitCode == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, text)) {
        ks::win32::showMessageBox(nullptr, {boxText, "", icon, ks::platform::Buttons::Ok});
    }
    return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int showCommand)
{
    using ks::shell::Arguments;
    try {
        const std::vector<std::string> args = ks::platform::utf8Arguments(0, nullptr);
        const Arguments parsed = ks::shell::parseArguments(std::span(args).subspan(args.empty() ? 0 : 1));
        using ks::platform::Icon;
        switch (parsed.action) {
        case Arguments::Action::Help: return tell(ks::shell::helpText(), kGermanHelp, Icon::None, 0);
        case Arguments::Action::Version:
            return tell("kartenschalter " KS_VERSION "\n", "kartenschalter " KS_VERSION, Icon::None, 0);
        case Arguments::Action::Usage: {
            const std::string problem = "kartenschalter: " + parsed.problem;
            return tell(problem + "\nTry 'kartenschalter --help' for more information.\n",
                        problem + "\n\n" + kGermanHelp, Icon::Critical, kExitUsage);
        }
        case Arguments::Action::Run: break;
        }

        const auto files = ks::platform::nativeFileLayer();
        const auto autopilot = ks::win32::Autopilot::fromEnvironment();
        std::function<void(ks::win32::MainWindow&)> afterStart;
        if (autopilot) {
            afterStart = [&](ks::win32::MainWindow& window) { autopilot->drive(window); };
        }
        const std::string start = parsed.path.empty() ? std::string() : ks::shell::absolutePath(parsed.path);
        ks::win32::MainWindow window(instance, *files, start, afterStart);
        if (autopilot) {
            window.ui().setBoxWatcher([&] { autopilot->watchNextBox(); });
        }
        ::ShowWindow(window.window(), showCommand);
        ::UpdateWindow(window.window());

        MSG message{};
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (window.window() == nullptr || !::IsDialogMessageW(window.window(), &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        return static_cast<int>(message.wParam);
    } catch (const std::exception& e) {
        const std::string problem = std::string("kartenschalter: ") + e.what();
        return tell(problem + "\n", problem, ks::platform::Icon::Critical, 1);
    }
}
