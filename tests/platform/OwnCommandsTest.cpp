#include "platform/OwnCommands.h"

#include "platform/ChildProcess.h"
#include "platform/ChildReaper.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <future>

namespace tlr {
namespace {

using Purpose = OwnCommands::Purpose;
using namespace std::chrono_literals;

const QString kAgent = QStringLiteral("tlr-own-commands");

// Runs `line` with /bin/sh for the agent under `purpose`, stopped after
// `limit`; what it printed.
ChildResult runFor(Purpose purpose, const QString& line, std::chrono::milliseconds limit = 10s) {
  const OwnCommands::Scope scope(kAgent, purpose);
  ChildSpec spec;
  spec.program = QStringLiteral("/bin/sh");
  spec.arguments = {QStringLiteral("-c"), line};
  spec.timeout = limit;
  spec.killGrace = 1s;
  return runChild(spec);
}

pid_t pidIn(const QString& file) {
  pid_t pid = 0;
  EXPECT_TRUE(test::waitUntil([&] { return (pid = test::readFile(file).trimmed().toInt()) > 0; }));
  return pid;
}

// Whether `pid` has left its parent's process group and session.
bool inASessionOfItsOwn(pid_t pid) {
  return test::waitUntil([&] {
    const std::optional<ProcessInfo> p = ProcessTable::read(pid);
    return p && p->pgid == pid;
  });
}

TEST(OwnCommands, WhatACheckLeavesStaysOursWhereverItGoesWhatARestartLeavesIsTheAgents) {
  OwnCommands& own = OwnCommands::shared();
  // Each leaves a process that has made a session of its own.
  const QString leave = QStringLiteral("setsid sleep 30 >/dev/null 2>&1 & echo $!");
  const pid_t checked = runFor(Purpose::check, leave).out.trimmed().toInt();
  const pid_t restarted = runFor(Purpose::relaunch, leave).out.trimmed().toInt();
  ASSERT_GT(checked, 0);
  ASSERT_GT(restarted, 0);
  ASSERT_TRUE(inASessionOfItsOwn(checked));
  EXPECT_TRUE(own.isOurs(checked)) << "its command has ended, and it left the group, but it runs on";
  EXPECT_FALSE(own.isOurs(restarted)) << "a daemon a restart started is the agent";

  // The uninstall's clean-up ends it, and only it.
  EXPECT_EQ(own.endCommandsOf(kAgent, 5s), 1);
  EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(checked); }));
  EXPECT_TRUE(ProcessSignals::isAlive(restarted));
  ::kill(restarted, SIGKILL);
  // Nothing of the command runs: it is forgotten, and the next clean-up asks
  // nothing of a number another process may have by now.
  EXPECT_TRUE(test::waitUntil([&] { return own.endCommandsOf(kAgent, 0ms) == 0; }));
}

TEST(OwnCommands, TheTimeLimitEndsWhatTheCommandStartedInASessionOfItsOwn) {
  test::TempHome home;
  const QString file = home.path() + "/escaped";
  const ChildResult result =
      runFor(Purpose::check, "setsid sleep 30 >/dev/null 2>&1 & echo $! > '" + file + "'; exec sleep 30", 1s);
  EXPECT_TRUE(result.timedOut);
  const pid_t escaped = pidIn(file);
  const bool ended = test::waitUntil([&] { return !ProcessSignals::isAlive(escaped); });
  EXPECT_TRUE(ended) << "a process that left the command's session outlived its time limit";
  // Still the one we started (the number is not free while it runs).
  if (!ended) ::kill(escaped, SIGKILL);
}

TEST(OwnCommands, AProcessThatJoinsACommandsGroupIsNeitherOursNorEndedWithIt) {
  test::TempHome home;
  OwnCommands& own = OwnCommands::shared();
  const QString file = home.path() + "/command";
  auto command = std::async(std::launch::async,
                            [&] { return runFor(Purpose::check, "echo $$ > '" + file + "'; exec sleep 30", 30s); });
  const pid_t commandPid = pidIn(file);
  const pid_t group = ProcessTable::read(commandPid)->pgid;
  test::SpawnedChild joiner("/usr/bin/perl", {"-e", "$| = 1; setpgrp(0, $ARGV[0]) or die; print qq(in\\n); sleep 30",
                                              QString::number(group)});
  ASSERT_EQ(joiner.readLine(), "in");
  ASSERT_EQ(ProcessTable::read(joiner.pid())->pgid, group);
  EXPECT_TRUE(own.isOurs(commandPid));
  EXPECT_FALSE(own.isOurs(joiner.pid())) << "joining the group makes no process ours";

  EXPECT_EQ(own.endCommandsOf(kAgent), 1);
  EXPECT_EQ(command.get().termSignal(), SIGTERM);
  EXPECT_TRUE(ProcessSignals::isAlive(joiner.pid())) << "only what descends from the command is signalled";
}

// A check that killed the process that ran it (its keeper) left a process of
// a session of its own under init: it outlived the command and the
// application, and the check was taken for one that had finished with 137.
// The application is the subreaper of all it starts: what the command left
// lands on it and is ended with the command, which failed.
TEST(OwnCommands, ACommandThatKillsItsKeeperFailsAndWhatItLeftIsEnded) {
  ASSERT_TRUE(ChildReaper::adoptOrphans());
  test::TempHome home;
  const QString file = home.path() + "/escaped";
  const ChildResult result =
      runFor(Purpose::check, "setsid sleep 300 >/dev/null 2>&1 & echo $! > '" + file + "'; kill -9 $PPID; exec sleep 300");
  EXPECT_TRUE(result.keeperLost);
  EXPECT_FALSE(result.timedOut);
  const pid_t escaped = pidIn(file);
  const bool ended = test::waitUntil([&] { return !ProcessSignals::isAlive(escaped); });
  EXPECT_TRUE(ended) << "what the command left outlived it";
  if (!ended) ::kill(escaped, SIGKILL);
  // Nothing of it is left to end, and no zombie stays behind.
  EXPECT_TRUE(test::waitUntil([&] { return OwnCommands::shared().endCommandsOf(kAgent, 0ms) == 0; }));
  EXPECT_TRUE(test::waitUntil([&] { return !ProcessTable::read(escaped).has_value() && !readProcStat(escaped); }));

  // A command stopped by us is no lost keeper.
  EXPECT_FALSE(runFor(Purpose::check, "exec sleep 30", 200ms).keeperLost);
  EXPECT_FALSE(runFor(Purpose::check, "exit 3").keeperLost);
}

// A doctor that an uninstall ended went on to run the agent's program for
// its help after the uninstall had ended the agent's commands: it ran until
// its time limit, past the uninstall. No command of an agent starts once its
// uninstall has begun, unless it is the uninstall's own.
TEST(OwnCommands, NoCommandOfAnAgentStartsOnceItsUninstallHasBegun) {
  test::TempHome home;
  const QString ran = home.path() + "/ran";
  const QString touch = "touch '" + ran + "'";
  const auto onAnotherThread = [](const std::function<void()>& work) { std::async(std::launch::async, work).get(); };
  const OwnCommands::Scope checking(kAgent, Purpose::check);
  EXPECT_TRUE(runFor(Purpose::check, "true").started) << "begun before any uninstall";

  // An uninstall under way.
  std::promise<void> begun, mayEnd;
  auto uninstall = std::async(std::launch::async, [&] {
    const OwnCommands::Scope uninstalling(kAgent, Purpose::uninstall);
    const ChildResult own = runFor(Purpose::uninstall, "true");
    const ChildResult within = runFor(Purpose::relaunch, "true");
    begun.set_value();
    mayEnd.get_future().wait();
    return own.started && within.started;
  });
  begun.get_future().wait();
  onAnotherThread([&] {
    const ChildResult another = runFor(Purpose::check, touch);
    EXPECT_FALSE(another.started) << "a check begun while it runs";
    EXPECT_TRUE(another.startError.contains("uninstalled")) << another.startError.toStdString();
  });
  mayEnd.set_value();
  EXPECT_TRUE(uninstall.get()) << "the uninstall's own commands, and those within it, run";

  // Over now: the check begun before it runs nothing more; one begun after runs.
  EXPECT_FALSE(runFor(Purpose::check, touch).started);
  EXPECT_FALSE(runFor(Purpose::relaunch, touch).started) << "nor a scope within it";
  EXPECT_FALSE(QFile::exists(ran));
  onAnotherThread([&] { EXPECT_TRUE(runFor(Purpose::check, touch).started); });
  EXPECT_TRUE(QFile::exists(ran));
}

TEST(OwnCommands, WhatIgnoresSigtermIsKilledAfterTheGrace) {
  test::TempHome home;
  const QString file = home.path() + "/stubborn";
  auto command = std::async(std::launch::async, [&] {
    return runFor(Purpose::check, "trap '' TERM; echo $$ > '" + file + "'; exec sleep 30", 30s);
  });
  const pid_t stubborn = pidIn(file);
  ASSERT_TRUE(test::waitUntil([&] { return ProcessTable::arguments(stubborn).contains("sleep"); }));
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(OwnCommands::shared().endCommandsOf(kAgent), 1);
  EXPECT_GE(timer.elapsed(), 1900) << "SIGTERM first, with 2 s to end";
  EXPECT_EQ(command.get().termSignal(), SIGKILL);
}

}  // namespace
}  // namespace tlr
