#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace tlr {

// The signals that ask the application to end (SIGTERM from `kill` or a
// logout, SIGINT from Ctrl-C, SIGHUP when the terminal goes, and the others
// whose default ends a process: SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
// SIGXCPU, SIGXFSZ), turned into a Qt signal on the thread that created the
// object. The signal handler only
// writes the signal's number into a pipe; everything else happens in the
// event loop. Programs we start get the default dispositions back at exec.
class TerminationSignals final : public QObject {
  Q_OBJECT

 public:
  // Catches these signals from now on. One object at a time per process.
  explicit TerminationSignals(QObject* parent = nullptr);
  // Gives them their default dispositions back.
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // Whether the signals are caught (the pipe could be made).
  bool isActive() const;

  // A closed standard output or error must not end the process: writes to a
  // pipe nobody reads then fail with EPIPE, and the caller drops them.
  // Children started through ChildProcess get the default disposition back.
  static void ignoreBrokenPipe();

 Q_SIGNALS:
  // One per signal caught.
  void received(int signal);

 private:
  void drain();

  int readFd_ = -1;
  int writeFd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tlr
