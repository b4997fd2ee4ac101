#pragma once

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace tlr {

// One named background thread, started with the first job, that runs posted
// jobs one at a time, in the order they were posted. Destroying the worker runs every job still queued
// before the thread ends, so nothing posted is lost when its owner goes away
// at process exit.
class SerialWorker final {
 public:
  // `name` becomes the thread's name as the system shows it.
  explicit SerialWorker(const QString& name);
  ~SerialWorker();
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Queues `job`; returns at once. Once the worker's thread has ended
  // (end(), endAll()), `job` runs on the calling thread instead, after
  // everything queued before it. Safe from any thread.
  void post(std::function<void()> job);
  // Waits until every job posted before this call has run. Must not be
  // called from a job.
  void flush();

  // Runs what is queued and ends the thread; later jobs run on the thread
  // that posts them. Idempotent; not from a job.
  void end();
  // end() for every worker of the process, those made later included: for
  // the end of the process, before its static objects go, so that no worker
  // (one a static object owns) still writes while the libraries it uses
  // are being torn down. Not from a job.
  static void endAll();
  // flush() for every worker of the process: what any of them was given
  // before the call is done when it returns. Not from a job.
  static void flushAll();

 private:
  void run();

  QString name_;
  std::mutex endMutex_;  // one end() at a time
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  std::size_t posted_ = 0;    // jobs ever posted
  std::size_t finished_ = 0;  // jobs ever finished
  bool stopping_ = false;
  bool drained_ = false;  // the thread has ended, or never will start
  std::mutex inlineMutex_;  // jobs run by the posting thread, one at a time
  std::unique_ptr<QThread> thread_;
};

}  // namespace tlr
