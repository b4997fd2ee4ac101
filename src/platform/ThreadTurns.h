#pragma once

#include <chrono>

namespace tlr {

// Asks the scheduler to run the calling thread in turns of at most `turn`
// (within 0.1 to 100 ms): a thread that wakes for a moment's work then
// waits less for a processor on a busy machine, ahead of threads that run
// for longer (Linux 6.12 and later; an earlier kernel keeps its default,
// and nothing fails). Needs no privilege and keeps the thread's niceness.
// False when the kernel refused.
bool askForShortTurns(std::chrono::microseconds turn);

// The turn the thread `tid` (0: this thread) runs in: the one it asked for,
// else the kernel's default; 0 when the kernel does not say.
std::chrono::microseconds turnOf(int tid = 0);

}  // namespace tlr
