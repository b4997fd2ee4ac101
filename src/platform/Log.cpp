#include "platform/Log.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tlr {
namespace {

void writeAll(int fd, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed stream is not worth failing over
    }
    p += n;
    left -= n;
  }
}

}  // namespace

void logLine(const QString& line) { writeAll(STDOUT_FILENO, (line + '\n').toUtf8()); }

void errLine(const QString& line) { writeAll(STDERR_FILENO, (line + '\n').toUtf8()); }

void errWrite(const QByteArray& text) { writeAll(STDERR_FILENO, text); }

QString quotedList(const QStringList& items) {
  QStringList quoted;
  for (const QString& item : items) quoted << '"' + item + '"';
  return '[' + quoted.join(QStringLiteral(", ")) + ']';
}

void makeStdioUnbuffered() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace tlr
