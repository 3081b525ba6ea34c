#include "Support/Eventually.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace test {

bool eventually(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace test
