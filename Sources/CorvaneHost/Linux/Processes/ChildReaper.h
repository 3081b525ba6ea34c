#pragma once

#include <QString>
#include <functional>
#include <sys/types.h>

namespace host {

// How a program ended.
struct ProgramEnd {
    int exitStatus = 0; // its status, when it exited
    int signal = 0;     // the signal that ended it; 0 when it exited

    bool clean() const { return signal == 0 && exitStatus == 0; }
    bool operator==(const ProgramEnd&) const = default;
    // "ended cleanly", "ended with status 3", "ended by signal 11 (Segmentation fault)".
    QString description() const;
};

// Called on the main queue (the one of the program when the child was started) once a child has ended.
using ProgramEndCompletion = std::function<void(const ProgramEnd&)>;

// Waits for the child `pid` of this process to end, so that it does not stay a zombie: one thread waits for
// all of them. Its end is logged as "<name> (pid <pid>) ended ..." (a failure status or a signal as an
// error), and handed to `whenEnded` where given. Only for children that nothing else of this process waits
// for.
void reapWhenEnded(pid_t pid, const QString& name, ProgramEndCompletion whenEnded = {});

} // namespace host
