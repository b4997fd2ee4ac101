// Backup and restore on this machine, side by side with plain tar.
//   bench_backup                         the full table (about 120 MB of data)
//   bench_backup --benchmark_filter=Backup/
// Each run makes its own HOME with a real encrypted image (gocryptfs) and a
// generated agent-like data set: thousands of small JSON files, a few large
// logs and a random binary. Peak memory is the process's resident high-water
// mark during the measured step (reset before it), at two data-set sizes.
#include "backup/BackupEngine.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/RestoreEngine.h"
#include "platform/FileOps.h"
#include "registry/RegistryLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>

#include <unistd.h>

namespace {

using namespace tlr;

constexpr qint64 kMiB = 1024 * 1024;

// An agent's data folder of about `megabytes` MB.
void generateDataset(const QString& root, int megabytes) {
  QRandomGenerator rng(20261207);
  const double scale = megabytes / 120.0;
  const int jsonFiles = static_cast<int>(8000 * scale);
  for (int i = 0; i < jsonFiles; ++i) {
    const QString dir = root + QStringLiteral("/sessions/%1").arg(i / 200);
    if (i % 200 == 0) QDir().mkpath(dir);
    QByteArray json = "{\n  \"id\": \"" + QByteArray::number(rng.generate64(), 16) + "\",\n  \"messages\": [\n";
    while (json.size() < 3000) {
      json += "    {\"role\": \"assistant\", \"tokens\": " + QByteArray::number(rng.bounded(5000)) +
              ", \"text\": \"step " + QByteArray::number(rng.bounded(100000)) + " of the plan done\"},\n";
    }
    json += "    {}\n  ]\n}\n";
    QFile f(dir + QStringLiteral("/s%1.json").arg(i));
    f.open(QIODevice::WriteOnly);
    f.write(json);
  }
  QDir().mkpath(root + "/logs");
  for (int l = 0; l < 3; ++l) {
    QFile f(root + QStringLiteral("/logs/agent-%1.log").arg(l));
    f.open(QIODevice::WriteOnly);
    const qint64 target = static_cast<qint64>(22 * kMiB * scale);
    QByteArray chunk;
    qint64 written = 0;
    while (written < target) {
      chunk.clear();
      for (int n = 0; n < 2000; ++n)
        chunk += "2026-12-07T08:" + QByteArray::number(rng.bounded(60)) + " INFO worker-" +
                 QByteArray::number(rng.bounded(16)) + " request " + QByteArray::number(rng.generate(), 16) +
                 " finished in " + QByteArray::number(rng.bounded(900)) + " ms\n";
      f.write(chunk);
      written += chunk.size();
    }
  }
  QFile bin(root + "/model-cache.bin");
  bin.open(QIODevice::WriteOnly);
  QByteArray block(kMiB, '\0');
  for (qint64 m = 0; m < static_cast<qint64>(30 * scale); ++m) {
    rng.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    bin.write(block);
  }
}

// Turns the event loop until `done` is set by a completion.
void waitFor(const bool& done) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  poll.start(5);
  if (!done) loop.exec();
}

qint64 peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Each measured step starts from a settled disk: what earlier steps wrote is
// flushed first, so no step waits on another's write-back.
void settle() { ::sync(); }

double runTar(const QStringList& arguments) {
  settle();
  QElapsedTimer t;
  t.start();
  QProcess tar;
  tar.start("/usr/bin/tar", arguments);
  tar.waitForFinished(-1);
  return t.elapsed() / 1000.0;
}

// A HOME with a mounted image and one agent whose data is the data set.
struct Setup {
  QTemporaryDir home;
  QByteArray oldHome = qgetenv("HOME");
  QString data;
  AgentEntry agent;
  bool ok = false;

  explicit Setup(int megabytes) {
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    data = home.path() + "/.benchagent";
    generateDataset(data, megabytes);
    agent.id = QStringLiteral("benchagent");
    agent.displayName = agent.id;
    agent.backup = AgentEntry::BackupSpec{};
    agent.backup->includePaths = QStringList{QStringLiteral("~/.benchagent")};
    const QString image = home.path() + "/TLR 备份.sparsebundle";
    const auto created = BackupVolume::create(image, QStringLiteral("bench-password"));
    ok = created.ok() && BackupVolume::mount(QStringLiteral("bench-password")).ok();
  }
  ~Setup() {
    BackupVolume::unmount();
    qputenv("HOME", oldHome);
  }
};

void Backup(benchmark::State& state) {
  Setup setup(static_cast<int>(state.range(0)));
  if (!setup.ok) {
    state.SkipWithError("no encrypted image (gocryptfs/FUSE missing?)");
    return;
  }
  BackupEngine engine(SnapshotVolume::standard());
  const QString mount = BackupVolume::mountPoint();
  double engineSeconds = 0, tarSeconds = 0;
  qint64 peak = 0;
  for (auto _ : state) {
    settle();
    resetPeak();
    QElapsedTimer t;
    t.start();
    bool done = false;
    bool ok = false;
    engine.runBackup({setup.agent}, [&](const BackupEngine::Result& r) {
      done = true;
      ok = r.ok();
    });
    waitFor(done);
    engineSeconds = t.elapsed() / 1000.0;
    peak = std::max(peak, peakResidentKiB());
    if (!ok) state.SkipWithError("backup failed");
    tarSeconds = runTar({"czf", mount + "/baseline.tar.gz", "-C", setup.home.path(), ".benchagent"});
    QFile::remove(mount + "/baseline.tar.gz");
    state.SetIterationTime(engineSeconds);
  }
  state.counters["backup_s"] = engineSeconds;
  state.counters["tar_czf_s"] = tarSeconds;
  state.counters["ratio"] = tarSeconds > 0 ? engineSeconds / tarSeconds : 0;
  state.counters["peak_rss_MiB"] = peak / 1024.0;
}

void Restore(benchmark::State& state) {
  Setup setup(static_cast<int>(state.range(0)));
  if (!setup.ok) {
    state.SkipWithError("no encrypted image (gocryptfs/FUSE missing?)");
    return;
  }
  BackupEngine backup(SnapshotVolume::standard());
  bool done = false;
  backup.runBackup({setup.agent}, [&](const BackupEngine::Result&) { done = true; });
  waitFor(done);
  const auto registry = std::get<std::shared_ptr<const AgentRegistry>>(RegistryLoader::loadData(
      R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"benchagent","displayName":"b","vendor":"v",
      "kind":"cli","identify":{},"backup":{"includePaths":["~/.benchagent"]}}]})"));
  RestoreEngine engine(SnapshotVolume::standard());
  engine.setRegistry(registry);
  const QString archive = BackupStorage::listSnapshots().value(0) + "/backup.tar.gz";
  double engineSeconds = 0, tarSeconds = 0;
  qint64 peak = 0;
  for (auto _ : state) {
    settle();
    resetPeak();
    QElapsedTimer t;
    t.start();
    done = false;
    bool ok = false;
    engine.restoreAll([&](const std::optional<RestoreError>& e) {
      done = true;
      ok = !e;
    });
    waitFor(done);
    engineSeconds = t.elapsed() / 1000.0;
    peak = std::max(peak, peakResidentKiB());
    if (!ok) state.SkipWithError("restore failed");
    const QString into = setup.home.path() + "/tar-restore";
    QDir().mkpath(into);
    tarSeconds = runTar({"xzf", archive, "-C", into});
    FileOps::removeItem(into);
    state.SetIterationTime(engineSeconds);
  }
  state.counters["restore_s"] = engineSeconds;
  state.counters["tar_xzf_s"] = tarSeconds;
  state.counters["ratio"] = tarSeconds > 0 ? engineSeconds / tarSeconds : 0;
  state.counters["peak_rss_MiB"] = peak / 1024.0;
}

BENCHMARK(Backup)->Arg(60)->Arg(120)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Restore)->Arg(60)->Arg(120)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
