// A window on the desktop's accessibility bus that, once a given file exists, replaces itself with another
// window: the same process, joining the bus again under a new name.
//
//   ReplacingWindow <title> [<trigger file> <title after>]
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <unistd.h>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window; // a frame on the bus (a bare widget is a filler)
    window.setWindowTitle(QString::fromLocal8Bit(argv[1] ? argv[1] : ""));
    window.resize(320, 200);
    window.show();
    QTimer trigger;
    if (argc >= 4) {
        QObject::connect(&trigger, &QTimer::timeout, [&] {
            if (QFile::exists(QString::fromLocal8Bit(argv[2])))
                ::execl("/proc/self/exe", argv[0], argv[3], static_cast<char*>(nullptr));
        });
        trigger.start(50);
    }
    return application.exec();
}
