#pragma once

// How many heaps the allocator keeps for the process's threads. glibc gives
// each thread that allocates an arena of its own, up to eight per core, and
// an arena keeps what its threads freed: the exit watcher, the defaults'
// writer and the pool threads (scans, diagnoses) each held a few megabytes
// more after every burst of work, so a session of thousands of exits grew by
// a third. Our threads allocate little and briefly; they share one arena
// besides the window thread's, and what one frees the next reuses.
namespace tlr::MemoryArenas {

// At start, before any thread but the first exists. Programs we start are
// not affected.
void limitForFewThreads();

}  // namespace tlr::MemoryArenas
