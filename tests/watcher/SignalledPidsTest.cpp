#include "watcher/SignalledPids.h"

#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

namespace tlr {
namespace {

using namespace std::chrono_literals;

class SignalledPidsTest : public ::testing::Test {
 protected:
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + 1h;
  SignalledPids record{60s, [this] { return now; }};
};

TEST_F(SignalledPidsTest, ANoteExplainsOneExitWithinItsExpiry) {
  record.note(4242);
  EXPECT_TRUE(record.contains(4242));
  EXPECT_TRUE(record.take(4242));
  EXPECT_FALSE(record.take(4242)) << "used up by the exit it explained";

  record.note(4243);
  now += 59s;
  EXPECT_TRUE(record.contains(4243));
  now += 1s;
  EXPECT_FALSE(record.contains(4243));
  EXPECT_FALSE(record.take(4243)) << "an expired note explains nothing";
}

TEST_F(SignalledPidsTest, ASignalThatReachesItsProcessIsNoted) {
  test::SpawnedChild child(test::toolPath("tlr_fake_agent"), {});
  ASSERT_TRUE(child.started());
  EXPECT_EQ(record.send(child.pid(), SIGKILL), 0);
  EXPECT_EQ(WTERMSIG(child.wait()), SIGKILL);
  EXPECT_TRUE(record.take(child.pid()));
}

TEST_F(SignalledPidsTest, OnlySignalsThatReachedTheirProcessAreNoted) {
  test::SpawnedChild child(test::toolPath("tlr_fake_agent"), {});
  ASSERT_TRUE(child.started());
  const pid_t pid = child.pid();
  ASSERT_EQ(record.send(pid, SIGTERM), 0);
  EXPECT_TRUE(record.contains(pid));
  child.wait();  // gone: the SIGKILL that follows finds nothing
  EXPECT_EQ(record.send(pid, SIGKILL), ESRCH);
  const SignalledPids::Sent sent = record.take(pid);
  EXPECT_TRUE(sent.has(SIGTERM));
  EXPECT_FALSE(sent.has(SIGKILL)) << "a signal that reached nothing is no note";

  record.note(pid);
  EXPECT_EQ(record.send(pid, SIGKILL), ESRCH);
  EXPECT_TRUE(record.take(pid).has(SIGKILL)) << "an earlier SIGKILL still explains the exit";
  EXPECT_EQ(record.send(pid, SIGTERM), ESRCH);
  EXPECT_FALSE(record.contains(pid));
}

}  // namespace
}  // namespace tlr
