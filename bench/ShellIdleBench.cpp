// What the windows cost while the main window is hidden (closed to the tray):
// process CPU, timer events delivered and animations running over 10 s, with
// the real main window hosting the dashboard of ten running agents, after it
// was shown once. Run in a Release build.
#include "GuiBench.h"
#include "core/stores/SettingsStore.h"
#include "presentation/DashboardModel.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/shell/MainWindow.h"

#include <QAbstractAnimation>

namespace tlr {
namespace {

// Counts every timer event the application delivers, to any object.
class TimerEventCounter final : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Timer) ++count;
    return false;
  }
};

int runningAnimations(const QObject& root) {
  int running = 0;
  for (const QAbstractAnimation* a : root.findChildren<QAbstractAnimation*>())
    running += a->state() == QAbstractAnimation::Running;
  return running;
}

void MainWindowHiddenIdle(benchmark::State& state) {
  const bool hidden = state.range(0) != 0;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  MainWindowController controller(&model, SettingsStore::shared());
  controller.setDashboardFactory([](DashboardModel& m) { return new DashboardView(m); });
  QList<AgentEntry> installed;
  QList<RunningAgent> running;
  for (int i = 0; i < 10; ++i) {
    AgentEntry e;
    e.id = QStringLiteral("idle-agent-%1").arg(i);
    e.displayName = QStringLiteral("Idle Agent %1").arg(i);
    e.kind = static_cast<AgentEntry::Kind>(i % 3);
    installed << e;
    RunningAgent r;
    r.entry = e;
    r.pid = 20000 + i;
    running << r;
  }
  controller.show();
  model.update(installed, running);
  bench::cpuSecondsWhileRunning(1000);
  if (hidden) controller.window()->close();
  bench::cpuSecondsWhileRunning(500);
  TimerEventCounter counter;
  qApp->installEventFilter(&counter);
  const int windowMs = 10000;
  for (auto _ : state) {
    counter.count = 0;
    const double cpu = bench::cpuSecondsWhileRunning(windowMs);
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / (windowMs / 1000.0);
    state.counters["timer_events_per_s"] = counter.count / (windowMs / 1000.0);
    state.counters["running_animations"] = runningAnimations(*controller.window());
    state.SetIterationTime(windowMs / 1000.0);
  }
  qApp->removeEventFilter(&counter);
}
BENCHMARK(MainWindowHiddenIdle)->Arg(1)->Arg(0)->ArgName("hidden")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tlr

int main(int argc, char** argv) { return tlr::bench::runGuiBenchmarks(argc, argv); }
