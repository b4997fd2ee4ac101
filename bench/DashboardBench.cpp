// The dashboard's costs: one model update plus a full repaint with 50
// agents, and the CPU the window takes while ten rows' lights breathe.
// Run in a Release build.

#include "GuiBench.h"
#include "presentation/AgentActions.h"
#include "presentation/DashboardModel.h"
#include "ui/dashboard/DashboardView.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace tlr {
namespace {

class NoActions final : public AgentActions {
 public:
  QSet<QString> throttledAgents() const override { return {}; }
  void launchOnUserClick(const AgentEntry&, LaunchCompletion) override {}
  void stopOnUserClick(const AgentEntry&, StopCompletion) override {}
  void restartOnUserClick(const AgentEntry&, RestartCompletion) override {}
  void doctorOnUserClick(const AgentEntry&, DoctorCompletion) override {}
  void applyDoctorFix(const AgentEntry&, const AgentDoctor::KnownIssue&, FixCompletion) override {}
  void runSetupOnUserClick(const AgentEntry&) override {}
  void recoverOnDemand(const AgentEntry&) override {}
};

struct Agents {
  QList<AgentEntry> installed;
  QList<RunningAgent> running;
};

// `count` agents of the three kinds; the first `runningCount` run.
Agents makeAgents(int count, int runningCount) {
  Agents a;
  for (int i = 0; i < count; ++i) {
    AgentEntry e;
    e.id = QStringLiteral("bench-agent-%1").arg(i);
    e.displayName = QStringLiteral("Bench Agent %1").arg(i);
    e.vendor = QStringLiteral("Bench");
    e.kind = static_cast<AgentEntry::Kind>(i % 3);
    a.installed << e;
    if (i < runningCount) {
      RunningAgent r;
      r.entry = e;
      r.pid = 10000 + i;
      a.running << r;
    }
  }
  return a;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void DashboardUpdateAndRepaint50(benchmark::State& state) {
  NoActions actions;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  DashboardView view(model);
  view.resize(680, 560);
  view.show();
  const Agents agents = makeAgents(50, 25);
  // Alternate which agents run, so every update changes half the rows.
  const Agents other = makeAgents(50, 10);
  model.update(agents.installed, agents.running);
  QCoreApplication::processEvents();
  std::vector<double> samples;
  bool flip = false;
  for (auto _ : state) {
    QElapsedTimer t;
    t.start();
    const Agents& next = flip ? agents : other;
    flip = !flip;
    model.update(next.installed, next.running);
    view.repaint();  // synchronous: layout and paint of the whole window
    const double ms = t.nsecsElapsed() / 1e6;
    samples.push_back(ms);
    state.SetIterationTime(ms / 1000);
  }
  state.counters["median_ms"] = median(samples);
  state.counters["worst_ms"] = *std::max_element(samples.begin(), samples.end());
}
BENCHMARK(DashboardUpdateAndRepaint50)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// Ten seconds of the event loop an iteration: the share of one core taken.
void measureCpuOverTenSeconds(benchmark::State& state) {
  const int windowMs = 10000;
  for (auto _ : state) {
    const double cpu = bench::cpuSecondsWhileRunning(windowMs);
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / (windowMs / 1000.0);
    state.SetIterationTime(windowMs / 1000.0);
  }
}

void DashboardBreathingLightsCpu(benchmark::State& state) {
  const bool shown = state.range(0) != 0;
  NoActions actions;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  DashboardView view(model);
  view.resize(680, 720);  // tall enough to show all ten rows
  const Agents agents = makeAgents(10, 10);
  model.update(agents.installed, agents.running);
  if (shown) view.show();
  bench::cpuSecondsWhileRunning(1000);  // settle
  measureCpuOverTenSeconds(state);
}
BENCHMARK(DashboardBreathingLightsCpu)->Arg(1)->Arg(0)->ArgName("shown")->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tlr

int main(int argc, char** argv) { return tlr::bench::runGuiBenchmarks(argc, argv); }
