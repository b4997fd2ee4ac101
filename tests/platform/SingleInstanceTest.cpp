#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <unistd.h>

using namespace tlr;

TEST(SingleInstanceLock, SecondHolderIsRefusedAndStaleBytesAreCut) {
  test::TempHome home;
  const QString path = home.writeFile("lock", "99999999999999\nleftover\n");
  const SingleInstanceLock::Result first = SingleInstanceLock::acquire(path);
  ASSERT_EQ(first.outcome, SingleInstanceLock::Outcome::acquired);
  EXPECT_EQ(test::readFile(path), QString::number(::getpid()) + '\n');
  EXPECT_TRUE(::fcntl(first.fd, F_GETFD) & FD_CLOEXEC);

  // A new open file description conflicts even within one process.
  const SingleInstanceLock::Result second = SingleInstanceLock::acquire(path);
  EXPECT_EQ(second.outcome, SingleInstanceLock::Outcome::heldByAnother);
  EXPECT_EQ(second.fd, -1);
  ::close(first.fd);  // the test releases what the application never does
  EXPECT_EQ(SingleInstanceLock::acquire(home.path() + "/missing/lock").outcome,
            SingleInstanceLock::Outcome::openFailed);
}

TEST(InstanceChannel, MessageReachesTheListener) {
  test::TempHome home;
  InstanceChannel channel;
  ASSERT_TRUE(channel.listen(home.path()));
  QByteArray received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received = m; });
  // The sender blocks; run it in a child so this loop can accept.
  std::thread thread([&] { InstanceChannel::notifyRunningInstance(home.path(), InstanceChannel::kBringForward); });
  EXPECT_TRUE(test::waitUntil([&] { return !received.isEmpty(); }));
  thread.join();
  EXPECT_EQ(received, QByteArray(InstanceChannel::kBringForward));
  EXPECT_FALSE(InstanceChannel::notifyRunningInstance(home.path() + "/nobody", "x", std::chrono::milliseconds(200)));
}
