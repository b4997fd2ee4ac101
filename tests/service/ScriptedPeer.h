#pragma once

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tlr::test {

// A peer on 127.0.0.1 with a thread of its own (it goes on while the test's
// thread waits): it takes one connection, reads the request's head, sends
// `script`, then `flood` again and again up to `floodLimit` bytes or until
// the client goes, and closes (after the client, when it should wait). A
// server or a proxy, as the script says.
class ScriptedPeer {
 public:
  enum class Close { first, afterTheClient };
  explicit ScriptedPeer(QByteArray script, QByteArray flood = {}, qint64 floodLimit = 0, Close close = Close::first)
      : script_(std::move(script)), flood_(std::move(flood)), floodLimit_(floodLimit), close_(close) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "no loopback listener";
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
  qint64 sent() const { return sent_; }
  bool ended() const { return ended_; }
  // The head of the request it read; only once ended().
  QByteArray head() const { return head_; }

 private:
  void serve() {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      char buffer[4096];
      while (!head_.contains("\r\n\r\n")) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        head_.append(buffer, n);
      }
      bool open = send(client, script_);
      while (open && !flood_.isEmpty() && sent_ < floodLimit_) open = send(client, flood_);
      while (close_ == Close::afterTheClient && ::read(client, buffer, sizeof buffer) > 0) {
      }
      ::close(client);
    }
    ended_ = true;
  }
  bool send(int client, const QByteArray& bytes) {
    const ssize_t n = ::send(client, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    if (n > 0) sent_ += n;
    return n == bytes.size();
  }

  QByteArray script_, flood_;
  qint64 floodLimit_ = 0;
  Close close_;
  int listener_ = -1;
  quint16 port_ = 0;
  std::atomic<qint64> sent_{0};
  std::atomic<bool> ended_{false};
  QByteArray head_;
  std::thread thread_;
};

}  // namespace tlr::test
