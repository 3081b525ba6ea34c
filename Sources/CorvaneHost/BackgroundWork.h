#pragma once

#include "CorvaneHost/MainQueue.h"

#include <thread>

namespace host {

MainQueue& mainQueue();

// Work the program started off the main queue and that has not yet handed its result back. A program waits
// for it before it ends: at the latest as its application object goes, where it is told to end first (the
// main queue does it), so that no such thread still draws or reads while the program's statics go.
void backgroundWorkStarted();
void backgroundWorkEnded();
// Waits until no background work runs, or `seconds` passed; whether none runs.
bool waitForBackgroundWork(double seconds = 30);
// The program is ending: work that only waits on something outside (a program to start listening) gives up
// at its next look, so that the program's wait for it is short. Asked with backgroundWorkShouldEnd().
void endBackgroundWork();
bool backgroundWorkShouldEnd();

// Runs `work` on a thread of its own and hands what it returns to `done` on the main queue. Both hand-overs
// go through locks that thread checkers see (a thread's start and the main queue's), unlike Qt's thread pool.
// `done` runs whatever became of its caller meanwhile: it guards itself (a QPointer, a weak pointer).
template <typename Work, typename Done> void runInBackground(Work work, Done done) {
    backgroundWorkStarted();
    std::thread([work = std::move(work), done = std::move(done)]() mutable {
        {
            // Everything the work holds goes before it counts as ended: a waiter may end the program then.
            auto ownWork = std::move(work);
            auto result = ownWork();
            // The main queue of a program that has ended refuses it.
            mainQueue().async([done = std::move(done), result = std::move(result)] { done(result); });
        }
        backgroundWorkEnded();
    }).detach();
}

} // namespace host
