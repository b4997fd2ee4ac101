#pragma once

#include "platform/KqueueProcessWatcher.h"

#include <QString>

#include <functional>

namespace tlr {

// How an agent process ended, as far as recovery is concerned.
enum class ExitIntent {
  normalExit,    // exit code 0, or a signal that asks a process to finish
  crash,         // a fault signal
  oom,           // SIGKILL that the kernel counted as an out-of-memory kill
  forceKilled,   // SIGKILL otherwise
  abnormalExit,  // exited by itself with a non-zero code
  unknown,       // any other signal
};

// The case name ("normalExit", "crash", ...).
QString toString(ExitIntent intent);

namespace ExitSignalClassifier {

// Whether the kernel counted an out-of-memory kill of the process (see
// OomKillWitness); asked for a SIGKILL only.
using OomCounted = std::function<bool()>;

// Judges the wait status of `info` (its pid plays no part). A SIGKILL is an
// out-of-memory kill only when `oomCounted` says the kernel counted one.
ExitIntent classify(const RawExitInfo& info, const OomCounted& oomCounted);
// The exit of a process that Tollamere itself signalled just before
// (`ourSignals`: bit n for signal n): an exit code of 128 + n after our
// signal n reads as that signal, as a program that catches SIGTERM and exits
// with 143 means it; our SIGKILL, and a status of 0 that tells nothing,
// read as a forced kill, never as an out-of-memory kill. Anything else (a
// crash of its own, an exit code that answers no signal of ours) is judged
// as by classify().
ExitIntent classify(const RawExitInfo& info, uint64_t ourSignals, const OomCounted& oomCounted);

}  // namespace ExitSignalClassifier
}  // namespace tlr
