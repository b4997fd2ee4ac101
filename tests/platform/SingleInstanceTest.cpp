#include "platform/SingleInstance.h"
#include "platform/OffMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tlr;
using namespace std::chrono_literals;

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
  if (::geteuid() != 0) {
    EXPECT_EQ(test::readFile(readOnly), "4242\n") << "a read-only file is not written";
  }
}

// Without a runtime folder the socket lies in the application folder, the
// owner's only; a socket file of mode 0666 used to pass every test.
TEST(InstanceChannel, MessageReachesTheListenerThroughASocketOnlyTheOwnerMayUse) {
  test::TempHome home;
  InstanceChannel channel;
  ASSERT_TRUE(channel.listen(home.path()));
  EXPECT_EQ(InstanceChannel::socketPath(home.path()), home.path() + "/instance.socket");
  EXPECT_EQ(test::modeOf(InstanceChannel::socketPath(home.path())), 0600u);
  QByteArray received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received = m; });
  // The sender blocks; run it in a thread so this loop can accept.
  InstanceChannel::Sent sent;
  std::thread thread([&] { sent = InstanceChannel::notifyRunningInstance(home.path(), InstanceChannel::kBringForward); });
  EXPECT_TRUE(test::waitUntil([&] { return !received.isEmpty(); }));
  thread.join();
  EXPECT_EQ(sent.outcome, InstanceChannel::Delivery::delivered) << sent.reason.toStdString();
  EXPECT_EQ(received, QByteArray(InstanceChannel::kBringForward));
  EXPECT_EQ(InstanceChannel::notifyRunningInstance(home.path() + "/nobody", "x", std::chrono::milliseconds(200)).outcome,
            InstanceChannel::Delivery::nobodyListens);
}

namespace {

// Sends bring-forward to a listener on `folder` and tells whether it arrived;
// `beforeSending` stands for what differs in the second copy's session.
bool bringForwardArrives(const QString& folder, const std::function<void()>& beforeSending = {}) {
  InstanceChannel channel;
  if (const Expected<void, QString> listening = channel.listen(folder); !listening) {
    ADD_FAILURE() << listening.error().toStdString();
    return false;
  }
  if (beforeSending) beforeSending();
  QByteArray received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received = m; });
  InstanceChannel::Sent sent;
  std::thread thread([&] { sent = InstanceChannel::notifyRunningInstance(folder, InstanceChannel::kBringForward); });
  const bool arrived = test::waitUntil([&] { return !received.isEmpty(); });
  thread.join();
  return sent.outcome == InstanceChannel::Delivery::delivered && arrived && received == InstanceChannel::kBringForward;
}

QString ownFolder(const QString& path) {
  EXPECT_TRUE(QDir().mkpath(path));
  EXPECT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  return path;
}

}  // namespace

// A socket path holds at most 107 bytes: a folder deeper than that is
// reached through its descriptor, so any home folder works. The runtime
// folder is used only when it is ours alone.
TEST(InstanceChannel, WorksWithADeepDataFolderWithAndWithoutARuntimeFolder) {
  test::TempHome home;
  QString deep = home.path() + "/";
  while (deep.size() < 120) deep += "deep-data-folder/";
  const QString folder = ownFolder(deep + "Tollamere");

  // No XDG_RUNTIME_DIR (TempHome unsets it): the application folder.
  EXPECT_EQ(InstanceChannel::socketPath(folder), folder + "/instance.socket");
  EXPECT_TRUE(bringForwardArrives(folder));

  // A runtime folder of ours holds the socket, named after the data folder,
  // so two data folders are two instances with two channels.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  const InstanceChannel::Address inRuntime = InstanceChannel::address(folder);
  EXPECT_EQ(inRuntime.folder, runtime.path());
  EXPECT_TRUE(inRuntime.name.startsWith("tollamere-")) << inRuntime.name.toStdString();
  EXPECT_NE(inRuntime.name, InstanceChannel::address(home.path()).name);
  EXPECT_TRUE(bringForwardArrives(folder));

  // A deep one too.
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(ownFolder(deep + "runtime")));
  EXPECT_EQ(InstanceChannel::address(folder).folder, deep + "runtime");
  EXPECT_TRUE(bringForwardArrives(folder));

  // A second copy started without the runtime folder (su, ssh) used to look
  // in the data folder and end as if nobody listened: it reads where the
  // first one listens from the record beside the lock, gone at its end.
  const QString record = folder + "/instance.address";
  // The record is written off the window thread: the copy starts once it is.
  const auto recorded = [&] {
    const QString listening = InstanceChannel::address(folder).path();
    return test::waitUntil([&] {
      const auto found = InstanceChannel::recordedAddress(folder);
      return found && found->path() == listening;
    });
  };
  EXPECT_TRUE(bringForwardArrives(folder, [&] {
    EXPECT_TRUE(recorded());
    qunsetenv("XDG_RUNTIME_DIR");
  }));
  EXPECT_FALSE(QFile::exists(folder + "/instance.address"));
  // A record that is a link, or names a folder others may enter, is not
  // followed: the copy looks where its own session says.
  const QString elsewhere = home.writeFile("elsewhere", QFile::encodeName(inRuntime.path()));
  auto fromRecordOnly = [&](const std::function<void()>& spoil) {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    InstanceChannel channel;
    EXPECT_TRUE(channel.listen(folder));
    EXPECT_TRUE(recorded());
    qunsetenv("XDG_RUNTIME_DIR");
    spoil();
    return InstanceChannel::notifyRunningInstance(folder, "x", std::chrono::milliseconds(500)).outcome;
  };
  EXPECT_EQ(fromRecordOnly([&] {
              QFile::remove(record);
              QFile::link(elsewhere, record);
            }),
            InstanceChannel::Delivery::nobodyListens);
  EXPECT_EQ(fromRecordOnly([&] {
              QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                         QFile::ReadOther | QFile::ExeOther);
            }),
            InstanceChannel::Delivery::notOurs);
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  // One that others may enter is passed over.
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(deep + "runtime"));
  ASSERT_TRUE(QFile::setPermissions(deep + "runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::ExeOther));
  EXPECT_EQ(InstanceChannel::address(folder).folder, folder);
  EXPECT_TRUE(bringForwardArrives(folder));
  qunsetenv("XDG_RUNTIME_DIR");
}

// The record of where a channel listens is written off the window thread.
// A channel that ended while its record was being written used to leave it
// behind (naming a socket nobody listens at), and that late write could land
// after the next channel's record and stand in its place.
TEST(InstanceChannel, AnEndedChannelLeavesNoRecordAndTheNextOnesRecordStands) {
  test::TempHome home;
  const QString folder = ownFolder(home.path() + "/Tollamere");
  const QString record = folder + "/" + InstanceChannel::kAddressFileName;
  // Two runtime folders: one channel's record differs from the next one's.
  const QString runtimes[] = {ownFolder(home.path() + "/run-a"), ownFolder(home.path() + "/run-b")};
  const auto idle = [] { return OffMainPool::shared().waitForIdle(OffMainPool::Clock::now() + 60s); };
  for (int round = 0; round < 40; ++round) {
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimes[round % 2]));
    { InstanceChannel ended; ASSERT_TRUE(ended.listen(folder)); }
    ASSERT_TRUE(idle());
    ASSERT_FALSE(QFile::exists(record)) << "round " << round;
    { InstanceChannel ended; ASSERT_TRUE(ended.listen(folder)); }
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimes[(round + 1) % 2]));
    {
      InstanceChannel next;
      ASSERT_TRUE(next.listen(folder));
      ASSERT_TRUE(idle());
      const std::optional<InstanceChannel::Address> found = InstanceChannel::recordedAddress(folder);
      ASSERT_TRUE(found) << "round " << round;
      EXPECT_EQ(found->path().toStdString(), InstanceChannel::address(folder).path().toStdString()) << "round " << round;
    }
    ASSERT_TRUE(idle());
    ASSERT_FALSE(QFile::exists(record)) << "round " << round;
  }
  qunsetenv("XDG_RUNTIME_DIR");
}

// Another user who took the channel's name first (in the abstract
// namespace, where anyone may bind any name) used to receive the message,
// and the second start ended as if it had reached us. The other user is
// stood for by an expected user id that is not ours.
TEST(InstanceChannel, NothingIsSentToAListenerOfAnotherUserOrThroughAFolderOthersMayEnter) {
  test::TempHome home;
  const QString path = InstanceChannel::socketPath(home.path());
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, QFile::encodeName(path).constData(), static_cast<size_t>(path.size()));
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);

  const InstanceChannel::Sent sent =
      InstanceChannel::notifyRunningInstance(home.path(), "bring-forward", std::chrono::milliseconds(500), ::getuid() + 1);
  EXPECT_EQ(sent.outcome, InstanceChannel::Delivery::notOurs);
  EXPECT_TRUE(sent.reason.contains(QStringLiteral("runs as user %1").arg(::getuid()))) << sent.reason.toStdString();
  const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(accepted, 0);
  char byte;
  EXPECT_EQ(::recv(accepted, &byte, 1, 0), 0) << "closed without a byte";
  ::close(accepted);
  ::close(listener);
  QFile::remove(path);

  // A folder others may enter is no place for the channel, on either side.
  ASSERT_TRUE(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup));
  InstanceChannel channel;
  const Expected<void, QString> refused = channel.listen(home.path());
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().contains("not this user's alone")) << refused.error().toStdString();
  EXPECT_EQ(InstanceChannel::notifyRunningInstance(home.path(), "bring-forward").outcome,
            InstanceChannel::Delivery::notOurs);
  ASSERT_TRUE(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

namespace {

// A raw client of the channel of `folder`: connected, nothing sent yet.
int connectRaw(const QString& folder) {
  const QByteArray name = QFile::encodeName(InstanceChannel::socketPath(folder));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "connect: " << std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the other side has closed `fd` (a read sees the end), looked at
// without waiting.
bool closedByPeer(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char c;
  return ::recv(fd, &c, 1, MSG_DONTWAIT) <= 0;
}

// A bring-forward sent from another thread reaches `channel`.
bool bringForwardReaches(InstanceChannel& channel, const QString& folder) {
  QByteArray received;
  const QMetaObject::Connection c =
      QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received = m; });
  InstanceChannel::Sent sent;
  std::thread thread([&] { sent = InstanceChannel::notifyRunningInstance(folder, InstanceChannel::kBringForward); });
  const bool arrived = test::waitUntil([&] { return !received.isEmpty(); });
  thread.join();
  QObject::disconnect(c);
  return sent.outcome == InstanceChannel::Delivery::delivered && arrived && received == InstanceChannel::kBringForward;
}

}  // namespace

// One client writing without end used to be kept in memory whole.
TEST(InstanceChannel, AFloodIsCutAfterOneShortMessageAndNothingOfItArrives) {
  test::TempHome home;
  InstanceChannel channel;
  ASSERT_TRUE(channel.listen(home.path()));
  QList<QByteArray> received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received << m; });

  const int fd = connectRaw(home.path());
  ASSERT_GE(fd, 0);
  constexpr qint64 kFlood = 64 * 1024 * 1024;
  std::atomic<qint64> sent = 0;
  std::atomic<bool> stopped = false;
  std::thread flooder([&] {
    const QByteArray chunk(64 * 1024, 'A');
    while (sent < kFlood) {
      const ssize_t n = ::send(fd, chunk.constData(), static_cast<size_t>(chunk.size()), MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += n;
    }
    stopped = true;
  });
  EXPECT_TRUE(test::waitUntil([&] { return stopped.load(); }, std::chrono::seconds(20)));
  flooder.join();
  ::close(fd);
  EXPECT_LT(sent.load(), kFlood / 4) << "the listener stopped reading and closed the connection";
  EXPECT_TRUE(received.isEmpty());
  EXPECT_TRUE(bringForwardReaches(channel, home.path()));
}

// Connections that never send anything used to be kept for good; more of
// them than are served at once wait their turn and are dropped in turn.
TEST(InstanceChannel, SilentConnectionsAreDropped) {
  test::TempHome home;
  InstanceChannel channel;
  ASSERT_TRUE(channel.listen(home.path()));
  std::vector<int> idle;
  for (int i = 0; i < 12; ++i) idle.push_back(connectRaw(home.path()));
  EXPECT_TRUE(test::waitUntil([&] { return std::all_of(idle.begin(), idle.end(), closedByPeer); }))
      << "every silent connection is closed by the listener";
  for (int fd : idle) ::close(fd);
  EXPECT_TRUE(bringForwardReaches(channel, home.path()));
}

// An accept that failed for want of a descriptor used to close the listener
// and remove its socket for good.
TEST(InstanceChannel, TheListenerOutlivesRunningOutOfDescriptors) {
  test::TempHome home;
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  InstanceChannel channel;
  ASSERT_TRUE(channel.listen(home.path()));
  // The record of where it listens is written on a worker: done before the
  // descriptors run out, so none comes free meanwhile.
  test::finishOffMainWork();
  QList<QByteArray> received;
  // Served once before: the sanitizers' own checks need descriptors the
  // first time they see a type.
  ASSERT_TRUE(bringForwardReaches(channel, home.path()));
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received << m; });

  // Queued before the descriptors run out, with its message already sent.
  const int waiting = connectRaw(home.path());
  ASSERT_GE(waiting, 0);
  ASSERT_EQ(::send(waiting, "bring-forward\n", 14, MSG_NOSIGNAL), 14);
  // A low limit, so that running out is quick.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit low{std::min<rlim_t>(limit.rlim_cur, 256), limit.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> filler;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  // Let the listener meet the exhaustion a few times.
  test::waitUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_TRUE(received.isEmpty());
  for (int fd : filler) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &limit);

  EXPECT_TRUE(test::waitUntil([&] { return !received.isEmpty(); })) << "the queued message is taken";
  EXPECT_EQ(received.value(0), InstanceChannel::kBringForward);
  ::close(waiting);
  EXPECT_TRUE(QFileInfo::exists(InstanceChannel::socketPath(home.path())));
  EXPECT_TRUE(bringForwardReaches(channel, home.path()));
  qunsetenv("XDG_RUNTIME_DIR");
}

// A connection of another user is closed unread. The other user is stood
// for by a listener that serves a user id that is not ours.
TEST(InstanceChannel, AnotherUsersMessageIsRefused) {
  test::TempHome home;
  InstanceChannel channel(nullptr, ::getuid() + 1);
  ASSERT_TRUE(channel.listen(home.path()));
  QList<QByteArray> received;
  QObject::connect(&channel, &InstanceChannel::messageReceived, [&](const QByteArray& m) { received << m; });
  const int fd = connectRaw(home.path());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::send(fd, "bring-forward\n", 14, MSG_NOSIGNAL), 14);
  EXPECT_TRUE(test::waitUntil([&] { return closedByPeer(fd); }));
  ::close(fd);
  EXPECT_TRUE(received.isEmpty());
}
