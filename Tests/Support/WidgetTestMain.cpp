// Widget tests: a fresh temporary home, a GUI application (offscreen), a fixed locale and time zone.
#include "CorvaneHost/BackgroundWork.h"
#include "Support/TemporaryHome.h"
#include "Support/TestRun.h"

#include <QApplication>
#include <QLocale>
#include <gmock/gmock.h>

namespace {

// Background work a test started ends with that test, so that none of it draws into the next test's doubles
// or runs while the program ends.
class BackgroundWorkEndsWithItsTest final : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        EXPECT_TRUE(host::waitForBackgroundWork()) << "background work still runs after the test";
    }
};

} // namespace

int main(int argc, char** argv) {
    test::TemporaryHome home;
    qputenv("TZ", "America/Los_Angeles");
    // Headless unless a test run asks for a screen (test discovery runs without the test environment).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new BackgroundWorkEndsWithItsTest);
    return test::runAllTests();
}
