// The window driver against a real program on the desktop (Chromium): it finds controls on the accessibility
// bus, clicks them with the pointer and types into them with real key strokes, accented letters included.
#include "Support/DesktopSession.h"
#include "Support/WindowDriver.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

class WindowDriverTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        session = new test::DesktopSession();
        if (session->start())
            session->openWindow(QStringLiteral("Work"));
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(session->failure().isEmpty()) << session->failure().toStdString();
        ASSERT_TRUE(driver.isReady()) << driver.failure().toStdString();
    }

    // Chromium's address field.
    test::AccessibleElement addressField() {
        const test::AccessibleElement app = driver.application(session->chromiumPid(), 20);
        if (app.isNull())
            return {};
        test::AccessibleElement found;
        test::WindowDriver::waitUntil(
            [&] {
                for (const test::AccessibleElement& entry : driver.findAll(app, QStringLiteral("entry"), {}))
                    if (entry.name().contains(QStringLiteral("Address"), Qt::CaseInsensitive))
                        found = entry;
                return !found.isNull();
            },
            15);
        return found;
    }

    static inline test::DesktopSession* session = nullptr;
    test::WindowDriver driver;
};

TEST_F(WindowDriverTest, ClicksAndTypesLikeAUser) {
    const test::AccessibleElement field = addressField();
    ASSERT_FALSE(field.isNull()) << driver.application(session->chromiumPid()).dump(14).toStdString();
    ASSERT_TRUE(driver.click(field));
    EXPECT_TRUE(test::WindowDriver::waitUntil([&] { return field.hasState(QStringLiteral("focused")); }, 5))
        << field.states().join(QLatin1Char(' ')).toStdString();
    const QString typed = QStringLiteral("Crème brûlée Straße");
    ASSERT_TRUE(driver.typeText(typed));
    EXPECT_TRUE(test::WindowDriver::waitUntil([&] { return field.text().contains(typed); }, 5))
        << field.text().toStdString();
    ASSERT_TRUE(driver.press(test::WindowDriver::Key::Escape));

    const QImage screen = driver.screenshot();
    EXPECT_FALSE(screen.isNull());
    EXPECT_FALSE(driver.saveScreenshot(QStringLiteral("WindowDriver-typed")).isEmpty());
}

} // namespace
