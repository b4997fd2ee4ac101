#include "platform/SerialWorker.h"

#include <QThread>

namespace tlr {

SerialWorker::SerialWorker(const QString& name) : name_(name) {}

SerialWorker::~SerialWorker() {
  std::unique_ptr<QThread> thread;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread) thread->wait();
}

void SerialWorker::post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    ++posted_;
    // The thread starts with the first job: a worker nobody uses costs none.
    if (!thread_ && !stopping_) {
      thread_.reset(QThread::create([this] { run(); }));
      // Qt gives the system thread this name when it starts.
      thread_->setObjectName(name_);
      thread_->start();
    }
  }
  wake_.notify_one();
}

void SerialWorker::flush() {
  std::unique_lock lock(mutex_);
  const std::size_t target = posted_;
  idle_.wait(lock, [&] { return finished_ >= target; });
}

void SerialWorker::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and everything queued has run
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
    ++finished_;
    idle_.notify_all();
  }
}

}  // namespace tlr
