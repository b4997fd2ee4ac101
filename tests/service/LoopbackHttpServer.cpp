#include "LoopbackHttpServer.h"

#include <QTcpSocket>

namespace tlr::test {

LoopbackHttpServer::LoopbackHttpServer() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  });
}

QUrl LoopbackHttpServer::endpoint(const QString& basePath) const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(basePath));
}

void LoopbackHttpServer::onReadyRead(QTcpSocket* socket) {
  QByteArray& buffer = buffers_[socket];
  buffer += socket->readAll();
  const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
  if (headerEnd < 0) return;
  Request request;
  const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
  const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
  request.method = first.value(0);
  request.path = first.value(1);
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const qsizetype colon = lines[i].indexOf(':');
    if (colon > 0)
      request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
  }
  const qsizetype length = request.headers.value("content-length", "0").toLongLong();
  if (buffer.size() < headerEnd + 4 + length) return;  // body still arriving
  request.body = buffer.mid(headerEnd + 4, length);
  buffers_.remove(socket);
  requests_.append(request);

  const Response response = responder_ ? responder_(request) : Response{};
  if (!response.dropConnection) {
    socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(response.status) +
                  " Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n" +
                  response.body);
  }
  socket->disconnectFromHost();
}

}  // namespace tlr::test
