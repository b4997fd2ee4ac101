#pragma once

#include <sys/resource.h>

// The number of files this process may hold open. Every watched process costs
// one descriptor (its pidfd), so the usual soft limit of 1,024 is raised to
// the hard limit at start; programs we start get the limit we were started
// with back, as most programs expect it.
namespace tlr::OpenFileLimit {

struct Change {
  rlim_t before = 0;  // the soft limit we were started with
  rlim_t after = 0;   // the soft limit now
};

// Raises the soft limit to the hard limit, once; later calls change nothing
// and return the same.
Change raiseToHardLimit();

// The soft limit in effect now.
rlim_t current();

// In a forked child, before exec: puts back the soft limit the process was
// started with, when raiseToHardLimit() changed it. Async-signal-safe.
void restoreInChild();

}  // namespace tlr::OpenFileLimit
