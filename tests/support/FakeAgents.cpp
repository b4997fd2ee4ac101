#include "FakeAgents.h"

#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>

namespace tlr::test {
namespace {

const char* const kLedgerVariable = "FAKE_AGENT_PID_LEDGER";

}  // namespace

QString copyFakeAgent(const QString& dir, const QString& name) {
  QDir().mkpath(dir);
  const QString path = dir + "/" + name;
  EXPECT_TRUE(QFile::copy(toolPath("tlr_fake_agent"), path));
  QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return path;
}

QString uniqueAgentName(const QString& stem) {
  return stem + "-" + QUuid::createUuid().toString(QUuid::Id128).left(10);
}

namespace {

// Whether the `field` mask of /proc/<pid>/status ("SigIgn:", "SigCgt:")
// holds `signal` before a short deadline.
bool waitUntilStatusMaskHolds(pid_t pid, int signal, QLatin1String field) {
  const QString statusPath = QStringLiteral("/proc/%1/status").arg(pid);
  const quint64 bit = quint64{1} << (signal - 1);
  return waitUntil([&] {
    for (const QString& line : readFile(statusPath).split('\n')) {
      if (line.startsWith(field)) return (line.mid(field.size()).trimmed().toULongLong(nullptr, 16) & bit) != 0;
    }
    return false;
  });
}

}  // namespace

bool waitUntilIgnoring(pid_t pid, int signal) { return waitUntilStatusMaskHolds(pid, signal, QLatin1String("SigIgn:")); }

bool waitUntilCatching(pid_t pid, int signal) { return waitUntilStatusMaskHolds(pid, signal, QLatin1String("SigCgt:")); }

void addFakeTerminal(FakeBin& bin, bool runs) {
  // "$4" is the text of "-e /bin/sh -c <text>". The shell stays the parent
  // of what it starts, so the started agent's exit is reaped at once.
  bin.add("x-terminal-emulator", QStringLiteral("printf '%s\\n' \"$PWD\" >> '%1.cwd'\nprintf '%s\\n' \"$4\" >> '%1'\n%2")
                                     .arg(bin.recordPath("x-terminal-emulator"),
                                          runs ? QStringLiteral("shift\n\"$@\"\n") : QString()));
}

void addHoldingTerminal(FakeBin& bin) {
  // argv: -e /bin/sh -c <text>.
  bin.add("x-terminal-emulator", QStringLiteral(R"(#!/usr/bin/python3
import os, pty, sys
record = '%1'
with open(record + '.cwd', 'a') as f:
    f.write(os.getcwd() + '\n')
with open(record, 'a') as f:
    f.write(sys.argv[4] + '\n')
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[2], sys.argv[2:])
with open(record + '.screen', 'ab') as screen:
    while True:
        try:
            data = os.read(fd, 4096)
        except OSError:
            break
        if not data:
            break
        screen.write(data)
        screen.flush()
os.waitpid(pid, 0)
)")
                                     .arg(bin.recordPath("x-terminal-emulator")));
}

QStringList terminalFolders(const FakeBin& bin, int count) {
  const QString record = bin.recordPath("x-terminal-emulator") + ".cwd";
  auto lines = [&] { return readFile(record).split('\n', Qt::SkipEmptyParts); };
  EXPECT_TRUE(waitUntil([&] { return lines().size() >= count; }, std::chrono::seconds(5)));
  return lines();
}

QStringList terminalTexts(const FakeBin& bin, int count) {
  const QString record = bin.recordPath("x-terminal-emulator");
  auto lines = [&] { return readFile(record).split('\n', Qt::SkipEmptyParts); };
  EXPECT_TRUE(waitUntil([&] { return lines().size() >= count; }, std::chrono::seconds(5)));
  return lines();
}

FakeAgentLedger::FakeAgentLedger(const QString& path) : path_(path), savedVariable_(qgetenv(kLedgerVariable)) {
  qputenv(kLedgerVariable, QFile::encodeName(path_));
}

FakeAgentLedger::~FakeAgentLedger() {
  killAll();
  if (savedVariable_.isNull())
    qunsetenv(kLedgerVariable);
  else
    qputenv(kLedgerVariable, savedVariable_);
}

pid_t FakeAgentLedger::start(const QString& program, const QStringList& arguments, const QString& workingFolder) {
  const QList<pid_t> before = pids();
  QProcess process;
  process.setProgram(program);
  process.setArguments(arguments);
  process.setWorkingDirectory(workingFolder);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  if (!process.startDetached()) return 0;
  return waitForNew(before);
}

QList<FakeAgentLedger::Entry> FakeAgentLedger::entries() const {
  QList<Entry> listed;
  for (const QString& line : readFile(path_).split('\n', Qt::SkipEmptyParts)) {
    const QStringList fields = line.split(' ');
    bool pidOk = false, ticksOk = false;
    const int pid = fields.value(0).toInt(&pidOk);
    const qulonglong ticks = fields.value(1).toULongLong(&ticksOk);
    if (pidOk && ticksOk && pid > 0) listed.push_back({static_cast<pid_t>(pid), ticks});
  }
  return listed;
}

QList<pid_t> FakeAgentLedger::pids() const {
  QList<pid_t> listed;
  for (const Entry& entry : entries()) listed << entry.pid;
  return listed;
}

bool FakeAgentLedger::Entry::runs() const {
  const std::optional<ProcessInfo> process = ProcessTable::read(pid);
  return process && process->startTicks == startTicks;
}

pid_t FakeAgentLedger::waitForNew(const QList<pid_t>& known, std::chrono::milliseconds timeout) const {
  pid_t found = 0;
  waitUntil(
      [&] {
        for (const Entry& entry : entries())
          if (!known.contains(entry.pid) && entry.runs()) found = entry.pid;
        return found != 0;
      },
      timeout);
  return found;
}

void FakeAgentLedger::killAll() {
  if (!QFile::exists(path_)) return;
  using namespace std::chrono_literals;
  // Quiet: for a second none of the listed processes ran and none joined.
  constexpr auto kQuiet = 1s;
  QDeadlineTimer quietUntil(kQuiet);
  qsizetype listed = -1;
  waitUntil(
      [&] {
        const QList<Entry> all = entries();
        bool active = all.size() != listed;
        listed = all.size();
        for (const Entry& entry : all) {
          // A listed number that another process has since taken is not
          // ours to end: only that very start is signalled.
          const int sent = ProcessSignals::sendIf(entry.pid, SIGKILL, [&](pid_t) { return entry.runs(); });
          if (sent == 0) active = true;
        }
        if (active) quietUntil.setRemainingTime(kQuiet);
        return quietUntil.hasExpired();
      },
      15s);
}

}  // namespace tlr::test
