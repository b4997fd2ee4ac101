#pragma once

#include <QStringList>

#include <chrono>

// The threads of ours beside the main thread, and their end before the
// process's static objects go. Each has a name beginning with "TLR." as the
// system shows it (/proc/self/task/<tid>/comm): the off-main pool's
// ("TLR.offmain"), the serial workers' (the settings' writer, the network
// log's), the reaper ("TLR.reaper"), the exit and folder watches. A thread
// still running while static objects are destroyed uses what is being torn
// down (the toolkit's, a store's), which corrupts memory at exit.
//
// Two threads are left out by design, and named otherwise: the quit
// deadline's, which only writes a line and ends the process, and the look at
// a mount point that a hung file system may hold for ever, which touches
// only what it owns.
namespace tlr::BackgroundThreads {

// Ends every thread of ours: cancels the pool's work and waits for its
// threads at most until `deadline`, then ends the serial workers (after the
// jobs they hold; a job posted later runs on the thread that posts it) and
// the reaper. True when the pool's threads ended in time. For the end of
// `main`, on the main thread.
bool endAll(std::chrono::steady_clock::time_point deadline);

// The names of the threads of ours that still run, the calling one left
// out; empty once endAll() did its work. Waits up to `settle` for threads
// that are on their way out (joined, but not yet gone from the system's
// list).
QStringList stillRunning(std::chrono::milliseconds settle = std::chrono::seconds(1));

}  // namespace tlr::BackgroundThreads
