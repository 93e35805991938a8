// Kartenschalter: switches Garmin IMG map tiles between transparent and opaque.
#include <QApplication>
#include <algorithm>
#include <iostream>
#include <span>

#include "main_window.h"
#include "shell/arguments.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args = ks::platform::utf8Arguments(argc, argv);
    const ks::shell::Arguments parsed = ks::shell::parseArguments(std::span(args).subspan(args.empty() ? 0 : 1));
    if (const auto status = ks::shell::answerWithoutWindow(parsed, KS_VERSION, std::cout, std::cerr)) {
        return *status;
    }
    int qtArgc = std::min(argc, 1);  // the command line is the program's own: Qt reads none of it
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Kartenschalter"));
    QApplication::setApplicationVersion(QStringLiteral(KS_VERSION));
    QApplication::setWindowIcon(ks::ui::appIcon());
    ks::ui::installGermanQtTexts();
    ks::platform::raiseOpenFileLimit();
    const auto files = ks::platform::nativeFileLayer();
    ks::ui::MainWindow window(*files);
    window.listAtStart(parsed.path);
    window.show();
    return QApplication::exec();
}
