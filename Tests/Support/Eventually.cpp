#include "Support/Eventually.h"

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

} // namespace test
