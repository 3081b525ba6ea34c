#pragma once

// The sending end of the event sockets, in plain C++ as the wire format is: the desktop's hand-off program
// and EventDelivery both hand events over this way, so both count a hand-over as done only when the listener
// said it handled it, and both hand it over again when the listener may have ended first.

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace host::wire {

enum class HandOverResult {
    handled,      // the listener answered: it handled the events (or could not read the line)
    unanswered,   // the connection is still open after the wait: a busy listener that will handle them
    notListening, // no one took the connection
    dropped,      // the listener closed the connection without an answer, as one that ended does
};

// A busy program answers late, not never: a hand-over still open after this long counts as taken, since
// handing it over again would open its links twice.
inline constexpr int kAnswerPatienceMs = 10000;

// Whether the events reached a listener that handles them: a hand-over that did not must go again.
inline bool taken(HandOverResult result) {
    return result == HandOverResult::handled || result == HandOverResult::unanswered;
}

// Writes `line` (ending in a newline) to the socket at `socketPath` and waits up to `answerTimeoutMs` for
// the listener's answer; a wait that `givesUp` (when given, asked a few times a second) ends counts as
// unanswered.
HandOverResult handOver(const std::string& socketPath, std::string_view line,
                        int answerTimeoutMs = kAnswerPatienceMs, const std::function<bool()>& givesUp = {});

// After `program` was started with the events of `line` in its environment: hands `line` over its socket
// once it listens. The events carry a delivery mark, so the program that already handled them from its
// environment only answers; one that ended before handling them (or a copy that followed it) handles them
// now. `startAgain` starts the program once more with the same events and gives its pid, 0 when it could not;
// it is called only when the program ended and nothing listens, and may be empty when a program that never
// listened cannot be told from one that never will. Bounded in time and in starts, and ends early once
// `givesUp` (when given) says so; true once a listener took the line.
bool confirmStart(const std::string& socketPath, std::string_view line, pid_t program,
                  const std::function<pid_t()>& startAgain, const std::function<bool()>& givesUp = {});

enum class StartConfirmation {
    taken,   // a listener took the line
    ended,   // the program ended, and nothing listened, before any took it
    unheard, // nothing took it within the patience (or before `givesUp` said so) while the program ran on
};

// As confirmStart, for a program that is not started again, and saying how it went: `hasEnded` tells whether
// the program has ended (it is asked only while nothing listens).
StartConfirmation confirmStartOnce(const std::string& socketPath, std::string_view line,
                                   const std::function<bool()>& hasEnded,
                                   const std::function<bool()>& givesUp = {});

} // namespace host::wire
