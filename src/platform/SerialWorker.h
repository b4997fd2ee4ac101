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

  // Queues `job`; returns at once. Safe from any thread.
  void post(std::function<void()> job);
  // Waits until every job posted before this call has run. Must not be
  // called from a job.
  void flush();

 private:
  void run();

  QString name_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> jobs_;
  std::size_t posted_ = 0;    // jobs ever posted
  std::size_t finished_ = 0;  // jobs ever finished
  bool stopping_ = false;
  std::unique_ptr<QThread> thread_;
};

}  // namespace tlr
