#include "watcher/ProcessScanner.h"

#include "platform/ArgumentReader.h"
#include "platform/ChildProcess.h"
#include "platform/Log.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "platform/Paths.h"
#include "platform/UserPrograms.h"
#include "platform/MainThread.h"

#include <QFileInfo>
#include <QHash>
#include <QProcessEnvironment>

#include <chrono>
#include <mutex>
#include <unistd.h>

namespace tlr {
namespace {

// npm and pipx are asked off the main thread, so a slow answer (a registry
// on the network, a cold disk) holds nothing: it is waited for a while.
constexpr auto kQueryTimeout = std::chrono::seconds(30);
constexpr int kAncestorSteps = 8;

// Runs a short query with the user's program folders before PATH, the
// version managers' before the system's (an npm of nvm or fnm runs only with
// its own node first); its standard output when it exits with 0.
std::optional<QString> runCommandOnce(const QStringList& argv) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PATH"), UserPrograms::searchPath(env.value(QStringLiteral("PATH"))));
  ChildSpec spec;
  spec.program = argv.first();
  spec.arguments = argv.mid(1);
  spec.environment = env.toStringList();
  spec.timeout = kQueryTimeout;
  spec.killGrace = std::chrono::seconds(1);
  const ChildResult r = runChild(spec);
  if (!r.started || r.timedOut || !r.exited() || r.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(r.out);
}

// The folders that npm and pipx name.
QStringList askToolFolders() {
  QStringList out;
  if (const auto prefix = runCommandOnce({"/usr/bin/env", "npm", "config", "get", "prefix"})) {
    const QString p = prefix->trimmed();
    if (!p.isEmpty()) out << p + QStringLiteral("/bin");
  }
  if (const auto pipx = runCommandOnce({"/usr/bin/env", "pipx", "environment", "--value", "PIPX_BIN_DIR"})) {
    const QString p = pipx->trimmed();
    if (!p.isEmpty()) out << p;
  }
  return out;
}

// npm's and pipx's answers, asked once per process on the off-main pool.
// Never destroyed: the question may still run while the process ends.
struct ToolFolders {
  std::mutex lock;
  bool asked = false;
  // This user's program folders (UserPrograms::folders()), once npm and
  // pipx have answered.
  std::optional<QStringList> folders;
  // Told on the main thread once the answers are in, each while its
  // context lives.
  QList<std::function<void()>> waiting;

  static ToolFolders& instance() {
    static ToolFolders* folders = new ToolFolders;
    return *folders;
  }

  // The answers so far (none before they are in); the first call asks.
  std::optional<QStringList> known() {
    std::lock_guard guard(lock);
    if (!asked) {
      asked = true;
      startOffMain(
          nullptr,
          [this] {
            UserPrograms::setToolFolders(askToolFolders());
            answer(UserPrograms::folders());
          },
          [this] { tellWaiting(); });
    }
    return folders;
  }

  void answer(const QStringList& found) {
    {
      std::lock_guard guard(lock);
      folders = found;
    }
    QStringList sorted = ProcessScanner::cliSearchPaths();
    sorted.sort();
    log("[Scanner] ", QStringLiteral("cliSearchPaths: ") + quotedList(sorted));
  }

  void tellWaiting() {
    QList<std::function<void()>> tell;
    {
      std::lock_guard guard(lock);
      tell.swap(waiting);
    }
    for (const auto& done : tell) done();
  }

  void whenKnown(QObject* context, std::function<void()> done) {
    known();
    std::lock_guard guard(lock);
    if (folders) {
      // On a later turn, as when they were still being asked.
      runOnMain(whileAlive(context, std::move(done)));
      return;
    }
    waiting.append(whileAlive(context, std::move(done)));
  }
};

}  // namespace

ProcessScanner::ProcessScanner(std::shared_ptr<const AgentRegistry> registry, Runs runs)
    : registry_(std::move(registry)), runs_(runs) {
  for (const AgentEntry& entry : registry_->visibleAgents())
    for (const QString& name : entry.identify.executableNames.value_or(QStringList{})) executableNames_.insert(name);
}

bool ProcessScanner::isInterpreterName(const QString& name) {
  static const QSet<QString> names{"python", "python3", "Python", "Python3", "node", "nodejs",
                                   "deno",   "bun",     "bash",   "sh",      "zsh",  "fish",
                                   "ruby",   "perl",    "php",    "uv",      "uvx"};
  if (names.contains(name)) return true;
  return name.contains(QLatin1String("python"), Qt::CaseInsensitive) ||
         name.contains(QLatin1String("node"), Qt::CaseInsensitive);
}

QStringList ProcessScanner::cliSearchPaths() {
  // The fixed folders of the current home, then the others as they were
  // asked.
  QStringList paths = UserPrograms::fixedFolders();
  for (const QString& folder : ToolFolders::instance().known().value_or(QStringList()) + UserPrograms::systemFolders())
    if (!paths.contains(folder)) paths << folder;
  return paths;
}

void ProcessScanner::whenToolFoldersKnown(QObject* context, std::function<void()> done) {
  ToolFolders::instance().whenKnown(context, std::move(done));
}

bool ProcessScanner::isCliInstalled(const QString& name) {
  if (name.isEmpty() || name.contains('/')) return false;
  for (const QString& dir : cliSearchPaths())
    if (QFileInfo::exists(dir + '/' + name)) return true;
  return false;
}

bool ProcessScanner::shouldExclude(const AgentEntry& entry, const QStringList& argv) {
  return AgentRegistry::isExcluded(entry.identify, argv);
}

bool ProcessScanner::isSessionOfProgram(const AgentEntry& entry, const QStringList& argv) {
  return !shouldExclude(entry, argv) && AgentRegistry::holdsAllOf(entry.identify, argv) &&
         !AgentRegistry::isOneShot(entry.identify, ownArguments(argv));
}

bool ProcessScanner::startsSession(const AgentEntry& entry, const QStringList& command) {
  if (command.isEmpty() || !entry.identify.executableNames) return false;
  QStringList argv = command;
  argv[0] = ArgumentReader::programName(command.first());
  return entry.identify.executableNames->contains(argv.first()) && isSessionOfProgram(entry, argv);
}

bool ProcessScanner::isInstalled(const AgentEntry& entry) {
  const AgentEntry::Identify& id = entry.identify;
  if (id.bundleIds && !id.bundleIds->isEmpty()) {
    // applicationPath() answers only for a program that is on disk.
    return std::any_of(id.bundleIds->cbegin(), id.bundleIds->cend(),
                       [](const QString& b) { return Workspace::applicationPath(b).has_value(); });
  }
  if (entry.launchdLabel && isManagedByLaunchd(*entry.launchdLabel)) return true;
  return id.executableNames &&
         std::any_of(id.executableNames->cbegin(), id.executableNames->cend(), &ProcessScanner::isCliInstalled);
}

QList<AgentEntry> ProcessScanner::scanInstalledAgents() const {
  QList<AgentEntry> installed;
  for (const AgentEntry& entry : registry_->visibleAgents())
    if (isInstalled(entry)) installed << entry;
  return installed;
}

QList<RunningAgent> ProcessScanner::scanGUI(const ProcessTable& table) const {
  QList<RunningAgent> records;
  for (const Workspace::RunningApplication& app : Workspace::runningApplications(table)) {
    for (const AgentEntry& entry : registry_->visibleAgents()) {
      const auto& bundleIds = entry.identify.bundleIds;
      if (!bundleIds || !bundleIds->contains(app.bundleId)) continue;
      RunningAgent r;
      r.entry = entry;
      r.pid = app.pid;
      r.bundleId = app.bundleId;
      r.launchDate = app.launchDate;
      r.app = app;
      records << std::move(r);
      break;
    }
  }
  return records;
}

std::optional<AgentEntry> ProcessScanner::matchCommandLine(const ProcessTable& table,
                                                           const ProcessInfo& process) const {
  if (!executableNames_.contains(process.name) && !isInterpreterName(process.name)) return std::nullopt;
  return identify(process.name, table.argumentsOf(process));
}

std::optional<ProcessScanner::Script> ProcessScanner::scriptIn(const QStringList& argv) {
  // The interpreters' options that take a value; code given inline
  // ("sh -c '…; claude'", "node -e …") runs no script, and "python -m
  // <module>" runs the module as its script.
  static const ArgumentGrammar interpreter{{"-c", "-e", "-p", "--eval", "--print", "-m", "-r", "--require", "--import",
                                            "--loader", "--experimental-loader", "-C", "--conditions", "--title",
                                            "--env-file", "--input-type", "-W", "-X"},
                                           {},
                                           {}};
  static const QStringList inlineCode{"-c", "-e", "-p", "--eval", "--print"};
  const ArgumentReader read(argv.mid(1), interpreter);
  const qsizetype word = read.words().isEmpty() ? argv.size() : read.words().first().index;
  for (const ArgumentReader::Option& option : read.options()) {
    if (option.index > word) break;
    if (inlineCode.contains(option.name)) return std::nullopt;
    if (option.name == QLatin1String("-m") && !option.values.isEmpty()) return Script{option.last + 1, option.values.first()};
  }
  if (read.words().isEmpty()) return std::nullopt;
  return Script{word + 1, read.words().first().text};
}

QString ProcessScanner::scriptOf(const QStringList& argv) {
  const std::optional<Script> script = scriptIn(argv);
  if (!script) return {};
  return ArgumentReader::programName(script->path);
}

QStringList ProcessScanner::ownArguments(const QStringList& argv) {
  if (argv.isEmpty()) return {};
  const QString first = ArgumentReader::programName(argv.first());
  if (!isInterpreterName(first)) return argv.mid(1);
  // `node <prefix>/bin/claude -p hi`: what follows the script.
  const std::optional<Script> script = scriptIn(argv);
  return script ? argv.mid(script->index + 1) : QStringList();
}

std::optional<AgentEntry> ProcessScanner::identify(const QString& name, const QStringList& argv) const {
  // Known by the name it was started under; a session only when the entry's
  // own argument rules say so.
  const auto byName = [&](const QString& started) -> std::optional<AgentEntry> {
    auto entry = registry_->lookupExecutableName(started);
    if (!entry || (runs_ == Runs::sessions && !isSessionOfProgram(*entry, argv))) return std::nullopt;
    return entry;
  };
  if (executableNames_.contains(name)) return byName(name);
  if (!isInterpreterName(name) || argv.isEmpty()) return std::nullopt;
  // An interpreter running an agent's script under the agent's name: npm and
  // pipx put a program's entry at <prefix>/bin/<name>, and its
  // "#!/usr/bin/env node" line starts it as `node <prefix>/bin/<name>`,
  // keeping that path in the arguments.
  if (const QString script = scriptOf(argv); executableNames_.contains(script)) return byName(script);
  std::optional<AgentEntry> entry = registry_->lookupArgv(argv);
  // The agent's program run once ("node …/cli.js -p hi") is no session.
  if (entry && runs_ == Runs::sessions && AgentRegistry::isOneShot(entry->identify, ownArguments(argv)))
    return std::nullopt;
  return entry;
}

QList<RunningAgent> ProcessScanner::scanCLI(const ProcessTable& table, const QSet<pid_t>& skipping) const {
  QList<RunningAgent> records;
  for (const ProcessInfo& process : table.processes()) {
    if (skipping.contains(process.pid)) continue;
    auto entry = matchCommandLine(table, process);
    if (!entry) continue;
    RunningAgent r;
    r.entry = std::move(*entry);
    r.pid = process.pid;
    r.launchDate = process.startTime;
    records << std::move(r);
  }
  return records;
}

std::optional<QString> ProcessScanner::parentBundleId(pid_t pid, const ProcessTable& table) {
  pid_t current = pid;
  for (int step = 0; step < kAncestorSteps; ++step) {
    const ProcessInfo* known = table.find(current);
    const std::optional<ProcessInfo> fresh = known ? std::nullopt : ProcessTable::read(current);
    const ProcessInfo* info = known ? known : (fresh ? &*fresh : nullptr);
    if (!info || info->ppid < 2) return std::nullopt;
    const pid_t parent = info->ppid;
    const ProcessInfo* parentInfo = table.find(parent);
    const std::optional<ProcessInfo> parentFresh = parentInfo ? std::nullopt : ProcessTable::read(parent);
    if (!parentInfo && parentFresh) parentInfo = &*parentFresh;
    if (parentInfo) {
      if (auto bundleId = Workspace::bundleIdOfProgram(parentInfo->exePath)) return bundleId;
    }
    current = parent;
  }
  return std::nullopt;
}

std::optional<QString> ProcessScanner::parentBundleId(pid_t pid) {
  return parentBundleId(pid, ProcessTable());
}

ProcessTable ProcessScanner::readProcessTable() const {
  // Processes that may be agents are read afresh at every scan, so an exit
  // or a zombie is never missed; the rest of the machine only now and then.
  const QSet<QString> programs = Workspace::applicationPrograms();
  return ProcessTable::snapshotReusing([&](const ProcessInfo& p) {
    return executableNames_.contains(p.name) || isInterpreterName(p.name) ||
           (!p.exePath.isEmpty() && programs.contains(p.exePath));
  });
}

QList<RunningAgent> ProcessScanner::scanAll() const {
  OwnCommands& own = OwnCommands::shared();
  const ProcessTable table = readProcessTable();
  QList<RunningAgent> records = scanGUI(table);
  QSet<pid_t> guiPids;
  for (const RunningAgent& r : records) guiPids.insert(r.pid);
  records += scanCLI(table, guiPids);
  // A command we run to check or change an agent ("claude doctor"), and all
  // it started, is never the agent, however it is named.
  // Only this user's own processes: another user's agent is theirs to
  // supervise, never ours to count, record or signal.
  const uid_t me = ::getuid();
  records.removeIf([&](const RunningAgent& r) {
    const ProcessInfo* process = table.find(r.pid);
    return !process || process->uid != me || own.isOurs(r.pid);
  });
  markInstances(records, table);

  for (RunningAgent& r : records) {
    if (!r.entry.launchdLabel) continue;
    r.launchdManaged = isManagedByLaunchd(*r.entry.launchdLabel);
    if (r.launchdManaged)
      log("[Scanner] ", QStringLiteral("%1 由 launchd 守护中 (label=%2) → UI 应显示「已守护·后台稳定运行中」")
                            .arg(r.entry.displayName, *r.entry.launchdLabel));
  }

  QHash<QString, QString> agentByBundle;
  for (const RunningAgent& r : records)
    if (r.bundleId) agentByBundle.insert(*r.bundleId, r.entry.id);
  if (agentByBundle.isEmpty()) return records;
  for (RunningAgent& r : records) {
    if (r.bundleId) continue;
    const auto parentBundle = parentBundleId(r.pid, table);
    if (!parentBundle || !agentByBundle.contains(*parentBundle)) continue;
    r.parentAgentId = agentByBundle.value(*parentBundle);
    log("[Scanner] ", QStringLiteral("%1 (pid=%2) 是 %3 的内嵌 CLI（父 bundleId=%4）")
                          .arg(r.entry.displayName, QString::number(r.pid), *r.parentAgentId, *parentBundle));
  }
  return records;
}

void ProcessScanner::markInstances(QList<RunningAgent>& records, const ProcessTable& table) {
  QHash<pid_t, QString> agentOf;
  for (const RunningAgent& r : records) agentOf.insert(r.pid, r.entry.id);
  for (RunningAgent& r : records) {
    r.instancePid = r.pid;
    const ProcessInfo* process = table.find(r.pid);
    for (int step = 0; process && step < kAncestorSteps; ++step) {
      const pid_t parent = process->ppid;
      if (parent < 2) break;
      if (agentOf.value(parent) == r.entry.id) r.instancePid = parent;
      process = table.find(parent);
    }
    if (QString folder = ProcessTable::workingFolder(r.pid); !folder.isEmpty()) r.workingFolder = std::move(folder);
  }
}

QList<RunningAgent> ProcessScanner::instancesOf(const QList<RunningAgent>& all, const QString& agentId) {
  // Each instance by its own first process where the scan has it, else by
  // the first of its helpers.
  QList<RunningAgent> instances;
  QHash<pid_t, qsizetype> at;
  for (const RunningAgent& r : all) {
    if (r.entry.id != agentId) continue;
    const auto found = at.constFind(r.instancePid);
    if (found == at.constEnd()) {
      at.insert(r.instancePid, instances.size());
      instances << r;
    } else if (r.pid == r.instancePid) {
      instances[*found] = r;
    }
  }
  return instances;
}

QList<RunningAgent> ProcessScanner::scan() const { return firstOfEachAgent(scanAll()); }

QList<pid_t> ProcessScanner::pidsOf(const QString& agentId) const {
  QList<pid_t> pids;
  for (const RunningAgent& running : scanAll())
    if (running.entry.id == agentId && !pids.contains(running.pid)) pids << running.pid;
  return pids;
}

QList<RunningAgent> ProcessScanner::firstOfEachAgent(QList<RunningAgent> all) {
  QList<RunningAgent> unique;
  QSet<QString> seen;
  for (RunningAgent& r : all) {
    if (seen.contains(r.entry.id)) continue;
    seen.insert(r.entry.id);
    unique << std::move(r);
  }
  return unique;
}

}  // namespace tlr
