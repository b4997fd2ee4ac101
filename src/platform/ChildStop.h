#pragma once

// The stop of the child processes under way (see stopRunningChildren() in
// ChildProcess.h): each runChild call watches one of these while its child
// runs. Any thread.
namespace tlr {

class ChildStopWatch {
 public:
  ChildStopWatch();
  ~ChildStopWatch();
  ChildStopWatch(const ChildStopWatch&) = delete;
  ChildStopWatch& operator=(const ChildStopWatch&) = delete;

  // Readable (and staying so) once a stop came after this watch began; -1
  // when no descriptor could be made.
  int fd() const { return fd_; }
  // Whether a stop had come already when this watch began.
  bool stoppedBefore() const { return stoppedBefore_; }

 private:
  int fd_ = -1;
  bool stoppedBefore_ = false;
};

}  // namespace tlr
