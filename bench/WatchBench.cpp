// What a scan and an exit note cost on this machine.
//   bench_watch --benchmark_filter=FullScan   one scanAll() with 1,000 extra processes
//   bench_watch --benchmark_filter=ExitToCallback   exit → callback on the main thread
#include "platform/KqueueProcessWatcher.h"
#include "registry/RegistryLoader.h"
#include "watcher/ProcessScanner.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawnSleep() {
  pid_t pid = -1;
  char program[] = "/bin/sleep";
  char seconds[] = "600";
  char* argv[] = {program, seconds, nullptr};
  return ::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

void stopAll(std::vector<pid_t>& pids) {
  for (pid_t pid : pids) ::kill(pid, SIGKILL);
  for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  pids.clear();
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

void BM_ExitToCallbackOnMainThread(benchmark::State& state) {
  auto watcher = tlr::KqueueProcessWatcher::create();
  pid_t lastExit = 0;
  Clock::time_point calledAt;
  watcher->setOnExit([&](pid_t pid, const QString&, const tlr::RawExitInfo&) {
    lastExit = pid;
    calledAt = Clock::now();
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
      while (lastExit != pid) QCoreApplication::processEvents(QEventLoop::AllEvents);
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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
