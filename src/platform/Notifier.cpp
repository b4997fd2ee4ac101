#include "platform/Notifier.h"

#include "platform/ChildProcess.h"

namespace tlr {

void showDesktopNotification(const QString& title, const QString& body) {
  ChildSpec spec;
  spec.program = QStringLiteral("notify-send");
  spec.arguments = {title, body};
  spawnDetached(spec, QString());
}

}  // namespace tlr
