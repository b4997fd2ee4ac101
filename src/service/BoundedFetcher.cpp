#include "service/BoundedFetcher.h"

#include "platform/OffMain.h"

#include <QNetworkProxy>
#include <QObject>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace tlr {
namespace {

// What the socket holds that we have not read: the rest waits in the
// network, whose window closes.
constexpr qint64 kReadBuffer = 64 * 1024;
// A status line, a header line or a chunk's size line longer than this, or
// headers larger than kMaxHeaderBytes, are no answer of a web service.
constexpr qsizetype kMaxLine = 8 * 1024;
constexpr qint64 kMaxHeaderBytes = 64 * 1024;
constexpr int kMaxRedirects = 3;

QNetworkProxy proxyFor(const QUrl& url) {
  for (const QNetworkProxy& proxy : QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url))) {
    // A tunnel through an HTTP proxy, or SOCKS; a proxy only for whole
    // requests cannot carry our own connection.
    if (proxy.type() == QNetworkProxy::NoProxy || proxy.type() == QNetworkProxy::HttpProxy ||
        proxy.type() == QNetworkProxy::Socks5Proxy)
      return proxy;
  }
  return QNetworkProxy(QNetworkProxy::NoProxy);
}

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

}  // namespace

QString BoundedFetcher::tooLargeText(qint64 limit) { return QStringLiteral("larger than %1 bytes").arg(limit); }

bool BoundedFetcher::redirectAllowed(const QUrl& from, const QUrl& to) {
  return from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0 ||
         to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

QString BoundedFetcher::deadlineText(std::chrono::milliseconds deadline) {
  return QStringLiteral("no complete answer within %1 ms").arg(deadline.count());
}

// One request and its answer, read as it comes.
class BoundedFetcher::Exchange final : public QObject {
 public:
  Exchange(BoundedFetcher& owner, Request request, Done done)
      : owner_(owner), request_(std::move(request)), done_(std::move(done)) {
    silence_.setSingleShot(true);
    connect(&silence_, &QTimer::timeout, this,
            [this] { fail(Failure::network, QStringLiteral("no answer for %1 ms").arg(request_.silence.count())); });
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { fail(Failure::deadline, deadlineText(request_.deadline)); });
  }

  void start() {
    deadline_.start(request_.deadline);
    open(request_.url);
  }
  void abort() {
    over_ = true;
    if (socket_) socket_->abort();
  }
  Done takeDone() { return std::move(done_); }
  const Result& result() const { return result_; }

 private:
  // The proxy's answer to CONNECT comes first when there is one: it is
  // counted and limited as the server's own.
  enum class Stage { proxyStatus, proxyHeaders, status, headers, body, chunkSize, chunkData, chunkEnd, trailers };

  void open(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()) {
      fail(Failure::network, url.toString() + QStringLiteral(": not an http or https address"));
      return;
    }
    url_ = url;
    resetAnswer();
    if (socket_) {
      socket_->disconnect(this);
      socket_->abort();
      socket_.release()->deleteLater();
    }
    silence_.start(request_.silence);
    // The proxy the desktop or the environment names for this address
    // (https_proxy, no_proxy, ...), as a browser would use; asking may read
    // the desktop's settings or a proxy script, and loading TLS reads the
    // disk: off the window thread.
    const bool tls = scheme == QLatin1String("https");
    startOffMain(
        this, [url, tls] { return Route{proxyFor(url), !tls || QSslSocket::supportsSsl()}; },
        [this, url, tls](const Route& route) {
          if (!route.tlsAvailable) {
            fail(Failure::network, QStringLiteral("TLS is not available"));
            return;
          }
          connectTo(url, tls, route.proxy);
        });
  }

  struct Route {
    QNetworkProxy proxy;
    bool tlsAvailable = true;
  };

  void connectTo(const QUrl& url, bool tls, const QNetworkProxy& proxy) {
    if (over_) return;
    socket_.reset(tls ? new QSslSocket : new QTcpSocket);
    socket_->setReadBufferSize(kReadBuffer);
    // The toolkit reads an HTTP proxy's answer to CONNECT whole, without a
    // limit: the tunnel is asked for here and its answer read as the server's.
    const bool httpProxy = proxy.type() == QNetworkProxy::HttpProxy;
    socket_->setProxy(httpProxy ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy);
    connect(socket_.get(), &QAbstractSocket::readyRead, this, [this] { read(); });
    connect(socket_.get(), &QAbstractSocket::bytesWritten, this, [this] { silence_.start(request_.silence); });
    connect(socket_.get(), &QAbstractSocket::disconnected, this, [this] { closedByServer(); });
    connect(socket_.get(), &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
      if (error == QAbstractSocket::RemoteHostClosedError) return;  // the end of a close-delimited answer
      fail(Failure::network, socket_->errorString());
    });
    const quint16 port = static_cast<quint16>(url.port(tls ? 443 : 80));
    if (httpProxy) {
      stage_ = Stage::proxyStatus;
      if (tls) {
        auto* ssl = static_cast<QSslSocket*>(socket_.get());
        ssl->setPeerVerifyName(url.host());
        connect(ssl, &QSslSocket::encrypted, this, [this] { send(); });
      }
      connect(socket_.get(), &QAbstractSocket::connected, this, [this, url, port, proxy] { askTunnel(url, port, proxy); });
      socket_->connectToHost(proxy.hostName(), proxy.port());
    } else if (tls) {
      auto* ssl = static_cast<QSslSocket*>(socket_.get());
      connect(ssl, &QSslSocket::encrypted, this, [this] { send(); });
      ssl->connectToHostEncrypted(url.host(), port);
    } else {
      connect(socket_.get(), &QAbstractSocket::connected, this, [this] { send(); });
      socket_->connectToHost(url.host(), port);
    }
  }

  void askTunnel(const QUrl& url, quint16 port, const QNetworkProxy& proxy) {
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) host = '[' + host + ']';
    host += ':' + QByteArray::number(port);
    QByteArray head = "CONNECT " + host + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: Tollamere\r\n";
    if (!proxy.user().isEmpty())
      head += "Proxy-Authorization: Basic " + (proxy.user() + ':' + proxy.password()).toUtf8().toBase64() + "\r\n";
    socket_->write(head + "\r\n");
  }

  // The proxy's answer ended: through the tunnel, the request itself.
  bool tunnelOpen() {
    if (status_ < 200 || status_ > 299)
      return fail(Failure::network, QStringLiteral("the proxy answered %1 %2").arg(status_).arg(reason_));
    resetAnswer();
    if (auto* ssl = qobject_cast<QSslSocket*>(socket_.get()))
      ssl->startClientEncryption();
    else
      send();
    return true;
  }

  void send() {
    const bool post = request_.jsonBody.has_value();
    QByteArray target = url_.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url_.hasQuery()) target += '?' + url_.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url_.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) host = '[' + host + ']';
    if (url_.port() != -1) host += ':' + QByteArray::number(url_.port());
    QByteArray head = (post ? "POST " : "GET ") + target + " HTTP/1.1\r\nHost: " + host +
                      "\r\nUser-Agent: Tollamere\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n";
    if (post)
      head += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(request_.jsonBody->size()) + "\r\n";
    socket_->write(head + "\r\n" + (post ? *request_.jsonBody : QByteArray()));
  }

  void resetAnswer() {
    stage_ = Stage::status;
    line_.clear();
    headerBytes_ = 0;
    status_ = 0;
    reason_.clear();
    location_.clear();
    contentLength_ = -1;
    chunked_ = false;
    chunkLeft_ = 0;
    data_.clear();
  }

  // Takes what the socket has, never more than the answer may hold.
  void read() {
    silence_.start(request_.silence);
    while (!over_ && socket_->bytesAvailable() > 0) {
      if (stage_ == Stage::body || stage_ == Stage::chunkData) {
        qint64 want = socket_->bytesAvailable();
        if (contentLength_ >= 0 && stage_ == Stage::body) want = std::min(want, contentLength_ - qint64(data_.size()));
        if (stage_ == Stage::chunkData) want = std::min(want, chunkLeft_);
        // One byte beyond the limit tells an answer too large.
        want = std::min(want, request_.limit + 1 - qint64(data_.size()));
        const QByteArray piece = socket_->read(want);
        data_ += piece;
        if (data_.size() > request_.limit) {
          fail(Failure::tooLarge, tooLargeText(request_.limit));
          return;
        }
        if (stage_ == Stage::chunkData) {
          chunkLeft_ -= piece.size();
          if (chunkLeft_ == 0) stage_ = Stage::chunkEnd;
        } else if (contentLength_ >= 0 && data_.size() == contentLength_) {
          succeed();
          return;
        }
        continue;
      }
      // A line of the status, the headers or the chunk framing.
      const qint64 room = kMaxLine - line_.size();
      if (room <= 0) {
        fail(Failure::network, QStringLiteral("a line of the answer is too long"));
        return;
      }
      // readLine(n) takes at most n - 1 bytes: with room for one more, 1
      // would take none and this loop would never end.
      const QByteArray piece = socket_->readLine(room + 1);
      if (stage_ == Stage::proxyStatus || stage_ == Stage::proxyHeaders || stage_ == Stage::status ||
          stage_ == Stage::headers) {
        headerBytes_ += piece.size();
        if (headerBytes_ > kMaxHeaderBytes) {
          fail(Failure::network, QStringLiteral("headers too large"));
          return;
        }
      }
      line_ += piece;
      if (!line_.endsWith('\n')) continue;
      const QByteArray line = line_.trimmed();
      line_.clear();
      if (!takeLine(line)) return;
    }
  }

  // One whole line; false when the exchange ended with it.
  bool takeLine(const QByteArray& line) {
    switch (stage_) {
      case Stage::proxyStatus:
      case Stage::status: {
        const QList<QByteArray> parts = line.split(' ');
        bool number = false;
        status_ = parts.value(1).toInt(&number);
        if (!line.startsWith("HTTP/1.") || !number) return fail(Failure::network, QStringLiteral("not an HTTP answer"));
        reason_ = QString::fromLatin1(line.mid(line.indexOf(' ', line.indexOf(' ') + 1) + 1));
        stage_ = stage_ == Stage::proxyStatus ? Stage::proxyHeaders : Stage::headers;
        return true;
      }
      case Stage::proxyHeaders:
        return line.isEmpty() ? tunnelOpen() : true;
      case Stage::headers:
        if (!line.isEmpty()) return takeHeader(line);
        return headersDone();
      case Stage::chunkSize: {
        bool number = false;
        // Its size, before any extension (";name=value").
        const qint64 size = line.split(';').first().trimmed().toLongLong(&number, 16);
        if (!number || size < 0) return fail(Failure::network, QStringLiteral("a broken chunk"));
        if (size > request_.limit - data_.size()) return fail(Failure::tooLarge, tooLargeText(request_.limit));
        chunkLeft_ = size;
        stage_ = size == 0 ? Stage::trailers : Stage::chunkData;
        return true;
      }
      case Stage::chunkEnd:
        if (!line.isEmpty()) return fail(Failure::network, QStringLiteral("a broken chunk"));
        stage_ = Stage::chunkSize;
        return true;
      case Stage::trailers:
        if (line.isEmpty()) return succeed();
        headerBytes_ += line.size();
        if (headerBytes_ > kMaxHeaderBytes) return fail(Failure::network, QStringLiteral("headers too large"));
        return true;
      case Stage::body:
      case Stage::chunkData:
        break;
    }
    return true;
  }

  bool takeHeader(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) return fail(Failure::network, QStringLiteral("a broken header"));
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name == "transfer-encoding") {
      chunked_ = value.toLower().split(',').last().trimmed() == "chunked";
      if (!chunked_) return fail(Failure::network, QStringLiteral("an unknown transfer coding"));
    } else if (name == "content-length") {
      bool number = false;
      const qint64 length = value.toLongLong(&number);
      if (!number || length < 0 || (contentLength_ >= 0 && length != contentLength_))
        return fail(Failure::network, QStringLiteral("a broken length"));
      contentLength_ = length;
    } else if (name == "location") {
      location_ = QString::fromLatin1(value);
    }
    return true;
  }

  bool headersDone() {
    if (status_ >= 100 && status_ < 200) {  // an interim answer: the real one follows
      resetAnswer();
      return true;
    }
    if (isRedirect(status_) && !request_.jsonBody && !location_.isEmpty()) return redirect();
    if (status_ < 200 || status_ > 299)
      return fail(Failure::network, QStringLiteral("the server answered %1 %2").arg(status_).arg(reason_));
    if (chunked_) {
      contentLength_ = -1;
      stage_ = Stage::chunkSize;
      return true;
    }
    if (contentLength_ > request_.limit) return fail(Failure::tooLarge, tooLargeText(request_.limit));
    if (status_ == 204 || contentLength_ == 0) return succeed();
    stage_ = Stage::body;
    return true;
  }

  bool redirect() {
    const QUrl next = url_.resolved(QUrl(location_));
    if (++redirects_ > kMaxRedirects) return fail(Failure::network, QStringLiteral("too many redirects"));
    if (!redirectAllowed(url_, next)) return fail(Failure::network, QStringLiteral("a redirect away from https refused"));
    open(next);
    return false;
  }

  void closedByServer() {
    if (over_) return;
    // Without a length or chunks, the end of the connection ends the answer.
    if (stage_ == Stage::body && contentLength_ < 0) {
      succeed();
      return;
    }
    fail(Failure::network, QStringLiteral("the connection closed before the whole answer"));
  }

  bool succeed() {
    result_ = Result{Failure::none, std::move(data_), QString()};
    end();
    return false;
  }
  bool fail(Failure why, const QString& text) {
    if (over_) return false;
    result_ = Result{why, QByteArray(), text};
    end();
    return false;
  }
  void end() {
    over_ = true;
    silence_.stop();
    deadline_.stop();
    if (socket_) {
      socket_->disconnect(this);
      socket_->abort();
    }
    owner_.finished(this);
  }

  BoundedFetcher& owner_;
  Request request_;
  Done done_;
  QUrl url_;
  std::unique_ptr<QTcpSocket> socket_;
  QTimer silence_;
  QTimer deadline_;
  bool over_ = false;
  int redirects_ = 0;
  Result result_;

  Stage stage_ = Stage::status;
  QByteArray line_;
  qint64 headerBytes_ = 0;
  int status_ = 0;
  QString reason_;
  QString location_;
  qint64 contentLength_ = -1;
  bool chunked_ = false;
  qint64 chunkLeft_ = 0;
  QByteArray data_;
};

BoundedFetcher::BoundedFetcher() = default;

BoundedFetcher::~BoundedFetcher() { abortAll(); }

void BoundedFetcher::fetch(const Request& request, Done done) {
  exchanges_.push_back(std::make_unique<Exchange>(*this, request, std::move(done)));
  Exchange* exchange = exchanges_.back().get();
  // Started from the event loop, so that an address refused at once still
  // answers after this call has returned.
  QTimer::singleShot(0, exchange, [exchange] { exchange->start(); });
}

void BoundedFetcher::abortAll() {
  for (std::unique_ptr<Exchange>& exchange : std::exchange(exchanges_, {})) exchange->abort();
}

void BoundedFetcher::finished(Exchange* exchange) {
  const auto it = std::find_if(exchanges_.begin(), exchanges_.end(),
                               [exchange](const std::unique_ptr<Exchange>& e) { return e.get() == exchange; });
  if (it == exchanges_.end()) return;
  // Called from the exchange's own signals: it goes once control is back in
  // the event loop, its outcome first.
  Exchange* ended = it->release();
  exchanges_.erase(it);
  ended->deleteLater();
  const Done done = ended->takeDone();
  if (done) done(ended->result());
}

}  // namespace tlr
