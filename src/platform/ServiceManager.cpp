#include "platform/ServiceManager.h"

#include "platform/ChildProcess.h"

namespace tlr::ServiceManager {
namespace {

ChildResult systemctl(const QStringList& arguments) {
  ChildSpec spec;
  spec.program = QStringLiteral("systemctl");
  spec.arguments = QStringList{QStringLiteral("--user")} + arguments;
  spec.timeout = kCallTimeout;
  spec.killGrace = std::chrono::seconds(1);
  return runChild(spec);
}

bool succeeded(const ChildResult& r) { return r.started && !r.timedOut && r.exited() && r.exitCode() == 0; }

}  // namespace

QString unitName(const QString& label) { return label + QStringLiteral(".service"); }

std::optional<JobState> list(const QString& label) {
  const ChildResult r = systemctl({QStringLiteral("show"), QStringLiteral("-p"),
                                   QStringLiteral("MainPID,ActiveState"), unitName(label)});
  if (!succeeded(r)) return std::nullopt;
  JobState state;
  state.output = QString::fromUtf8(r.out);
  for (const QString& line : state.output.split('\n', Qt::SkipEmptyParts)) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("MainPID"))
      state.mainPid = value.toInt();
    else if (key == QLatin1String("ActiveState"))
      state.activeState = value;
  }
  return state;
}

bool enable(const QString& label) { return succeeded(systemctl({QStringLiteral("enable"), unitName(label)})); }
bool disable(const QString& label) { return succeeded(systemctl({QStringLiteral("disable"), unitName(label)})); }
bool bootout(const QString& label) { return succeeded(systemctl({QStringLiteral("stop"), unitName(label)})); }

}  // namespace tlr::ServiceManager
