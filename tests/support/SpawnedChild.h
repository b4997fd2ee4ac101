#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>

namespace tlr::test {

// A real child process of the test, started directly (not through QProcess,
// so that nothing but the test reaps it). Its standard input and output are
// pipes; it leads its own process group. Destruction kills that group and
// reaps the child when the test did not.
class SpawnedChild {
 public:
  SpawnedChild(const QString& program, const QStringList& arguments);
  ~SpawnedChild();
  SpawnedChild(const SpawnedChild&) = delete;
  SpawnedChild& operator=(const SpawnedChild&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  // False when the child no longer reads (it ended: no SIGPIPE ends the
  // test).
  bool writeLine(const QByteArray& line);
  // One line of output without its newline; empty at the deadline.
  QByteArray readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  bool signal(int sig) const;
  // Reaps the child; its wait status.
  int wait();

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  bool reaped_ = false;
  QByteArray buffered_;
};

}  // namespace tlr::test
