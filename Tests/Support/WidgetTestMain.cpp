// Widget tests: a fresh temporary home, a GUI application (offscreen), a fixed locale and time zone.
#include "Support/TemporaryHome.h"

#include <QApplication>
#include <QLocale>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    test::TemporaryHome home;
    qputenv("TZ", "America/Los_Angeles");
    // Headless unless a test run asks for a screen (test discovery runs without the test environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
