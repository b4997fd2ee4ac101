#include "platform/XDisplay.h"

#include "platform/SocketProbe.h"

#include <QRegularExpression>

#include <cstring>

namespace tlr {

bool XDisplay::usedByToolkit(const QString& chosenPlatform) {
  if (!chosenPlatform.isEmpty()) return chosenPlatform.startsWith(QLatin1String("xcb"));
  return !qgetenv("DISPLAY").isEmpty() && qgetenv("WAYLAND_DISPLAY").isEmpty();
}

XDisplay::Finding XDisplay::probe(const QString& display, std::chrono::milliseconds patience,
                                  std::chrono::milliseconds deadline, const std::function<void()>& patient) {
  // "[unix]:N[.S]": the server's socket, abstract first, as the X library
  // tries it.
  static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)(?:\\.\\d+)?$"));
  const QRegularExpressionMatch match = local.match(display);
  if (!match.hasMatch()) return {State::notProbed, display, QString()};
  const QByteArray socket = "/tmp/.X11-unix/X" + match.captured(1).toLatin1();
  // The connection's setup with no authorization, in this machine's byte
  // order: any server answers it, if only to refuse.
  QByteArray setup(12, '\0');
  const quint16 one = 1;
  setup[0] = *reinterpret_cast<const char*>(&one) == 1 ? 'l' : 'B';
  const quint16 major = 11;
  std::memcpy(setup.data() + 2, &major, sizeof major);
  const auto start = SocketProbe::Clock::now();
  bool toldPatience = false;
  Finding last{State::unreachable, display, QString()};
  for (const SocketProbe::LocalAddress& address : {SocketProbe::abstractAddress(socket), SocketProbe::pathAddress(socket)}) {
    const SocketProbe::Answer answer =
        SocketProbe::ask(address, setup, start + patience, start + deadline, patient, toldPatience);
    if (answer.asked == SocketProbe::Asked::answered) return {State::answered, display, QString()};
    if (answer.asked == SocketProbe::Asked::unanswered) return {State::unanswered, display, QString()};
    last.reason = answer.reason;
  }
  return last;
}

}  // namespace tlr
