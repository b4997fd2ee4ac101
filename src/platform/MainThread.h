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
// application or it is shutting down before the main thread got to `fn`:
// the application's teardown waits for worker threads, so waiting on there
// would never end.
bool runOnMainAndWait(const std::function<void()>& fn);

}  // namespace tlr
