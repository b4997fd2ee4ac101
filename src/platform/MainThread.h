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
// Runs `fn` on the main thread and waits for it. Runs it directly when called
// on the main thread.
void runOnMainAndWait(const std::function<void()>& fn);

}  // namespace tlr
