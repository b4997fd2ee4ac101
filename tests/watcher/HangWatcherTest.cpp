#include "watcher/HangWatcher.h"

#include "core/stores/EventStore.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "registry/AgentRegistry.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using tlr::AgentEntry;
using tlr::AgentEventType;
using tlr::EventStore;
using tlr::EventText;
using tlr::LocKey;
using tlr::HangWatcher;
using tlr::test::TempHome;
using tlr::test::waitUntil;

namespace {

AgentEntry agent(const QString& id, std::optional<QStringList> executableNames) {
  AgentEntry e;
  e.id = id;
  e.displayName = id;
  e.vendor = "Test";
  e.identify.executableNames = std::move(executableNames);
  return e;
}

tlr::AgentRegistry testRegistry() {
  tlr::RegistryFile file;
  file.schemaVersion = 1;
  file.agents = {agent("codex", QStringList{"node", "codex"}), agent("desktop", std::nullopt),
                 agent("claude", QStringList{"claude"})};
  return tlr::AgentRegistry(file);
}

QByteArray report(const QString& process) {
  return QStringLiteral("\n{\"app_name\":\"x\", \"procName\" : \"%1\", \"pid\":42}\nmore\n")
      .arg(process)
      .toUtf8();
}

// A watcher on the reports folder of a temporary home, with its own event log.
struct HangFixture {
  TempHome home;
  tlr::Defaults defaults{tlr::Paths::defaultsFile()};
  std::unique_ptr<EventStore> store = std::make_unique<EventStore>(defaults);
  HangWatcher watcher{*store};

  void drop(const QString& name, const QByteArray& content) {
    QFile file(watcher.reportsFolder() + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
  }
  QList<tlr::AgentEvent> events() const { return store->events(); }
  bool waitForEvents(int n) {
    return waitUntil([&] { return events().size() >= n; });
  }
};

}  // namespace

TEST(HangReports, ANewReportForAnAgentRecordsAHang) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  QDir().mkpath(f.watcher.reportsFolder());
  f.drop("node-2025-01-01-hang.ips", report("node"));  // there before the start
  f.watcher.start();
  ASSERT_TRUE(f.watcher.isWatching());

  tlr::Defaults::shared().set("TLR.language", "en");
  f.drop("Node-2025-01-02-hang.ips", report("Node"));
  ASSERT_TRUE(f.waitForEvents(1));
  const auto event = f.events().at(0);
  EXPECT_EQ(event.agentId, "codex");
  EXPECT_EQ(event.type, AgentEventType::hangDetected);
  // Said by key; the stored details are Chinese whatever the interface speaks.
  EXPECT_EQ(event.text, EventText::of(LocKey::evDetailHangReported()));
  EXPECT_EQ(event.details, std::optional<QString>("进程长时间无响应（来自系统 hang 报告）"));
  EXPECT_EQ(f.events().size(), 1) << "the report that was already there stays uninspected";
}

TEST(HangReports, OnlyHangReportsOfKnownProcessesCount) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  f.drop("claude-2025-01-01.crash", report("claude"));          // not a hang report
  f.drop("python-2025-01-01-hang.ips", report("python"));       // no agent's process
  f.drop("odd-2025-01-01-hang.ips", "\n\n{\"name\": \"claude\"}\n");  // no procName
  f.drop("claude-2025-01-02-hang.ips", report("claude"));
  ASSERT_TRUE(f.waitForEvents(1));

  // Rewritten with a usable line, the report without procName stays skipped.
  f.drop("odd-2025-01-01-hang.ips", report("claude"));
  f.drop("codex-2025-01-03-hang.ips", report("codex"));
  ASSERT_TRUE(f.waitForEvents(2));
  ASSERT_EQ(f.events().size(), 2);
  EXPECT_EQ(f.events().at(0).agentId, "codex");
  EXPECT_EQ(f.events().at(1).agentId, "claude");
}

TEST(HangReports, ReportsArrivingTogetherOrInPiecesEachCountOnce) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  // Moved in whole, two at once.
  const QString staging = f.home.path() + "/staging";
  QDir().mkpath(staging);
  for (const QString name : {"claude-a-hang.ips", "codex-b-hang.ips"}) {
    QFile file(staging + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(report(name.section('-', 0, 0)));
    file.close();
  }
  ASSERT_TRUE(QFile::rename(staging + "/claude-a-hang.ips", f.watcher.reportsFolder() + "/claude-a-hang.ips"));
  ASSERT_TRUE(QFile::rename(staging + "/codex-b-hang.ips", f.watcher.reportsFolder() + "/codex-b-hang.ips"));
  ASSERT_TRUE(f.waitForEvents(2));

  // Created empty first and written afterwards: inspected once it has content.
  f.drop("claude-c-hang.ips", "");
  f.drop("claude-c-hang.ips", report("claude"));
  ASSERT_TRUE(f.waitForEvents(3));
  EXPECT_EQ(f.events().at(0).agentId, "claude");
}

TEST(HangReports, AReportBesideManyEmptyOnesIsNeverLost) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  constexpr int kRounds = 20;
  for (int round = 1; round <= kRounds; ++round) {
    for (int i = 0; i < 30; ++i) f.drop(QStringLiteral("empty-%1-%2-hang.ips").arg(round).arg(i), "");
    f.drop(QStringLiteral("claude-%1-hang.ips").arg(round), report("claude"));
    ASSERT_TRUE(waitUntil([&] { return f.events().size() >= round; }, std::chrono::seconds(5)))
        << "round " << round << ": " << f.events().size() << " hangs recorded";
  }
  EXPECT_EQ(f.events().size(), kRounds);
}

TEST(HangReports, AReportPartlyWrittenWhenListedCountsOnceComplete) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  QFile partial(f.watcher.reportsFolder() + "/claude-p-hang.ips");
  ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
  partial.write("\n{\"app_name\":\"x\", \"procN");
  partial.flush();
  // Another report's arrival lists the folder while the first is half done.
  f.drop("codex-q-hang.ips", report("codex"));
  ASSERT_TRUE(f.waitForEvents(1));
  EXPECT_EQ(f.events().at(0).agentId, "codex");

  partial.write("ame\" : \"claude\", \"pid\":42}\nmore\n");
  partial.close();
  ASSERT_TRUE(f.waitForEvents(2));
  EXPECT_EQ(f.events().at(0).agentId, "claude");
  waitUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(f.events().size(), 2);
}

TEST(HangReports, AFifoNamedLikeAReportNeitherBlocksNorHidesTheNext) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  const QByteArray fifo = QFile::encodeName(f.watcher.reportsFolder() + "/claude-f-hang.ips");
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

  // Should the watcher wait on the FIFO for a writer, one comes after ten
  // seconds, so the test ends and tells.
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::atomic<bool> released{false};
  std::thread rescuer([&] {
    std::unique_lock guard(lock);
    if (finished.wait_for(guard, std::chrono::seconds(10), [&] { return done; })) return;
    while (!done) {
      const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ::close(fd);
        released = true;
        return;
      }
      finished.wait_for(guard, std::chrono::milliseconds(10), [&] { return done; });
    }
  });

  f.drop("claude-g-hang.ips", report("claude"));
  const bool recorded = f.waitForEvents(1);
  {
    std::lock_guard guard(lock);
    done = true;
  }
  finished.notify_all();
  rescuer.join();
  EXPECT_FALSE(released) << "the watcher waited for a writer of the FIFO";
  ASSERT_TRUE(recorded);
  EXPECT_EQ(f.events().size(), 1);
  ::unlink(fifo.constData());
}

TEST(HangReports, ALongReportIsReadWhereverItsFirstBytesEnd) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  // A long report whose first 8 KiB end inside a character ("中" is three
  // bytes): only its first line decides.
  QByteArray big = report("claude");
  while (big.size() < 8191) big += 'x';
  big = big.left(8191) + QStringLiteral("中文路径\n").toUtf8().repeated(200);
  f.drop("claude-l-hang.ips", big);
  // A first line longer than what is read, cut inside a character.
  QByteArray longLine = QByteArray("{\"procName\": \"node\", \"path\": \"x");
  longLine += QStringLiteral("中").toUtf8().repeated(4000) + "\"}\n";
  f.drop("node-m-hang.ips", longLine);
  f.drop("claude-n-hang.ips", report("claude"));
  ASSERT_TRUE(waitUntil([&] { return f.events().size() >= 3; }, std::chrono::seconds(5)))
      << f.events().size() << " hangs recorded";
  QStringList agents;
  for (const auto& e : f.events()) agents << e.agentId;
  agents.sort();
  EXPECT_EQ(agents, QStringList({"claude", "claude", "codex"}));
}

TEST(HangWatching, AFolderThatCannotBeWatchedIsReportedAndRetried) {
  TempHome home;
  tlr::Defaults defaults(tlr::Paths::defaultsFile());
  EventStore store(defaults);
  const QString blocker = home.writeFile("blocked", "a file, not a folder");
  HangWatcher watcher(store, blocker + "/DiagnosticReports");
  watcher.start();
  EXPECT_FALSE(watcher.isWatching());
  QFile::remove(blocker);
  watcher.start();
  EXPECT_TRUE(watcher.isWatching()) << "a later start tries again";
}

TEST(HangWatching, WithTheEventStoreGoneAHangIsOnlyLogged) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  f.store.reset();
  f.drop("claude-x-hang.ips", report("claude"));
  // The change is handled (and logged) without touching the gone store.
  waitUntil([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_TRUE(f.defaults.value(EventStore::defaultsKey).isUndefined());
}

// Hang detection used to end for good once its folder was removed or renamed,
// also when the folder was made again.
TEST(HangReports, DetectionResumesWhenTheFolderIsRemovedOrRenamedAndMadeAgain) {
  HangFixture f;
  f.watcher.updateRegistry(testRegistry());
  f.watcher.start();
  ASSERT_TRUE(f.watcher.isWatching());
  const QString folder = f.watcher.reportsFolder();

  ASSERT_TRUE(QDir(folder).removeRecursively());
  ASSERT_TRUE(QDir().mkpath(folder));
  f.drop("node-1-hang.ips", report("node"));
  ASSERT_TRUE(f.waitForEvents(1)) << "after removal";

  ASSERT_TRUE(QDir().rename(folder, folder + ".old"));
  ASSERT_TRUE(QDir().mkpath(folder));
  f.drop("claude-2-hang.ips", report("claude"));
  ASSERT_TRUE(f.waitForEvents(2)) << "after a rename";

  // Its parent too, made again in two steps.
  const QString parent = QFileInfo(folder).path();
  ASSERT_TRUE(QDir(parent).removeRecursively());
  ASSERT_TRUE(QDir().mkpath(parent));
  ASSERT_TRUE(QDir().mkpath(folder));
  f.drop("codex-3-hang.ips", report("codex"));
  ASSERT_TRUE(f.waitForEvents(3)) << "after its parent was made again";
  EXPECT_EQ(f.events().at(2).agentId, "codex");
}
