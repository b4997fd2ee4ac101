#pragma once

#include <functional>

// The main thread is where every store, the lifecycle watcher and all UI live.
// Work done elsewhere hands its result back through these.
namespace tlr {

bool isMainThread();
// Queues `fn` to run on the main thread's event loop (also when called from
// the main thread: it then runs on a later turn of the loop). Requires a
// QCoreApplication; without one the call is dropped.
void runOnMain(std::function<void()> fn);
// Runs `fn` on the main thread and waits for it; runs it directly when called
// on the main thread. Returns false, without running `fn`, when there is no
// application, or it is quitting (its event loop has ended, or the
// application's OffMainPool is cancelled) before the main thread got to
// `fn`: the main thread then serves nobody, and waiting on would hold the
// quit.
bool runOnMainAndWait(const std::function<void()>& fn);

// Tests only: `hook` runs inside every later runOnMain() and
// runOnMainAndWait(), just before the call is queued, on the calling thread
// (nullptr removes it).
void setHandoffHookForTesting(void (*hook)());

}  // namespace tlr
