#include "platform/ServiceManager.h"

#include "platform/ChildProcess.h"

namespace tlr::ServiceManager {
namespace {

CallResult systemctl(const QString& verb, const QString& label) {
  ChildSpec spec;
  spec.program = QStringLiteral("systemctl");
  spec.arguments = {QStringLiteral("--user"), verb, unitName(label)};
  spec.timeout = std::chrono::seconds(5);
  const ChildResult r = runChild(spec);
  return CallResult{r.started, r.startError, r.started && !r.timedOut && r.exited() && r.exitCode() == 0};
}

}  // namespace

QString unitName(const QString& label) { return label + QStringLiteral(".service"); }

CallResult enable(const QString& label) { return systemctl(QStringLiteral("enable"), label); }
CallResult disable(const QString& label) { return systemctl(QStringLiteral("disable"), label); }
CallResult stop(const QString& label) { return systemctl(QStringLiteral("stop"), label); }

}  // namespace tlr::ServiceManager
