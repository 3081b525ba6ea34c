// A program whose background work keeps handing work to the main queue while the program ends, as a launch
// confirmation of the open tool may: it must end cleanly, with the work waited for and its hand-overs
// refused.
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/MainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    static std::atomic<bool> started{false};
    host::runInBackground(
        [] {
            started = true;
            QElapsedTimer elapsed;
            elapsed.start();
            while (!host::backgroundWorkShouldEnd() && elapsed.elapsed() < 5000)
                host::mainQueue().async([] {});
            // And a little more once told to end, as work that is just finishing does.
            for (int i = 0; i < 2000; ++i)
                host::mainQueue().async([] {});
            return 0;
        },
        [](int) {});
    while (!started)
        std::this_thread::yield();
    return 0;
}
