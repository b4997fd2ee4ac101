// The suite's sweep of the stand-in agents a test started. Process numbers
// come round again within a run of the whole suite: a sweep that signalled a
// listed number whose agent had long ended killed whatever process of
// another test had taken it.
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "support/FakeAgents.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

namespace tlr {

TEST(FakeAgentLedger, TheSweepEndsEveryListedAgentAndNeverALaterProcessUnderItsNumber) {
  test::TempHome home;
  const QString agent = test::copyFakeAgent(home.path() + "/bin", test::uniqueAgentName("tlr-ledger-agent"));
  const QString path = home.path() + "/ledger";
  test::FakeAgentLedger ledger(path);
  const pid_t started = ledger.start(agent);
  ASSERT_GT(started, 0);

  // A process of another test that got the number of an agent that has
  // ended: listed, with the start time of the agent that had it.
  test::SpawnedChild other("/bin/sleep", {"60"});
  ASSERT_TRUE(other.started());
  const std::optional<ProcessInfo> otherNow = ProcessTable::read(other.pid());
  ASSERT_TRUE(otherNow.has_value());
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(QByteArray::number(other.pid()) + ' ' + QByteArray::number(otherNow->startTicks - 1) + '\n');
  }
  EXPECT_EQ(ledger.pids(), (QList<pid_t>{started, other.pid()}));
  EXPECT_EQ(ledger.waitForNew({started}, std::chrono::milliseconds(200)), 0) << "not an agent of the ledger";

  ledger.killAll();
  EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(started); })) << "the agent is ended";
  EXPECT_TRUE(ProcessSignals::isAlive(other.pid())) << "the process under a listed number is not";
}

}  // namespace tlr
