#pragma once

// In plain C++, for the desktop's hand-off program too.
#include <spawn.h>

namespace host {

// What every program started from here gets back: the default disposition of every signal and an empty signal
// mask. An ignored or blocked signal survives exec (the helper ignores SIGPIPE, and a program that runs
// xdg-open may block or ignore anything), and a child that inherits it runs unlike one the desktop starts.
void setDefaultSignals(posix_spawnattr_t& attributes);

} // namespace host
