#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

#include <sys/socket.h>
#include <sys/un.h>

namespace tlr::SocketProbe {

using Clock = std::chrono::steady_clock;

// A local socket's address: a path, or an abstract name (given without its
// leading nul).
struct LocalAddress {
  sockaddr_un address{};
  socklen_t length = 0;
  QString problem;  // why there is none usable (a name too long, empty)
};
LocalAddress pathAddress(const QByteArray& path);
LocalAddress abstractAddress(const QByteArray& name);

enum class Asked { answered, unreachable, unanswered };
struct Answer {
  Asked asked = Asked::unreachable;
  QString reason;  // why it was unreachable (the system's words)
};

// Connects to `address`, sends `hello` (the first bytes of the server's
// handshake) and waits for any answer until `until`: a server that takes
// connections into its queue and never reads them (stopped, hung) is
// unanswered, never waited for longer. `patient` is called once when
// `patienceEnds` has gone by without an answer (`toldPatience` keeps
// whether it was, over several calls).
Answer ask(const LocalAddress& address, const QByteArray& hello, Clock::time_point patienceEnds,
           Clock::time_point until, const std::function<void()>& patient, bool& toldPatience);

}  // namespace tlr::SocketProbe
