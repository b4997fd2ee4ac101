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
  };

  LoopbackHttpServer();
  // The base address to give the client, e.g. "http://127.0.0.1:4711/v1/".
  QUrl endpoint(const QString& basePath = QStringLiteral("/v1/")) const;

  void setResponder(std::function<Response(const Request&)> responder) {
    responder_ = std::move(responder);
  }
  const QList<Request>& requests() const { return requests_; }

 private:
  void onReadyRead(QTcpSocket* socket);

  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QList<Request> requests_;
  std::function<Response(const Request&)> responder_;
};

}  // namespace tlr::test
