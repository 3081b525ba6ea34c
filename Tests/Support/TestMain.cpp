// Every test program runs in a fresh temporary home, so no test touches the real account.
#include "Support/TemporaryHome.h"
#include "Support/TestRun.h"

#include <QCoreApplication>
#include <gmock/gmock.h>

int main(int argc, char** argv) {
    test::TemporaryHome home;
    QCoreApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return test::runAllTests();
}
