// Test program of the dialogs: a QApplication for the widgets, then every test.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // Headless unless the caller picked a display (the screenshots run under Xvfb).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
