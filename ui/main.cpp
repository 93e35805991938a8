// Kartenschalter: switches Garmin IMG map tiles between transparent and opaque.
#include <QApplication>

#include "main_window.h"
#include "platform/posix_files.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kartenschalter"));
    QApplication::setApplicationVersion(QStringLiteral(KS_VERSION));
    QApplication::setWindowIcon(ks::ui::appIcon());
    ks::platform::PosixFileLayer files;
    ks::ui::MainWindow window(files);
    window.show();
    return QApplication::exec();
}
