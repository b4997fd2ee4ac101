#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
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

// flock works on any descriptor: what cannot be opened for writing is locked
// through a read-only one, so a second copy is still refused.
TEST(SingleInstanceLock, WhatCannotBeWrittenIsLockedAllTheSame) {
  test::TempHome home;
  const QString readOnly = home.writeFile("read-only.lock", "4242\n");
  ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  const QString folder = home.path() + "/folder.lock";
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString fifo = home.path() + "/fifo.lock";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

  for (const QString& path : {readOnly, folder, fifo}) {
    // A blocking open of the FIFO would never return.
    const SingleInstanceLock::Result first = SingleInstanceLock::acquire(path);
    ASSERT_EQ(first.outcome, SingleInstanceLock::Outcome::acquired) << path.toStdString();
    EXPECT_TRUE(::fcntl(first.fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(SingleInstanceLock::acquire(path).outcome, SingleInstanceLock::Outcome::heldByAnother)
        << path.toStdString();
    ::close(first.fd);
  }
  EXPECT_TRUE(QFileInfo(fifo).isFile() == false && QFileInfo::exists(fifo)) << "the FIFO is left in place";
  if (::geteuid() != 0) EXPECT_EQ(test::readFile(readOnly), "4242\n") << "a read-only file is not written";
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

namespace {

// Sends bring-forward to a listener on `folder` and tells whether it arrived.
bool bringForwardArrives(const QString& folder) {
  InstanceChannel channel;
  if (!channel.listen(folder)) {
    ADD_FAILURE() << channel.errorString().toStdString();
    return false;
  }
  QByteArray received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received = m; });
  bool sent = false;
  std::thread thread([&] { sent = InstanceChannel::notifyRunningInstance(folder, InstanceChannel::kBringForward); });
  const bool arrived = test::waitUntil([&] { return !received.isEmpty(); });
  thread.join();
  return sent && arrived && received == InstanceChannel::kBringForward;
}

}  // namespace

// A socket path holds at most 107 bytes: the channel never lies below the
// data folder, so any home folder works.
TEST(InstanceChannel, WorksWithADeepDataFolderWithAndWithoutARuntimeFolder) {
  test::TempHome home;
  QString deep = home.path() + "/";
  while (deep.size() < 120) deep += "deep-data-folder/";
  const QString folder = deep + "Tollamere";
  ASSERT_TRUE(QDir().mkpath(folder));

  // No XDG_RUNTIME_DIR (TempHome unsets it): the abstract namespace.
  EXPECT_TRUE(InstanceChannel::address(folder).abstract);
  EXPECT_TRUE(bringForwardArrives(folder));

  // A short runtime folder holds the socket, named after the user id.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  const InstanceChannel::Address inRuntime = InstanceChannel::address(folder);
  EXPECT_FALSE(inRuntime.abstract);
  EXPECT_TRUE(inRuntime.name.startsWith(runtime.path() + QStringLiteral("/tollamere-%1-").arg(::getuid())))
      << inRuntime.name.toStdString();
  EXPECT_TRUE(bringForwardArrives(folder));

  // One too deep for a socket path falls back to the abstract namespace.
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep));
  EXPECT_TRUE(InstanceChannel::address(folder).abstract);
  EXPECT_TRUE(bringForwardArrives(folder));

  // Two data folders are two instances: two channels.
  EXPECT_NE(InstanceChannel::address(folder).name, InstanceChannel::address(home.path()).name);
}
