// The main of test programs that run a private desktop (DesktopSession): as root they re-run themselves as
// an unprivileged user first; then, as every test program, they run in a fresh temporary home.
#include "Support/DesktopSession.h"
#include "Support/TemporaryHome.h"
#include "Support/TestRun.h"

#include <QCoreApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    test::DesktopSession::runAsUnprivilegedUser(argc, argv);
    int result = 0;
    {
        test::TemporaryHome home;
        QCoreApplication app(argc, argv);
        testing::InitGoogleMock(&argc, argv);
        result = test::runAllTests();
    }
    test::DesktopSession::removeFreshHome();
    return result;
}
