// What a scan and an exit note cost on this machine.
//   bench_watch --benchmark_filter=FullScan   one scanAll() with 1,000 extra processes
//   bench_watch --benchmark_filter=ExitToCallback   exit → callback on the main thread
//   bench_watch --benchmark_filter=ScanLoopTick     one tick of the 4-second scan loop
//   bench_watch --benchmark_filter=EventAppend      200 exits' events into a log of 10,000
#include "core/stores/EventStore.h"
#include "platform/KqueueProcessWatcher.h"
#include "platform/OffMain.h"
#include "registry/RegistryLoader.h"
#include "watcher/ProcessScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const QByteArray& program, std::vector<QByteArray> arguments) {
  std::vector<char*> argv{const_cast<char*>(program.constData())};
  for (QByteArray& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return ::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

pid_t spawnSleep() { return spawn("/bin/sleep", {"600"}); }

void stopAll(std::vector<pid_t>& pids) {
  for (pid_t pid : pids)
    if (pid > 0) ::kill(pid, SIGKILL);
  for (pid_t pid : pids)
    if (pid > 0) ::waitpid(pid, nullptr, 0);
  pids.clear();
}

// The first child of `parent`, once it runs (waits up to 2 seconds).
pid_t childOf(pid_t parent) {
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < deadline) {
    const tlr::ProcessTable table = tlr::ProcessTable::snapshot();
    for (const tlr::ProcessInfo& p : table.processes())
      if (p.ppid == parent) return p.pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::shared_ptr<const tlr::AgentRegistry> shippedRegistry() {
  auto result = tlr::RegistryLoader::loadFile(QStringLiteral(TLR_SOURCE_REGISTRY));
  if (auto* registry = std::get_if<std::shared_ptr<const tlr::AgentRegistry>>(&result)) return *registry;
  return std::make_shared<const tlr::AgentRegistry>(tlr::RegistryFile{});
}

void BM_FullScanWith1000ExtraProcesses(benchmark::State& state) {
  std::vector<pid_t> sleepers;
  for (int i = 0; i < 1000; ++i)
    if (const pid_t pid = spawnSleep(); pid > 0) sleepers.push_back(pid);
  const tlr::ProcessScanner scanner(shippedRegistry());
  std::size_t records = 0;
  for (auto _ : state) {
    const auto all = scanner.scanAll();
    records = static_cast<std::size_t>(all.size());
    benchmark::DoNotOptimize(all);
  }
  state.counters["processes"] = static_cast<double>(tlr::ProcessTable::snapshot().processes().size());
  state.counters["records"] = static_cast<double>(records);
  state.counters["agents"] = static_cast<double>(scanner.registry().visibleAgents().size());
  stopAll(sleepers);
}
BENCHMARK(BM_FullScanWith1000ExtraProcesses)->Unit(benchmark::kMillisecond);

// What App::refreshRunningAgents reads every 4 seconds: the installed agents
// and every running one, with a desktop agent (found through its desktop
// entry) and a command-line agent below a shell, whose ancestors are looked
// up for an embedding desktop agent.
void BM_ScanLoopTick(benchmark::State& state) {
  const QTemporaryDir dir;
  const QString apps = dir.path() + QStringLiteral("/data/applications");
  QDir().mkpath(apps);
  const QString gui = dir.path() + QStringLiteral("/cursor");
  const QString cli = dir.path() + QStringLiteral("/claude");
  QFile::copy(QStringLiteral("/bin/sleep"), gui);
  QFile::copy(QStringLiteral("/bin/sleep"), cli);
  QFile entry(apps + QStringLiteral("/cursor.desktop"));
  if (entry.open(QIODevice::WriteOnly))
    entry.write("[Desktop Entry]\nType=Application\nName=Cursor\nExec=" + QFile::encodeName(gui) + " %U\n");
  entry.close();
  const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/data")));

  std::vector<pid_t> agents{spawn(QFile::encodeName(gui), {"600"}),
                            spawn("/bin/sh", {"-c", QFile::encodeName(cli) + " 600; :"})};
  agents.push_back(childOf(agents.back()));
  const tlr::ProcessScanner scanner(shippedRegistry());
  std::size_t records = 0;
  for (auto _ : state) {
    const auto installed = scanner.scanInstalledAgents();
    const auto all = scanner.scanAll();
    records = static_cast<std::size_t>(all.size());
    benchmark::DoNotOptimize(installed);
    benchmark::DoNotOptimize(all);
  }
  state.counters["records"] = static_cast<double>(records);
  state.counters["processes"] = static_cast<double>(tlr::ProcessTable::snapshot().processes().size());
  stopAll(agents);
  if (savedDataHome.isNull())
    qunsetenv("XDG_DATA_HOME");
  else
    qputenv("XDG_DATA_HOME", savedDataHome);
}
BENCHMARK(BM_ScanLoopTick)->Unit(benchmark::kMicrosecond);

void BM_ExitToCallbackOnMainThread(benchmark::State& state) {
  auto watcher = tlr::KqueueProcessWatcher::create();
  pid_t lastExit = 0;
  Clock::time_point calledAt;
  // The main thread waits in its event loop, as the application's does,
  // until the callback ends it.
  QEventLoop loop;
  watcher->setOnExit([&](pid_t pid, const QString&, const tlr::RawExitInfo&) {
    lastExit = pid;
    calledAt = Clock::now();
    loop.quit();
  });
  watcher->start();
  constexpr int kExits = 200;
  std::vector<double> micros;
  for (auto _ : state) {
    micros.clear();
    for (int i = 0; i < kExits; ++i) {
      const pid_t pid = spawnSleep();
      watcher->watch(pid, QStringLiteral("bench"));
      const auto killedAt = Clock::now();
      ::kill(pid, SIGKILL);
      while (lastExit != pid) loop.exec();
      micros.push_back(std::chrono::duration<double, std::micro>(calledAt - killedAt).count());
      ::waitpid(pid, nullptr, 0);
    }
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["worst_us"] = micros.back();
  state.counters["exits"] = kExits;
}
BENCHMARK(BM_ExitToCallbackOnMainThread)->Iterations(1)->Unit(benchmark::kMillisecond);

// The window thread's share of recording an exit when the log already holds
// 10,000 events (200 agents, 50 each), 200 exits in a burst; then how long
// until the burst is stored. Also what the start pays for such a log: the
// defaults read and the store loaded from them.
void BM_EventAppendOnMainThread(benchmark::State& state) {
  QTemporaryDir dir;
  tlr::Defaults defaults(dir.path() + QStringLiteral("/defaults.json"));
  QList<tlr::AgentEvent> full;
  for (int agent = 0; agent < 200; ++agent)
    for (int i = 0; i < tlr::EventStore::maxPerAgent; ++i)
      full << tlr::AgentEvent{QUuid::createUuid(), QStringLiteral("agent-%1").arg(agent),
                              tlr::AgentEventType::started, 1000.0 - i, QStringLiteral("pid=%1").arg(i), std::nullopt};
  defaults.set(tlr::EventStore::defaultsKey, QString::fromUtf8(tlr::EventStore::encode(full)));
  static_cast<void>(defaults.flush());
  constexpr int kExits = 200;
  std::vector<double> micros;
  double storedMs = 0;
  double startMs = 0;
  for (auto _ : state) {
    const auto startAt = Clock::now();
    tlr::Defaults read(defaults.filePath());
    tlr::EventStore store(read);
    startMs = std::chrono::duration<double, std::milli>(Clock::now() - startAt).count();
    micros.clear();
    const auto burstAt = Clock::now();
    for (int i = 0; i < kExits; ++i) {
      const auto before = Clock::now();
      store.append(tlr::AgentEvent::make(QStringLiteral("agent-%1").arg(i), tlr::AgentEventType::exitedAbnormal));
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
    }
    // Stored once the file holds the newest event.
    const QString newest = store.events().first().id.toString(QUuid::WithoutBraces).toUpper();
    while (!tlr::Defaults(defaults.filePath()).string(tlr::EventStore::defaultsKey).value_or(QString()).contains(newest)) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    storedMs = std::chrono::duration<double, std::milli>(Clock::now() - burstAt).count();
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["worst_us"] = micros.back();
  state.counters["stored_ms"] = storedMs;
  state.counters["start_ms"] = startMs;
}
BENCHMARK(BM_EventAppendOnMainThread)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tlr::OffMainPool::shared().waitForIdle(Clock::now() + std::chrono::seconds(5));
  return 0;
}
