// Kartenschalter for Windows: switches Garmin IMG map tiles between transparent and opaque.
#include <windows.h>

#include <exception>

#include "autopilot.h"
#include "main_window.h"
#include "shell/arguments.h"
#include "version.h"

namespace {

constexpr int kExitUsage = 2;  // the command line was wrong
constexpr char kProgramTitle[] = "Kartenschalter";

// A GUI program has no console: its help and its complaints come as message boxes.
int tell(const std::string& text, ks::platform::Icon icon, int exitCode)
{
    ks::win32::showMessageBox(nullptr, {text, kProgramTitle, icon, ks::platform::Buttons::Ok});
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
        case Arguments::Action::Help: return tell(ks::shell::helpText(), Icon::None, 0);
        case Arguments::Action::Version: return tell("kartenschalter " KS_VERSION, Icon::None, 0);
        case Arguments::Action::Usage:
            return tell("kartenschalter: " + parsed.problem + "\n\n" + ks::shell::helpText(), Icon::Critical, kExitUsage);
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
        return tell(std::string("kartenschalter: ") + e.what(), ks::platform::Icon::Critical, 1);
    }
}
