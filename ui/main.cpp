// Kartenschalter: switches Garmin IMG map tiles between transparent and opaque.
#include <QApplication>

#include "main_window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kartenschalter"));
    QApplication::setApplicationVersion(QStringLiteral(KS_VERSION));
    QApplication::setWindowIcon(ks::ui::appIcon());
    const auto files = ks::platform::nativeFileLayer();
    ks::ui::MainWindow window(*files);
    window.show();
    return QApplication::exec();
}
