#include "platform/Notifier.h"

#include "platform/ChildProcess.h"

namespace tlr {

namespace {

QString withoutControls(const QString& text, bool keepLineBreaks) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (keepLineBreaks && u == u'\n')
      out += c;
    else if (u >= 0x20 && !(u >= 0x7F && u <= 0x9F) && u != 0x2028 && u != 0x2029)
      out += c;
  }
  return out;
}

}  // namespace

void showDesktopNotification(const QString& title, const QString& body) {
  ChildSpec spec;
  spec.program = QStringLiteral("notify-send");
  spec.arguments = {withoutControls(title, false), withoutControls(body, true).toHtmlEscaped()};
  // Best effort: a desktop without a notification server or notify-send
  // shows no banner, and what it would say is in the window and the log.
  static_cast<void>(spawnDetached(spec, QString()));
}

}  // namespace tlr
