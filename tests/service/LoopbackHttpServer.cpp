#include "LoopbackHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

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
  if (response.streamedBytes > 0) {
    QByteArray head("HTTP/1.1 200 Answer\r\nContent-Type: application/octet-stream\r\n");
    if (response.declareLength) head += "Content-Length: " + QByteArray::number(response.streamedBytes) + "\r\n";
    socket->write(head + "Connection: close\r\n\r\n");
    stream(socket, response.streamedBytes);
    return;
  }
  if (response.dripMs > 0) {
    socket->write("HTTP/1.1 200 Answer\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n");
    drip(socket, response.body, response.dripMs);
    return;
  }
  if (!response.dropConnection) {
    QByteArray head = QByteArray("HTTP/1.1 ") + QByteArray::number(response.status) + " Answer\r\nContent-Type: application/json\r\n";
    if (!response.location.isEmpty()) head += "Location: " + response.location + "\r\n";
    QByteArray body = response.body;
    using Framing = Response::Framing;
    if (response.framing == Framing::chunked) {
      head += "Transfer-Encoding: chunked\r\n";
      QByteArray chunks;
      for (qsizetype at = 0; at < response.body.size(); at += 7) {
        const QByteArray piece = response.body.mid(at, 7);
        chunks += QByteArray::number(piece.size(), 16) + ";note=x\r\n" + piece + "\r\n";
      }
      body = chunks + "0\r\nX-Trailer: t\r\n\r\n";
    } else if (response.framing == Framing::length) {
      head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    socket->write(head + "Connection: close\r\n\r\n" + body);
  }
  socket->disconnectFromHost();
}

void LoopbackHttpServer::stream(QTcpSocket* socket, qint64 total) {
  // Never more than a few pieces waiting in our own buffer: what is counted
  // is what the client's side took.
  static constexpr qint64 kPiece = 64 * 1024;
  auto left = std::make_shared<qint64>(total);
  const QByteArray piece(kPiece, '7');
  const auto refill = [this, socket, left, piece] {
    while (*left > 0 && socket->bytesToWrite() < 2 * kPiece) {
      const qint64 n = std::min<qint64>(*left, kPiece);
      socket->write(piece.left(n));
      *left -= n;
    }
    if (*left == 0 && socket->bytesToWrite() == 0) socket->disconnectFromHost();
  };
  connect(socket, &QTcpSocket::disconnected, this, [this] { ++streamsEnded_; });
  connect(socket, &QTcpSocket::bytesWritten, socket, [this, refill](qint64 written) {
    streamedTaken_ += written;
    refill();
  });
  refill();
}

void LoopbackHttpServer::drip(QTcpSocket* socket, const QByteArray& body, int intervalMs) {
  auto timer = new QTimer(socket);
  auto sent = std::make_shared<qsizetype>(0);
  connect(timer, &QTimer::timeout, socket, [socket, body, sent, timer] {
    if (*sent < body.size()) socket->write(body.mid((*sent)++, 1));
    if (*sent >= body.size()) {
      timer->stop();
      socket->disconnectFromHost();
    }
  });
  timer->start(intervalMs);
}

}  // namespace tlr::test
