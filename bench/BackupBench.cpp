// Backup and restore on this machine, side by side with plain tar, as ratios.
//   bench_backup                           every data set, 5 rounds each
//   bench_backup --benchmark_filter=Backup/files_40k
//   bench_backup --benchmark_filter=SharedFolder   archive size, three agents over one folder
//   TLR_BENCH_ROUNDS=9 bench_backup        more rounds
//   TLR_BENCH_DIR=/some/folder bench_backup  homes there, not beside the bench
//   TLR_BENCH_OVER=0 bench_backup          no restore over the standing files
// Each run makes its own HOME with a real encrypted image (gocryptfs) and a
// generated agent-like data set: thousands of small JSON files, a few large
// logs and a random binary. In every round the engine's step and the tar
// commands it is held against run back to back on the same data, each from a
// settled disk (which one goes first alternates between rounds), and the
// round's ratio is the engine's time over tar's: on a busy machine the
// ratios vary far less than the times. The engine's steps run end to end:
// the image is detached before them, so the engine attaches and detaches it
// itself as a run does (tar writes into, or reads from, the attached image);
// an attach and detach alone are timed right after (mount_s), and the
// *_without_mount ratios take that time off the engine's. The counters give the median ratio
// over the rounds with the lowest and the highest, the median times, the
// process's peak resident memory during the engine's steps (reset before
// each) and the load average before and after; each round's times, ratio and
// load are printed on stderr as it ends.
// Wall times follow the load; CPU times far less. So each round also runs
// the engine's walk by itself (the agent's data staged into an archive that
// pigz compresses and nobody keeps) and gives the CPU time of the thread
// that walks (walk_cpu_s), against the CPU time of the tar process of the
// pigz step without its compressor (tar_cpu_s): walk_vs_tar_cpu is their
// ratio.
#include "backup/BackupEngine.h"
#include "backup/BackupPlanner.h"
#include "backup/BackupStaging.h"
#include "backup/BackupStorage.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "platform/FileOps.h"
#include "platform/TarArchive.h"
#include "platform/TarWriter.h"
#include "registry/RegistryLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace tlr;

constexpr qint64 kMiB = 1024 * 1024;

int rounds() {
  const int asked = qEnvironmentVariableIntValue("TLR_BENCH_ROUNDS");
  return asked > 0 ? asked : 5;
}

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

// 40,000 files of 0.5 to 4 KB (JSON-like text) in 400 folders.
void generateManySmallFiles(const QString& root) {
  QRandomGenerator rng(20261208);
  for (int d = 0; d < 400; ++d) {
    const QString dir = root + QStringLiteral("/sessions/%1").arg(d, 3, 10, QLatin1Char('0'));
    QDir().mkpath(dir);
    for (int i = 0; i < 100; ++i) {
      const int size = 512 + static_cast<int>(rng.bounded(3585));
      QByteArray json = "{\"id\": \"" + QByteArray::number(rng.generate64(), 16) + "\", \"text\": \"";
      while (json.size() < size - 3) json += "step " + QByteArray::number(rng.bounded(100000)) + " done; ";
      json.truncate(size - 3);
      json += "\"}\n";
      QFile f(dir + QStringLiteral("/s%1.json").arg(i));
      f.open(QIODevice::WriteOnly);
      f.write(json);
    }
  }
}

// `megabytes` MB of random data (which does not compress) in a few files.
void generateRandomData(const QString& root, int megabytes) {
  QRandomGenerator rng(20261209);
  QDir().mkpath(root);
  QByteArray block(kMiB, '\0');
  for (int m = 0; m < megabytes; ++m) {
    QFile f(root + QStringLiteral("/part-%1.bin").arg(m / 4));
    f.open(QIODevice::Append);
    rng.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    f.write(block);
  }
}

// Which data set a run backs up: the agent-like one of `megabytes` MB, or
// 40,000 small files.
struct DataSet {
  int megabytes = 0;  // 0: 40,000 small files; below 0: none
};

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

double loadAverage() {
  std::ifstream loadavg("/proc/loadavg");
  double one = 0;
  loadavg >> one;
  return one;
}

// Each measured step starts from a settled disk: what earlier steps wrote is
// flushed first, so no step waits on another's write-back.
void settle() { ::sync(); }

// Seconds that `step` took, from a settled disk.
double timed(const std::function<void()>& step) {
  settle();
  QElapsedTimer t;
  t.start();
  step();
  return t.elapsed() / 1000.0;
}

// What one tar command cost: the CPU seconds of the tar process itself and
// of what it waited for (the compressor it ran).
struct TarCost {
  double ownCpu = 0;
  double compressorCpu = 0;
};

// The CPU seconds of the exited, not yet reaped process `pid`: its own
// (from the scheduler, to the nanosecond) and its reaped children's.
TarCost exitedCost(pid_t pid) {
  TarCost cost;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream schedstat(proc + "/schedstat");
  long long ns = 0;
  if (schedstat >> ns) cost.ownCpu = ns / 1e9;
  std::ifstream statFile(proc + "/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t end = stat.rfind(')');
  if (end == std::string::npos) return cost;
  std::istringstream fields(stat.substr(end + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  // From the state on: utime, stime, cutime, cstime are the 12th to 15th.
  if (f.size() < 15) return cost;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  if (cost.ownCpu == 0) cost.ownCpu = (std::stod(f[11]) + std::stod(f[12])) / tick;
  cost.compressorCpu = (std::stod(f[13]) + std::stod(f[14])) / tick;
  return cost;
}

TarCost runTar(const QStringList& arguments) {
  std::vector<QByteArray> args{"/usr/bin/tar"};
  for (const QString& a : arguments) args.push_back(QFile::encodeName(a));
  std::vector<char*> argv;
  for (QByteArray& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    qWarning("tar: cannot start");
    return {};
  }
  // Looked at while it is a zombie: its figures are final then.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  const TarCost cost = exitedCost(pid);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) qWarning("tar %s: failed", qPrintable(arguments.join(' ')));
  return cost;
}

// The CPU seconds the engine's walk of `agent`'s data takes on its thread:
// the roots staged as a backup stages them, into an archive that the same
// compressor packs and nobody keeps.
double walkCpuSeconds(const AgentEntry& agent) {
  const BackupPlan plan = BackupPlanner::plan(agent);
  const QList<BackupStaging::Agent> agents{{plan.agentId, plan.roots, plan.excludes}};
  double cpu = 0;
  settle();
  const TarArchive::Result packed = TarArchive::pack(
      [&](TarWriter& archive) {
        timespec start{}, end{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        static_cast<void>(BackupStaging::stage(archive, QStringLiteral("walk"), agents));
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cpu = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
        return archive.error().isEmpty();
      },
      [](QByteArrayView) { return true; });
  if (!packed.ok()) qWarning("walk alone: the archive failed");
  return cpu;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One round's line on stderr: both times, the ratio and the load.
void printRound(const char* step, DataSet set, const char* where, int round, double engine, double mount,
                const char* tar, double tarSeconds) {
  fprintf(stderr,
          "%s/%s%s%s round %d (%s first): engine %.3f s (attach and detach alone %.3f s), %s %.3f s, ratio %.2f, "
          "load %.1f\n",
          step, set.megabytes > 0 ? (set.megabytes > 60 ? "agent_120MB" : "agent_60MB") : "files_40k",
          *where ? " " : "", where, round, round % 2 == 0 ? "engine" : "tar", engine, mount, tar, tarSeconds, engine / tarSeconds,
          loadAverage());
}

// The figures of the rounds, by name.
class Rounds {
 public:
  void add(const std::string& name, double value) { values_[name].push_back(value); }
  double medianOf(const std::string& name) const {
    const auto it = values_.find(name);
    return it == values_.end() ? 0 : median(it->second);
  }

  // Each engine figure as its median; each ratio as median, lowest, highest.
  void report(benchmark::State& state, const std::vector<std::string>& ratios) {
    for (const auto& [name, values] : values_) {
      const bool ratio = std::find(ratios.begin(), ratios.end(), name) != ratios.end();
      state.counters[name] = median(values);
      if (ratio) {
        state.counters[name + "_min"] = *std::min_element(values.begin(), values.end());
        state.counters[name + "_max"] = *std::max_element(values.begin(), values.end());
      }
    }
  }

 private:
  std::map<std::string, std::vector<double>> values_;
};

// The homes of the runs, removed only when every run is over: removing a
// tree of this size slows the file creation of whatever comes next for
// seconds, even after a flush, and would land on the next run's rounds.
QStringList& homesToRemove() {
  static QStringList homes;
  return homes;
}

// Where the homes are made: $TLR_BENCH_DIR, else a folder beside the bench.
// Not /tmp: other programs create and remove test trees there all the time,
// and ext4 then spends most of each file creation skipping inodes removed in
// the last half minute, which swamps what is measured.
QString homesFolder() {
  QString folder = qEnvironmentVariable("TLR_BENCH_DIR");
  if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath() + "/bench-homes";
  QDir().mkpath(folder);
  return folder;
}

// A HOME with a mounted image and one agent whose data is the data set.
struct Setup {
  QTemporaryDir home{homesFolder() + "/home-XXXXXX"};
  QByteArray oldHome = qgetenv("HOME");
  QString data;
  AgentEntry agent;
  bool ok = false;

  explicit Setup(DataSet set) {
    home.setAutoRemove(false);
    homesToRemove() << home.path();
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    data = home.path() + "/.benchagent";
    if (set.megabytes > 0)
      generateDataset(data, set.megabytes);
    else if (set.megabytes == 0)
      generateManySmallFiles(data);
    agent.id = QStringLiteral("benchagent");
    agent.displayName = agent.id;
    agent.backup = AgentEntry::BackupSpec{};
    agent.backup->includePaths = QStringList{QStringLiteral("~/.benchagent")};
    const QString image = home.path() + "/TLR 备份.sparsebundle";
    const auto created = BackupVolume::create(image, QStringLiteral("bench-password"));
    ok = created.ok() && BackupVolume::mount(QStringLiteral("bench-password")).ok();
    // The engines mount the image themselves with it, as a run does.
    PasswordVault::setCachedPassword(QStringLiteral("bench-password"));
  }

  // Seconds that `step` takes end to end: the image detached first, so the
  // engine attaches it (and detaches it again) itself; attached again after,
  // for the tar commands. `mountSeconds` gets the time an attach and a
  // detach take by themselves, measured right after.
  double endToEnd(const std::function<void()>& step, double* mountSeconds) {
    BackupVolume::unmount();
    const double seconds = timed(step);
    *mountSeconds = timed([] {
      static_cast<void>(BackupVolume::mount(QStringLiteral("bench-password")));
      BackupVolume::unmount();
    });
    static_cast<void>(BackupVolume::mount(QStringLiteral("bench-password")));
    return seconds;
  }
  ~Setup() {
    BackupVolume::unmount();
    qputenv("HOME", oldHome);
  }
};

bool backUp(BackupEngine& engine, const AgentEntry& agent) {
  bool done = false;
  bool ok = false;
  engine.runBackup({agent}, [&](const BackupEngine::Result& r) {
    done = true;
    ok = r.ok();
  });
  waitFor(done);
  return ok;
}

bool restoreAll(RestoreEngine& engine) {
  bool done = false;
  bool ok = false;
  const bool started = engine.restoreAll([&](const Expected<RestoreReport, RestoreError>& restored) {
    done = true;
    ok = restored.ok();
  });
  if (!started) return false;
  waitFor(done);
  return ok;
}

// Backup against `tar -I pigz -cf` (the same parallel gzip) and `tar czf`,
// each writing the same folder into the same mounted image.
void Backup(benchmark::State& state, DataSet set) {
  Setup setup(set);
  if (!setup.ok) {
    state.SkipWithError("no encrypted image (gocryptfs/FUSE missing?)");
    return;
  }
  BackupEngine engine(SnapshotVolume::standard());
  const QString mount = BackupVolume::mountPoint();
  const QString baseline = mount + "/baseline.tar.gz";
  Rounds figures;
  qint64 peak = 0;
  const double loadBefore = loadAverage();
  for (auto _ : state) {
    for (int round = 0; round < rounds(); ++round) {
      double engineSeconds = 0, mountSeconds = 0;
      auto engineStep = [&] {
        resetPeak();
        engineSeconds = setup.endToEnd(
            [&] {
              if (!backUp(engine, setup.agent)) state.SkipWithError("backup failed");
            },
            &mountSeconds);
        peak = std::max(peak, peakResidentKiB());
      };
      TarCost tarCost;
      auto pigz = [&] {
        const double s =
            timed([&] { tarCost = runTar({"-I", "pigz", "-cf", baseline, "-C", setup.home.path(), ".benchagent"}); });
        QFile::remove(baseline);
        return s;
      };
      double pigzSeconds = 0, walkCpu = 0;
      if (round % 2 == 0) {
        engineStep();
        walkCpu = walkCpuSeconds(setup.agent);
        pigzSeconds = pigz();
      } else {
        pigzSeconds = pigz();
        walkCpu = walkCpuSeconds(setup.agent);
        engineStep();
      }
      const double czfSeconds = timed([&] { runTar({"czf", baseline, "-C", setup.home.path(), ".benchagent"}); });
      QFile::remove(baseline);
      printRound("Backup", set, "", round, engineSeconds, mountSeconds, "tar -I pigz -cf", pigzSeconds);
      fprintf(stderr, "  CPU: engine's walk %.3f s, tar without pigz %.3f s, ratio %.2f (pigz under tar %.3f s)\n",
              walkCpu, tarCost.ownCpu, walkCpu / tarCost.ownCpu, tarCost.compressorCpu);
      figures.add("walk_cpu_s", walkCpu);
      figures.add("tar_cpu_s", tarCost.ownCpu);
      figures.add("walk_vs_tar_cpu", walkCpu / tarCost.ownCpu);
      figures.add("backup_s", engineSeconds);
      figures.add("mount_s", mountSeconds);
      figures.add("tar_pigz_s", pigzSeconds);
      figures.add("vs_pigz_without_mount", (engineSeconds - mountSeconds) / pigzSeconds);
      figures.add("tar_czf_s", czfSeconds);
      figures.add("vs_pigz", engineSeconds / pigzSeconds);
      figures.add("vs_czf", engineSeconds / czfSeconds);
    }
    state.SetIterationTime(figures.medianOf("backup_s"));
  }
  figures.report(state, {"vs_pigz", "vs_czf", "vs_pigz_without_mount", "walk_vs_tar_cpu"});
  state.counters["peak_rss_MiB"] = peak / 1024.0;
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = loadAverage();
}

// Restore of all agents against `tar xzf` of the same archive: into a home
// folder where the agent's folder is gone (the restore after a loss) against
// tar into an empty folder, and over the agent's folder as it stands (every
// file replaced) against tar over the files it unpacked before.
// Removing a tree of this size costs disk work that lands on whatever step
// comes next, even after a flush; so the rounds set what they replace aside
// by renaming it, and nothing is removed before every run is over.
void Restore(benchmark::State& state, DataSet set) {
  Setup setup(set);
  if (!setup.ok) {
    state.SkipWithError("no encrypted image (gocryptfs/FUSE missing?)");
    return;
  }
  BackupEngine backup(SnapshotVolume::standard());
  if (!backUp(backup, setup.agent)) {
    state.SkipWithError("backup failed");
    return;
  }
  const auto registry = std::get<std::shared_ptr<const AgentRegistry>>(RegistryLoader::loadData(
      R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"benchagent","displayName":"b","vendor":"v",
      "kind":"cli","identify":{},"backup":{"includePaths":["~/.benchagent"]}}]})"));
  RestoreEngine engine(SnapshotVolume::standard());
  engine.setRegistry(registry);
  const QString archive = BackupStorage::listSnapshots().value(0) + "/backup.tar.gz";
  const QString aside = setup.home.path() + "/set-aside";
  QDir().mkpath(aside);
  Rounds figures;
  qint64 peak = 0;
  const double loadBefore = loadAverage();
  double mountSeconds = 0;
  auto engineStep = [&] {
    resetPeak();
    const double s = setup.endToEnd(
        [&] {
          if (!restoreAll(engine)) state.SkipWithError("restore failed");
        },
        &mountSeconds);
    peak = std::max(peak, peakResidentKiB());
    return s;
  };
  auto tarStep = [&](const QString& into) { return timed([&] { runTar({"xzf", archive, "-C", into}); }); };
  for (auto _ : state) {
    QString into;
    for (int round = 0; round < rounds(); ++round) {
      // The agent's folder and tar's folder of the round before go aside.
      QDir().rename(setup.data, aside + QStringLiteral("/agent-%1").arg(round));
      into = aside + QStringLiteral("/tar-%1").arg(round);
      QDir().mkpath(into);
      double intoEmpty = 0, tarEmpty = 0;
      if (round % 2 == 0) {
        intoEmpty = engineStep();
        tarEmpty = tarStep(into);
      } else {
        tarEmpty = tarStep(into);
        intoEmpty = engineStep();
      }
      printRound("Restore", set, "into an empty folder", round, intoEmpty, mountSeconds, "tar xzf", tarEmpty);
      figures.add("restore_s", intoEmpty);
      figures.add("mount_s", mountSeconds);
      figures.add("tar_xzf_s", tarEmpty);
      figures.add("vs_xzf", intoEmpty / tarEmpty);
      figures.add("vs_xzf_without_mount", (intoEmpty - mountSeconds) / tarEmpty);
    }
    // Over standing folders: the agent's folder and tar's last one. tar over
    // its own files can take minutes a round on a busy disk: TLR_BENCH_OVER=0
    // leaves these rounds out.
    const bool overRounds = qEnvironmentVariable("TLR_BENCH_OVER") != QLatin1String("0");
    for (int round = 0; overRounds && round < rounds(); ++round) {
      double over = 0, tarOver = 0;
      if (round % 2 == 0) {
        over = engineStep();
        tarOver = tarStep(into);
      } else {
        tarOver = tarStep(into);
        over = engineStep();
      }
      printRound("Restore", set, "over the standing files", round, over, mountSeconds, "tar xzf over its own", tarOver);
      figures.add("restore_over_s", over);
      figures.add("mount_over_s", mountSeconds);
      figures.add("tar_xzf_over_s", tarOver);
      figures.add("over_vs_xzf_over", over / tarOver);
    }
    state.SetIterationTime(figures.medianOf("restore_s"));
  }
  figures.report(state, {"vs_xzf", "vs_xzf_without_mount", "over_vs_xzf_over"});
  state.counters["peak_rss_MiB"] = peak / 1024.0;
  state.counters["load_before"] = loadBefore;
  state.counters["load_after"] = loadAverage();
}

// The size of the archive when three agents name one folder of `megabytes`
// MB of random data (which does not compress): each folder is stored once,
// so the archive holds the data about once.
void SharedFolder(benchmark::State& state) {
  Setup setup(DataSet{-1});
  if (!setup.ok) {
    state.SkipWithError("no encrypted image (gocryptfs/FUSE missing?)");
    return;
  }
  const int megabytes = static_cast<int>(state.range(0));
  const QString shared = setup.home.path() + "/.shared";
  generateRandomData(shared, megabytes);
  QList<AgentEntry> agents;
  for (const char* id : {"maker-cli", "maker-desktop", "maker-ide"}) {
    AgentEntry agent;
    agent.id = QString::fromLatin1(id);
    agent.displayName = agent.id;
    agent.backup = AgentEntry::BackupSpec{};
    agent.backup->includePaths = QStringList{QStringLiteral("~/.shared")};
    agents << agent;
  }
  BackupEngine engine(SnapshotVolume::standard());
  for (auto _ : state) {
    bool done = false, ok = false;
    QElapsedTimer t;
    t.start();
    engine.runBackup(agents, [&](const BackupEngine::Result& r) {
      done = true;
      ok = r.ok();
    });
    waitFor(done);
    state.SetIterationTime(t.elapsed() / 1000.0);
    if (!ok) state.SkipWithError("backup failed");
  }
  const QString archive = BackupStorage::listSnapshots().value(0) + "/backup.tar.gz";
  state.counters["data_MiB"] = megabytes;
  state.counters["archive_MiB"] = QFileInfo(archive).size() / double(kMiB);
  state.counters["archive_vs_data"] = QFileInfo(archive).size() / double(megabytes * kMiB);
}

BENCHMARK_CAPTURE(Backup, agent_60MB, DataSet{60})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Backup, agent_120MB, DataSet{120})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Backup, files_40k, DataSet{0})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Restore, agent_60MB, DataSet{60})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Restore, agent_120MB, DataSet{120})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Restore, files_40k, DataSet{0})->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SharedFolder)->Arg(10)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const QString& home : homesToRemove()) static_cast<void>(FileOps::removeItem(home));  // temporary homes
  QDir().rmdir(homesFolder());
  return 0;
}
