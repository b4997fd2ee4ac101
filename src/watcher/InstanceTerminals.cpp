#include "watcher/InstanceTerminals.h"

#include "platform/LoginShell.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "platform/TerminalLauncher.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace tlr {
namespace {

using namespace std::chrono_literals;

// A window whose shell is not seen by then was closed by the user (or never
// started): it is forgotten.
constexpr auto kShellSeenWithin = 60s;

// Whether `argv` is the shell of the window whose status file is
// `endedFile`: "/bin/sh -c <line naming the file>".
bool isShellOf(const QStringList& argv, const QString& endedFile) {
  return argv.size() >= 3 && argv.at(1) == QLatin1String("-c") && argv.at(2).contains(endedFile);
}

// How often a wait for windows looks at the process table.
constexpr auto kSettlePoll = 100ms;

// The shell of the window whose status file is `endedFile`, in `table`.
// Whether `process` of `table` is this user's shell of that window.
bool isWindowShell(const ProcessTable& table, const ProcessInfo& process, const QString& endedFile) {
  return process.uid == ::getuid() && process.name == QLatin1String("sh") &&
         isShellOf(table.argumentsOf(process), endedFile);
}

const ProcessInfo* shellOf(const ProcessTable& table, const QString& endedFile) {
  for (const ProcessInfo& process : table.processes())
    if (isWindowShell(table, process, endedFile)) return &process;
  return nullptr;
}

}  // namespace

InstanceTerminals& InstanceTerminals::shared() {
  static InstanceTerminals* terminals = new InstanceTerminals;  // used until the process ends
  return *terminals;
}

QString InstanceTerminals::statusWords(const QString& endedFile) {
  return QStringLiteral("printf '%s\\n' \"$tlr_status\" > ") + shellQuote(endedFile);
}

std::optional<int> InstanceTerminals::endedStatus(const QString& endedFile) {
  if (endedFile.isEmpty()) return std::nullopt;
  QFile file(endedFile);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  bool ok = false;
  const int status = QString::fromLatin1(file.read(16)).trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return status;
}

int InstanceTerminals::closeEnded(const QString& agentId, const QString& folder, const QString& keep) {
  std::vector<Window> known;
  {
    std::lock_guard guard(mutex_);
    const auto found = windows_.find({agentId, folder});
    if (found == windows_.end()) return 0;
    known = found->second;
  }
  const auto now = std::chrono::steady_clock::now();
  // The shells of our windows, by their status file.
  const ProcessTable table = ProcessTable::snapshot();
  int closed = 0;
  std::vector<QString> gone;
  for (const Window& window : known) {
    if (window.endedFile == keep) continue;
    const bool ended = endedStatus(window.endedFile).has_value();
    bool seen = false;
    for (const ProcessInfo& process : table.processes()) {
      if (!isWindowShell(table, process, window.endedFile)) continue;
      seen = true;
      if (!ended) break;
      // Asked again while the number is held: still that window's shell.
      const int sent = ProcessSignals::sendIf(process.pid, SIGHUP, [&](pid_t pid) {
        return isShellOf(ProcessTable::arguments(pid), window.endedFile);
      });
      if (sent == 0) ++closed;
    }
    if (ended || (!seen && now - window.opened > kShellSeenWithin)) gone.push_back(window.endedFile);
  }
  for (const QString& file : gone) QFile::remove(file);
  std::lock_guard guard(mutex_);
  auto& windows = windows_[{agentId, folder}];
  std::erase_if(windows, [&](const Window& w) { return std::find(gone.begin(), gone.end(), w.endedFile) != gone.end(); });
  if (windows.empty()) windows_.erase({agentId, folder});
  return closed;
}

void InstanceTerminals::waitUntilSettled(const QStringList& endedFiles, std::chrono::milliseconds settle,
                                         std::chrono::milliseconds opensWithin) {
  using Clock = std::chrono::steady_clock;
  const auto asked = Clock::now();
  std::map<QString, Clock::time_point> seenAt;  // each window's shell, when first seen
  QStringList waiting;
  for (const QString& file : endedFiles)
    if (!file.isEmpty()) waiting << file;
  while (!waiting.isEmpty()) {
    const ProcessTable table = ProcessTable::snapshot();
    const auto now = Clock::now();
    QStringList still;
    for (const QString& file : std::as_const(waiting)) {
      if (endedStatus(file)) continue;
      if (shellOf(table, file)) seenAt.try_emplace(file, now);
      const auto seen = seenAt.find(file);
      if (seen == seenAt.end() ? now - asked < opensWithin : now - seen->second < settle) still << file;
    }
    waiting = still;
    if (!waiting.isEmpty() && !OffMainPool::pause(std::chrono::duration_cast<std::chrono::milliseconds>(kSettlePoll)))
      return;
  }
}

Expected<QString, QString> InstanceTerminals::open(const QString& agentId, const QString& folder,
                                                   const LineMaker& makeLine) {
  closeEnded(agentId, folder);
  const QString endedFile = Paths::runtimeFolder() + QStringLiteral("/tlr-ended-") +
                            QUuid::createUuid().toString(QUuid::Id128);
  const TerminalLauncher::Result started = TerminalLauncher::run(makeLine(endedFile), folder);
  if (!started) return Unexpected(started.error());
  std::lock_guard guard(mutex_);
  windows_[{agentId, folder}].push_back({endedFile, std::chrono::steady_clock::now()});
  return endedFile;
}

}  // namespace tlr
