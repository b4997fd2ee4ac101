#include "platform/Opener.h"
#include "platform/ProcessSignals.h"

#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace tlr {
namespace {

class OnlyFakes {
 public:
  explicit OnlyFakes(const test::FakeBin& bin) : saved_(qgetenv("PATH")) { qputenv("PATH", bin.path().toUtf8()); }
  ~OnlyFakes() { qputenv("PATH", saved_); }

 private:
  QByteArray saved_;
};

TEST(Opener, WhatTheOpenerSaysIsHeard) {
  using namespace std::chrono_literals;
  test::FakeBin bin;
  const QString record = bin.addRecorder("xdg-open");
  EXPECT_TRUE(Opener::openAndWait("vornel://open?x=1").opened);
  EXPECT_EQ(test::readFile(record), "vornel://open?x=1\n--\n") << "waited for: the opener has ended";

  // No browser: the real xdg-open says so and ends with 3.
  bin.add("xdg-open", "echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
  const Opener::Outcome none = Opener::openAndWait("https://example.com");
  EXPECT_FALSE(none.opened);
  EXPECT_EQ(none.exitStatus, 3);
  EXPECT_TRUE(none.startError.isEmpty());

  // A browser it waits for counts as opened once the patience runs out.
  const QString pidFile = bin.path() + "/browser.pid";
  bin.add("xdg-open", "echo $$ > '" + pidFile + "'\nexec sleep 30\n");
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(Opener::openAndWait("https://example.com", 300ms).opened);
  EXPECT_LT(timer.elapsed(), 5000);
  ASSERT_TRUE(test::waitUntil([&] { return !test::readFile(pidFile).isEmpty(); }));
  ProcessSignals::send(test::readFile(pidFile).trimmed().toInt(), SIGKILL);
}

TEST(Opener, AMissingOpenerIsReported) {
  test::FakeBin bin;
  OnlyFakes only(bin);
  const Opener::Outcome missing = Opener::openAndWait("https://example.com");
  EXPECT_FALSE(missing.opened);
  EXPECT_FALSE(missing.startError.isEmpty());
  EXPECT_FALSE(Opener::openAndWait("").opened);
}

TEST(ProcessSignals, AZombieIsNotAliveAndNoSignalGoesToAGroup) {
  test::SpawnedChild child(test::toolPath("tlr_fake_agent"), {});
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(ProcessSignals::isAlive(child.pid()));
  EXPECT_EQ(ProcessSignals::send(child.pid(), SIGTERM), 0);
  EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(child.pid()); }))
      << "dead but not yet reaped counts as gone";
  child.wait();
  EXPECT_EQ(ProcessSignals::send(0, 0), ESRCH);
  EXPECT_EQ(ProcessSignals::send(-1, 0), ESRCH);
  EXPECT_FALSE(ProcessSignals::isAlive(0));
}

}  // namespace
}  // namespace tlr
