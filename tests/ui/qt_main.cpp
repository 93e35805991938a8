// Runs the window tests inside a QApplication (offscreen unless a platform is
// set) that speaks German, as the program's does.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/qt_ui.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ks::ui::installGermanQtTexts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
