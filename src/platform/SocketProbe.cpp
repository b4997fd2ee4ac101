#include "platform/SocketProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace tlr::SocketProbe {
namespace {

int millisecondsLeft(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

LocalAddress address(const QByteArray& name, bool abstract) {
  LocalAddress result;
  result.address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  const std::size_t room = sizeof result.address.sun_path - 1;
  if (name.isEmpty() || static_cast<std::size_t>(name.size()) > room) {
    result.problem = QStringLiteral("地址无效");
    return result;
  }
  std::memcpy(result.address.sun_path + offset, name.constData(), static_cast<std::size_t>(name.size()));
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                         static_cast<std::size_t>(name.size()) + (abstract ? 0 : 1));
  return result;
}

}  // namespace

LocalAddress pathAddress(const QByteArray& path) { return address(path, false); }
LocalAddress abstractAddress(const QByteArray& name) { return address(name, true); }

Answer ask(const LocalAddress& address, const QByteArray& hello, Clock::time_point patienceEnds,
           Clock::time_point until, const std::function<void()>& patient, bool& toldPatience) {
  if (!address.problem.isEmpty()) return {Asked::unreachable, address.problem};
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(errno))};
  const auto closeFd = [fd] { ::close(fd); };
  // Waits for `events` on the socket, saying once that the server is slow.
  const auto waitFor = [&](short events) {
    for (;;) {
      if (!toldPatience && Clock::now() >= patienceEnds) {
        toldPatience = true;
        if (patient) patient();
      }
      const Clock::time_point next = toldPatience ? until : std::min(until, patienceEnds);
      pollfd entry{fd, events, 0};
      const int ready = ::poll(&entry, 1, millisecondsLeft(next));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
      if (Clock::now() >= until) return false;
    }
  };
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EINPROGRESS) {
      if (!waitFor(POLLOUT)) {
        closeFd();
        return {Asked::unanswered, QString()};
      }
      int pending = 0;
      socklen_t size = sizeof pending;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size);
      if (pending == 0) break;
      closeFd();
      return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(pending))};
    }
    if (error == EAGAIN) {
      // The server's queue of new connections is full: it is not taking any.
      if (Clock::now() >= until) {
        closeFd();
        return {Asked::unanswered, QString()};
      }
      ::poll(nullptr, 0, std::min(50, millisecondsLeft(until)));
      continue;
    }
    closeFd();
    return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(error))};
  }
  if (::send(fd, hello.constData(), static_cast<std::size_t>(hello.size()), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(hello.size())) {
    const int error = errno;
    closeFd();
    return {Asked::unreachable, QString::fromLocal8Bit(std::strerror(error))};
  }
  if (!waitFor(POLLIN)) {
    closeFd();
    return {Asked::unanswered, QString()};
  }
  char answer[64];
  const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
  closeFd();
  if (got > 0) return {Asked::answered, QString()};
  return {Asked::unreachable, got == 0 ? QStringLiteral("连接被关闭") : QString::fromLocal8Bit(std::strerror(errno))};
}

}  // namespace tlr::SocketProbe
