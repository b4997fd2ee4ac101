#include "platform/OwnCommands.h"

#include "platform/ChildProcess.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tlr {
namespace {

using Purpose = OwnCommands::Purpose;

// Runs a command that leaves a process running behind it; that process's pid.
pid_t runLeavingAProcess(Purpose purpose) {
  const OwnCommands::Scope scope(QStringLiteral("tlr-own-commands"), purpose);
  ChildSpec spec;
  spec.program = QStringLiteral("/bin/sh");
  spec.arguments = {QStringLiteral("-c"), QStringLiteral("sleep 30 >/dev/null 2>&1 & echo $!")};
  spec.timeout = std::chrono::seconds(10);
  return runChild(spec).out.trimmed().toInt();
}

TEST(OwnCommands, WhatACheckLeavesStaysOursWhatARestartLeavesIsTheAgents) {
  OwnCommands& own = OwnCommands::shared();
  const pid_t checked = runLeavingAProcess(Purpose::check);
  const pid_t restarted = runLeavingAProcess(Purpose::relaunch);
  ASSERT_GT(checked, 0);
  ASSERT_GT(restarted, 0);
  const pid_t checkGroup = ProcessTable::read(checked)->pgid;
  EXPECT_TRUE(own.isOurs(checkGroup)) << "its command has ended, but what it started runs on";
  EXPECT_FALSE(own.isOurs(ProcessTable::read(restarted)->pgid)) << "a daemon a restart started is the agent";

  // Kept while a process of the group lives; forgotten once none does.
  auto hasProcess = [](pid_t group) {
    const ProcessTable table = ProcessTable::snapshot();  // the loop below reads into it
    for (const ProcessInfo& p : table.processes())
      if (p.pgid == group) return true;
    return false;
  };
  own.forgetEmptyGroups(hasProcess, own.endings());
  EXPECT_TRUE(own.isOurs(checkGroup));
  const uint64_t endings = own.endings();
  for (const pid_t pid : {checked, restarted}) ::kill(pid, SIGKILL);
  ASSERT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(checked) && !ProcessSignals::isAlive(restarted); }));
  own.forgetEmptyGroups(hasProcess, endings);
  EXPECT_FALSE(own.isOurs(checkGroup));
}

}  // namespace
}  // namespace tlr
