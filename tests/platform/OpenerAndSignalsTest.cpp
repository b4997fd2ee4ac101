#include "platform/Opener.h"
#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"

#include "support/FrozenGroup.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <vector>

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

char stateOf(pid_t pid) {
  const std::optional<ProcStat> stat = readProcStat(pid);
  return stat ? stat->state : '?';
}

// What a wait for a signalled process to go is told: a process that can run
// no more of its program is not alive, whether it has ended or is still on
// its way out; one that can is, whatever has happened to its first thread.
TEST(ProcessSignals, OnlyAProcessThatCanRunItsProgramIsAlive) {
  struct Case {
    const char* what;
    QStringList arguments;
    // Brings the process into the shape; false when that is not possible here.
    std::function<bool(test::SpawnedChild&, test::FrozenGroup&)> shape;
    bool alive;
  };
  const std::vector<Case> cases{
      {"a zombie its parent has not reaped", {},
       [](test::SpawnedChild& child, test::FrozenGroup&) {
         return child.signal(SIGTERM) && test::waitUntil([&] { return stateOf(child.pid()) == 'Z'; });
       },
       false},
      // As after a restart's SIGKILL on a busy machine.
      {"reached by SIGKILL while it gets no processor", {},
       [](test::SpawnedChild& child, test::FrozenGroup& frozen) {
         if (!frozen.freeze(child.pid())) return false;
         EXPECT_TRUE(child.signal(SIGKILL));
         EXPECT_NE(stateOf(child.pid()), 'Z') << "it cannot end before it runs";
         return true;
       },
       false},
      {"its first thread ended while another runs", {"thread-sleeps"},
       [](test::SpawnedChild& child, test::FrozenGroup&) {
         return child.writeLine("end") && test::waitUntil([&] { return stateOf(child.pid()) == 'Z'; });
       },
       true},
      {"stopped, with a SIGTERM waiting for it to go on", {},
       [](test::SpawnedChild& child, test::FrozenGroup&) {
         return child.signal(SIGSTOP) && test::waitUntil([&] { return stateOf(child.pid()) == 'T'; }) &&
                child.signal(SIGTERM);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::FrozenGroup frozen;
    test::SpawnedChild child(test::toolPath("tlr_fake_agent"), c.arguments);
    ASSERT_TRUE(child.started());
    EXPECT_TRUE(ProcessSignals::isAlive(child.pid()));
    if (!c.shape(child, frozen)) {
      EXPECT_FALSE(frozen.available()) << "the shape failed";
      continue;
    }
    EXPECT_EQ(ProcessSignals::isAlive(child.pid()), c.alive);
    // Whatever it was, SIGKILL ends it.
    child.signal(SIGKILL);
    frozen.thaw();
    EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(child.pid()); }));
    EXPECT_TRUE(WIFSIGNALED(child.wait()));
  }
  EXPECT_EQ(ProcessSignals::send(0, 0), ESRCH);
  EXPECT_EQ(ProcessSignals::send(-1, 0), ESRCH);
  EXPECT_FALSE(ProcessSignals::isAlive(0));
}

}  // namespace
}  // namespace tlr
