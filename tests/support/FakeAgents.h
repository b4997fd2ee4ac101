#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <sys/types.h>

namespace tlr::test {

// A copy of the tlr_fake_agent tool at `dir`/`name`: a process the scanner
// knows by that name.
QString copyFakeAgent(const QString& dir, const QString& name);
// A name no other process of the machine has.
QString uniqueAgentName(const QString& stem);
// Whether `pid` ignores `signal` before a short deadline. A fake agent shows
// up in a scan as soon as it runs, before it has set up its signals; a test
// that relies on an ignored SIGTERM waits for this first.
bool waitUntilIgnoring(pid_t pid, int signal);
// Whether `pid` has a handler for `signal` before a short deadline; the same
// for a test that relies on a caught signal.
bool waitUntilCatching(pid_t pid, int signal);

// A fake "x-terminal-emulator" that appends the command text it is given
// (after "-e /bin/sh -c") as one line to recordPath("x-terminal-emulator"),
// and, when `runs`, runs it with /bin/sh as its own child.
void addFakeTerminal(FakeBin& bin, bool runs);
// A fake "x-terminal-emulator" that behaves as xterm does: it records the
// command text and its folder as the one above, runs the text with /bin/sh on
// a pseudo-terminal of its own (so a line that waits for Enter waits), keeps
// what the window shows in recordPath("x-terminal-emulator") + ".screen", and
// closes (ends) when its shell ends.
void addHoldingTerminal(FakeBin& bin);
// The recorded command texts, once `count` are there.
QStringList terminalTexts(const FakeBin& bin, int count = 1);
// The folders the recorded terminals started in, once `count` are there.
QStringList terminalFolders(const FakeBin& bin, int count = 1);

// Every stand-in agent process started while the object lives, by the test
// or by a program under test, appends its pid to one ledger file (the tool
// reads its path from FAKE_AGENT_PID_LEDGER, set for the life of the
// object). The destructor kills each listed pid and sweeps until no new one
// has shown up for a while, so that a relaunch in flight is ended too.
class FakeAgentLedger {
 public:
  explicit FakeAgentLedger(const QString& path);
  ~FakeAgentLedger();
  FakeAgentLedger(const FakeAgentLedger&) = delete;
  FakeAgentLedger& operator=(const FakeAgentLedger&) = delete;

  // Starts `program` detached (not a child of the test, as an agent that a
  // user started is not), in the current environment. Its pid once the
  // ledger lists it, or 0. It works in `workingFolder` (ours when empty).
  pid_t start(const QString& program, const QStringList& arguments = {}, const QString& workingFolder = {});
  // Every pid listed, in the order the processes started.
  QList<pid_t> pids() const;
  // A listed process: its pid and its start time, which tells it apart from
  // a later process that got the same number.
  struct Entry {
    pid_t pid = 0;
    unsigned long long startTicks = 0;
    // Whether that very process still runs.
    bool runs() const;
  };
  QList<Entry> entries() const;
  // The first listed pid that is not in `known` and runs (that very process,
  // not a later one under its number); 0 at the deadline.
  pid_t waitForNew(const QList<pid_t>& known, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // SIGKILL to every listed pid that still runs, until none has run or
  // joined the ledger for a while.
  void killAll();

 private:
  QString path_;
  QByteArray savedVariable_;
};

}  // namespace tlr::test
