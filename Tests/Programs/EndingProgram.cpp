// A program of ours whose end a test judges while the program that started it still runs.
//   EndingProgram start <way>   starts EndingProgram detached with ENDING_PROGRAM_WAY=<way>, as the helper, a
//                               launcher or the creator app starts a program; prints its pid and runs on, its
//                               log on standard error.
//   EndingProgram               runs as our programs do (its arguments are links to open) and, asked to end
//                               (SIGTERM), ends the way ENDING_PROGRAM_WAY says:
//                               "clean"; "crash-at-exit" (its graceful end runs, then it crashes);
//                               "lost-term-handler" (it runs without its handler, so the signal ends it).
#include "CorvaneHost/Application.h"
#include "CorvaneHost/Linux/Processes/ChildProcess.h"
#include "CorvaneHost/Services.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc > 2 && argv[1] == std::string_view("start")) {
        QString failure;
        const auto pid =
            host::startDetached(QCoreApplication::applicationFilePath(), {},
                                {{QStringLiteral("ENDING_PROGRAM_WAY"), QString::fromLocal8Bit(argv[2])}},
                                QStringLiteral("ending-program"), failure);
        if (!pid) {
            std::fprintf(stderr, "could not start: %s\n", qPrintable(failure));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(*pid));
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    const QString way = qEnvironmentVariable("ENDING_PROGRAM_WAY");
    // Without the application's handler, as a program whose handler was lost runs: the signal ends it.
    if (way == QStringLiteral("lost-term-handler"))
        return QCoreApplication::exec();
    const int status = host::application().run();
    // An abort, which the sanitizer builds leave to the signal, as a crash of the release build is.
    if (way == QStringLiteral("crash-at-exit"))
        std::abort();
    return status;
}
