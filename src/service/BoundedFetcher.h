#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tlr {

// Fetches small documents from a web service over HTTP/1.1 (TLS for https),
// reading the answer itself: every byte is counted as it arrives, chunked or
// not, and what is not read yet waits in a 64 KiB buffer and the network, so
// a server can never make the answer take more memory than its limit. (The
// toolkit's network layer reads a chunked answer without pause, and reported
// its bytes only hundreds of megabytes later.) Every exchange has a
// deadline for the whole of it as well as one for silence, so a server
// sending a byte a second cannot hold a request for ever. Through an HTTP
// proxy (https_proxy, http_proxy), the tunnel is asked for here and the
// proxy's answer counted and limited as the server's. Lives on one
// thread (the window thread); nothing in it waits.
class BoundedFetcher final {
 public:
  struct Request {
    QUrl url;
    // Posted as JSON when present; a GET otherwise.
    std::optional<QByteArray> jsonBody;
    qint64 limit = 1024 * 1024;  // the largest answer taken
    std::chrono::milliseconds silence{std::chrono::seconds(15)};
    std::chrono::milliseconds deadline{std::chrono::seconds(30)};
  };
  enum class Failure {
    none,      // a 2xx answer within its limits: `data` holds it whole
    tooLarge,  // more than `limit` bytes, said or sent
    deadline,  // not complete within `deadline`
    network,   // refused, reset, silent too long, an error status, a broken answer, ...
  };
  struct [[nodiscard]] Result {
    Failure failure = Failure::network;
    QByteArray data;
    QString error;  // why, when it failed
    bool ok() const { return failure == Failure::none; }
  };
  using Done = std::function<void(const Result&)>;

  BoundedFetcher();
  // Aborts what is in flight.
  ~BoundedFetcher();
  BoundedFetcher(const BoundedFetcher&) = delete;
  BoundedFetcher& operator=(const BoundedFetcher&) = delete;

  // Starts `request` and returns at once; `done` runs later with the
  // outcome, unless abortAll() came first. Redirects of a GET are followed
  // (three at most, never from https to http).
  void fetch(const Request& request, Done done);
  // Aborts and frees every fetch in flight at once; none of their `done`
  // runs.
  void abortAll();
  // Fetches started whose outcome has not been delivered yet.
  int inFlight() const { return static_cast<int>(exchanges_.size()); }

  // Why a fetch failed for its limits.
  static QString tooLargeText(qint64 limit);
  static QString deadlineText(std::chrono::milliseconds deadline);
  // Whether a redirect from `from` may be followed to `to`: never from https
  // to anything else.
  static bool redirectAllowed(const QUrl& from, const QUrl& to);

 private:
  class Exchange;
  void finished(Exchange* exchange);
  std::vector<std::unique_ptr<Exchange>> exchanges_;
};

}  // namespace tlr
