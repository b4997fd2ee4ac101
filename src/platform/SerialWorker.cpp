#include "platform/SerialWorker.h"

#include <QThread>

#include <set>

namespace tlr {

namespace {

// Every worker of the process, so that all end before its static objects
// go. Never destroyed: workers owned by static objects unregister during
// that destruction.
struct Workers {
  std::mutex mutex;
  std::set<SerialWorker*> all;
  bool ended = false;  // endAll() ran: workers made from now on run no thread
};

Workers& workers() {
  static Workers* registry = new Workers;
  return *registry;
}

}  // namespace

SerialWorker::SerialWorker(const QString& name) : name_(name) {
  Workers& registry = workers();
  std::lock_guard lock(registry.mutex);
  registry.all.insert(this);
  if (registry.ended) stopping_ = drained_ = true;
}

SerialWorker::~SerialWorker() {
  {
    Workers& registry = workers();
    std::lock_guard lock(registry.mutex);
    registry.all.erase(this);
  }
  end();
}

void SerialWorker::end() {
  const std::lock_guard ending(endMutex_);
  std::unique_ptr<QThread> thread;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    thread = std::move(thread_);
    if (!thread) drained_ = true;
  }
  wake_.notify_all();
  if (thread) thread->wait();
}

void SerialWorker::endAll() {
  Workers& registry = workers();
  // Held throughout, so no worker goes while it is being ended.
  std::lock_guard lock(registry.mutex);
  registry.ended = true;
  for (SerialWorker* worker : registry.all) worker->end();
}

void SerialWorker::flushAll() {
  Workers& registry = workers();
  // Held throughout, so no worker goes while it is waited for.
  std::lock_guard lock(registry.mutex);
  for (SerialWorker* worker : registry.all) worker->flush();
}

void SerialWorker::post(std::function<void()> job) {
  bool queued = false;
  {
    std::lock_guard lock(mutex_);
    ++posted_;
    if (!drained_) {
      queued = true;
      jobs_.push_back(std::move(job));
      // The thread starts with the first job: a worker nobody uses costs none.
      if (!thread_ && !stopping_) {
        thread_.reset(QThread::create([this] { run(); }));
        // Qt gives the system thread this name when it starts.
        thread_->setObjectName(name_);
        thread_->start();
      }
    }
  }
  if (queued) {
    wake_.notify_one();
    return;
  }
  // The thread has ended: the job runs here, after what it ran.
  end();
  {
    std::lock_guard running(inlineMutex_);
    job();
  }
  std::lock_guard lock(mutex_);
  ++finished_;
  idle_.notify_all();
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
    if (jobs_.empty()) {  // stopping, and everything queued has run
      drained_ = true;
      return;
    }
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
