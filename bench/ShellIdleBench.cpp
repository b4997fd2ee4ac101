// What the windows cost while the main window is hidden (closed to the tray):
// process CPU, timer events delivered and animations running over 10 s, with
// the real main window hosting the dashboard of ten running agents, after it
// was shown once. Run in a Release build; QT_QPA_PLATFORM picks the display
// (offscreen by default, or an X server such as Xvfb).
#include "core/SettingsStore.h"
#include "ui/dashboard/DashboardModel.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/Theme.h"
#include "ui/shell/MainWindow.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <ctime>

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

double cpuSecondsWhileRunning(int ms) {
  const std::clock_t start = std::clock();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return double(std::clock() - start) / CLOCKS_PER_SEC;
}

int runningAnimations(const QObject& root) {
  int running = 0;
  for (const QAbstractAnimation* a : root.findChildren<QAbstractAnimation*>())
    running += a->state() == QAbstractAnimation::Running;
  return running;
}

void MainWindowHiddenIdle(benchmark::State& state) {
  const bool hidden = state.range(0) != 0;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  MainWindowController controller(&model);
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
  cpuSecondsWhileRunning(1000);
  if (hidden) controller.window()->close();
  cpuSecondsWhileRunning(500);
  TimerEventCounter counter;
  qApp->installEventFilter(&counter);
  const int windowMs = 10000;
  for (auto _ : state) {
    counter.count = 0;
    const double cpu = cpuSecondsWhileRunning(windowMs);
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

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A home of its own: the stores read and write there, never the user's.
  QTemporaryDir home;
  qputenv("HOME", QFile::encodeName(home.path()));
  for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) qunsetenv(v);
  QApplication app(argc, argv);
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::en);
  tlr::Appearance::shared();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
