#pragma once

#include <chrono>
#include <functional>

// The deadline of a quit, and the leak check of a sanitized build that it
// must not cut short.
//
// A quit that does not end by itself is ended at its deadline: `expire` runs
// on a thread of its own (the application writes a line and ends the
// process). In a build with LeakSanitizer, the process checks for leaks
// once main's work is done; that check stops every thread and symbolizes
// the stacks it finds, which on a busy machine takes seconds. Ended in the
// middle, the process would leave with status 0 and no report. So the check
// runs here, through checkLeaks(), and its time is not the quit's: the
// deadline waits while it runs and moves later by as long as it took.
namespace tlr::QuitDeadline {

using Clock = std::chrono::steady_clock;

// Runs `expire` at `deadline` plus the time spent in checks meanwhile,
// unless the process has ended. The thread is detached: it must not hold
// up the end of the process.
void arm(Clock::time_point deadline, std::function<void()> expire);

// LeakSanitizer's check, now rather than at exit (it runs once per process,
// and a leak ends the process with the sanitizer's report and status), not
// counted by an armed deadline. Does nothing in a build without it.
void checkLeaks();

// Runs `check` as checkLeaks() runs the sanitizer's: an armed deadline waits
// for it and does not count its time.
void runUncounted(const std::function<void()>& check);

}  // namespace tlr::QuitDeadline
