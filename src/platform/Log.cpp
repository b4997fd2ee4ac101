#include "platform/Log.h"

#include <QtGlobal>

#include <algorithm>

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

bool isControl(char16_t c) {
  return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// A line longer than this is cut: a store or an answer holding megabytes
// must not flood the log with one line.
constexpr qsizetype kMaxLogLine = 8192;

QString cut(const QString& line) {
  if (line.size() <= kMaxLogLine) return line;
  const qsizetype kept = line.at(kMaxLogLine - 1).isHighSurrogate() ? kMaxLogLine - 1 : kMaxLogLine;
  return line.left(kept) + QStringLiteral("…（另有 %1 字符未写出）").arg(line.size() - kept);
}

}  // namespace

QString oneLine(const QString& text) {
  if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isControl(c.unicode()); })) return text;
  QString out;
  out.reserve(text.size() + 16);
  for (const QChar ch : text) {
    const char16_t c = ch.unicode();
    if (!isControl(c))
      out += ch;
    else if (c == u'\n')
      out += QLatin1String("\\n");
    else if (c == u'\r')
      out += QLatin1String("\\r");
    else if (c <= 0xFF)
      out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    else
      out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
  }
  return out;
}

void logLine(const QString& line) { writeAll(STDOUT_FILENO, (cut(oneLine(line)) + '\n').toUtf8()); }

void errLine(const QString& line) { writeAll(STDERR_FILENO, (oneLine(line) + '\n').toUtf8()); }

void errWrite(const QByteArray& text) { writeAll(STDERR_FILENO, text); }

QString quotedList(const QStringList& items) {
  QStringList quoted;
  for (const QString& item : items) quoted << '"' + item + '"';
  return '[' + quoted.join(QStringLiteral(", ")) + ']';
}

namespace {

QtMessageHandler previousHandler = nullptr;

// Without $XDG_RUNTIME_DIR the toolkit warns at every start that it picks a
// folder of its own. The question is the toolkit's, not ours: while the
// application object is being built, before any of our code runs, it looks
// for a sandbox marker ("flatpak-info") in the runtime folder to choose its
// desktop integration, and asking for that folder without the variable is
// what warns. Nothing but setting the variable avoids it, and setting it is
// not ours to do: every agent we start inherits our environment (a made-up
// runtime folder would mislead their own session lookups), and our
// bring-forward channel and volume mount point are placed by whether it is
// set. Tollamere keeps nothing in the toolkit's fallback folder, so the notice
// says nothing to the user; this one text is dropped and every other message
// goes on.
void toolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

void quietToolkitNotices() {
  static const bool installed = [] {
    previousHandler = qInstallMessageHandler(&toolkitMessage);
    return true;
  }();
  (void)installed;
}

void makeStdioUnbuffered() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace tlr
