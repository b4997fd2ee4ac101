#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tlr {
namespace {

// Every signal whose default action ends the process and that is not a
// fault of its own (SIGSEGV and the like): caught, they end it the ordered
// way, so nothing decrypted stays attached and no plain copy stays behind.
constexpr int kCaught[] = {SIGTERM, SIGINT,    SIGHUP,  SIGUSR1, SIGUSR2,
                           SIGALRM, SIGVTALRM, SIGXCPU, SIGXFSZ};

// Read by the handler: the pipe's write end and the process it belongs to (a
// child between fork and exec still runs our handler, and must not speak for
// us).
std::atomic<int> handlerFd{-1};
std::atomic<pid_t> handlerOwner{0};

void onSignal(int signal) {
  const int savedErrno = errno;
  const int fd = handlerFd.load(std::memory_order_relaxed);
  if (fd >= 0 && ::getpid() == handlerOwner.load(std::memory_order_relaxed)) {
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!::write(fd, &number, 1);
  }
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  readFd_ = fds[0];
  writeFd_ = fds[1];
  notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
  handlerOwner.store(::getpid());
  handlerFd.store(writeFd_);
  struct sigaction action {};
  action.sa_handler = &onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : kCaught) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  if (readFd_ < 0) return;
  for (int signal : kCaught) ::signal(signal, SIG_DFL);
  handlerFd.store(-1);
  notifier_.reset();
  ::close(readFd_);
  ::close(writeFd_);
}

bool TerminationSignals::isActive() const { return readFd_ >= 0; }

void TerminationSignals::ignoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

void TerminationSignals::drain() {
  unsigned char numbers[16];
  while (true) {
    const ssize_t n = ::read(readFd_, numbers, sizeof numbers);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) Q_EMIT received(numbers[i]);
  }
}

}  // namespace tlr
