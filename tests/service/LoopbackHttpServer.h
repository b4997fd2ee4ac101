#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

namespace tlr::test {

// A minimal HTTP/1.1 server on 127.0.0.1 for the maker-service client: it
// reads one request per connection, records it and answers what the test
// chose, then closes the connection. Lives on the main thread.
class LoopbackHttpServer : public QObject {
 public:
  struct Request {
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
  };
  struct Response {
    int status = 200;
    QByteArray body = "{}";
    bool dropConnection = false;  // close without answering
    // When set, `body` is ignored: this many filler bytes are sent, a piece
    // at a time as the client takes them, with or without a length header.
    qint64 streamedBytes = 0;
    bool declareLength = true;
    // When set, `body` is sent one byte at a time, this far apart.
    int dripMs = 0;
    // `body` in chunks of the chunked transfer coding (with an extension
    // and a trailer), or with neither a length nor chunks (the end of the
    // connection ends it).
    enum class Framing { length, chunked, close } framing = Framing::length;
    // A redirect (`status` 3xx) to this address.
    QByteArray location{};
  };

  LoopbackHttpServer();
  // The base address to give the client, e.g. "http://127.0.0.1:4711/v1/".
  QUrl endpoint(const QString& basePath = QStringLiteral("/v1/")) const;

  void setResponder(std::function<Response(const Request&)> responder) {
    responder_ = std::move(responder);
  }
  const QList<Request>& requests() const { return requests_; }
  // Bytes of streamed answers handed to the client so far (what it read,
  // and what the system buffers between us).
  qint64 streamedBytesTaken() const { return streamedTaken_; }
  // Streamed answers whose connection has ended: all sent, or the client
  // closed it.
  int streamsEnded() const { return streamsEnded_; }

 private:
  void onReadyRead(QTcpSocket* socket);
  void stream(QTcpSocket* socket, qint64 total);
  void drip(QTcpSocket* socket, const QByteArray& body, int intervalMs);

  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QList<Request> requests_;
  std::function<Response(const Request&)> responder_;
  qint64 streamedTaken_ = 0;
  int streamsEnded_ = 0;
};

}  // namespace tlr::test
