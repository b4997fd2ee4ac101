#include "platform/ServiceManager.h"

#include "platform/ChildProcess.h"

#include <QHash>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr::ServiceManager {
namespace {

using Clock = std::chrono::steady_clock;

ChildResult systemctl(const QStringList& arguments, const QString& program = QStringLiteral("systemctl"),
                      std::chrono::milliseconds timeout = kCallTimeout) {
  ChildSpec spec;
  spec.program = program;
  spec.arguments = QStringList{QStringLiteral("--user")} + arguments;
  spec.timeout = timeout;
  spec.killGrace = std::chrono::seconds(1);
  return runChild(spec);
}

bool succeeded(const ChildResult& r) { return r.started && !r.timedOut && r.exited() && r.exitCode() == 0; }

// The systemctl programs (by path) whose `show` ran out of time lately, and
// until when they are left alone.
class HangingPrograms {
 public:
  static HangingPrograms& instance() {
    static HangingPrograms programs;
    return programs;
  }
  bool isHanging(const QString& program) {
    std::lock_guard guard(lock_);
    const auto it = until_.constFind(program);
    return it != until_.cend() && *it > Clock::now();
  }
  void markHanging(const QString& program) {
    std::lock_guard guard(lock_);
    until_.insert(program, Clock::now() + kUnresponsiveBackoff);
  }

 private:
  std::mutex lock_;
  QHash<QString, Clock::time_point> until_;
};

}  // namespace

QString unitName(const QString& label) { return label + QStringLiteral(".service"); }

bool userManagerAvailable() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return false;
  struct stat st {};
  return ::stat((runtime + "/systemd/private").constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::optional<JobState> list(const QString& label, std::chrono::milliseconds timeout) {
  if (!userManagerAvailable()) return std::nullopt;
  const QString program = findExecutable(QStringLiteral("systemctl"), currentPath());
  if (program.isEmpty() || HangingPrograms::instance().isHanging(program)) return std::nullopt;
  const ChildResult r = systemctl(
      {QStringLiteral("show"), QStringLiteral("-p"), QStringLiteral("MainPID,ActiveState"), unitName(label)}, program,
      timeout);
  if (r.timedOut) HangingPrograms::instance().markHanging(program);
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

CallOutcome disableJob(const QString& label, std::chrono::milliseconds timeout) {
  CallOutcome outcome;
  const QString program = findExecutable(QStringLiteral("systemctl"), currentPath());
  if (program.isEmpty()) {
    outcome.startError = QStringLiteral("systemctl not found on PATH");
    return outcome;
  }
  const ChildResult r = systemctl({QStringLiteral("disable"), unitName(label)}, program, timeout);
  outcome.started = r.started;
  outcome.startError = r.startError;
  outcome.timedOut = r.timedOut;
  if (r.started) {
    outcome.exited = r.exited();
    if (outcome.exited)
      outcome.exitStatus = r.exitCode();
    else
      outcome.signal = r.termSignal();
  }
  return outcome;
}

QString userTarget(const QString& label) { return QStringLiteral("user/%1/%2").arg(::getuid()).arg(label); }

}  // namespace tlr::ServiceManager
