#include "core/stores/LockOnlineStore.h"

#include "platform/LaunchdStatus.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace tlr {
namespace {

AgentEntry agent(const QString& id, std::optional<QString> label = std::nullopt) {
  AgentEntry e;
  e.id = id;
  e.displayName = id;
  e.launchdLabel = std::move(label);
  return e;
}

// A user manager in which only "tlr.lock.up" runs.
class LockOnlineStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin.addUserManager("tlr.lock.up", 99);
    for (const char* label : {"tlr.lock.up", "tlr.lock.down", "tlr.lock.later"})
      LaunchdStatus::invalidate(label);
  }
  std::unique_ptr<LockOnlineStore> makeStore() {
    return std::make_unique<LockOnlineStore>(defaults, events, &LaunchdStatus::isManaged);
  }
  int systemctlCalls() const { return test::readFile(bin.recordPath("systemctl")).count('\n'); }
  // The file as the defaults leave it once they have written.
  QString fileText() {
    EXPECT_TRUE(defaults.flush());
    return test::readFile(defaults.filePath());
  }
  QJsonObject file() { return QJsonDocument::fromJson(fileText().toUtf8()).object(); }

  test::TempHome home;
  test::FakeBin bin;
  Defaults defaults{home.path() + "/defaults.json"};
  EventStore events{defaults};
  const QList<AgentEntry> entries{agent("up", "tlr.lock.up"), agent("down", "tlr.lock.down"), agent("plain")};
};

TEST_F(LockOnlineStoreTest, AdoptsRunningLaunchdJobsOnFirstSightOnly) {
  {
    auto store = makeStore();
    QList<QSet<QString>> changes;
    QObject::connect(store.get(), &LockOnlineStore::lockedIDsChanged, [&](const QSet<QString>& s) { changes << s; });
    store->initializeDefaults(entries);
    EXPECT_EQ(store->lockedIDs(), QSet<QString>{"up"});
    EXPECT_EQ(store->initializedIDs(), (QSet<QString>{"up", "down", "plain"}));
    EXPECT_EQ(changes, QList<QSet<QString>>{QSet<QString>{"up"}});
    EXPECT_EQ(systemctlCalls(), 2);
    EXPECT_TRUE(events.events().isEmpty());  // adoption records no event
  }
  // The file holds real lists, the one-element one included.
  EXPECT_EQ(file().value(LockOnlineStore::defaultsKey).toArray(), QJsonArray{"up"});
  EXPECT_EQ(file().value(LockOnlineStore::initializedKey()).toArray(), (QJsonArray{"down", "plain", "up"}));

  // Second launch: nothing new, so no query and no write.
  for (const char* label : {"tlr.lock.up", "tlr.lock.down"}) LaunchdStatus::invalidate(label);
  const QString before = fileText();
  Defaults reread(defaults.filePath());
  LockOnlineStore restarted(reread, events, &LaunchdStatus::isManaged);
  EXPECT_EQ(restarted.lockedIDs(), QSet<QString>{"up"});
  restarted.initializeDefaults(entries);
  EXPECT_EQ(systemctlCalls(), 2);
  EXPECT_EQ(fileText(), before);

  // An entry added later is examined, and only it.
  restarted.initializeDefaults(entries + QList<AgentEntry>{agent("later", "tlr.lock.later")});
  EXPECT_EQ(systemctlCalls(), 3);
  EXPECT_TRUE(restarted.initializedIDs().contains("later"));
  EXPECT_FALSE(restarted.isLocked("later"));
}

TEST_F(LockOnlineStoreTest, AnUnlockedAgentStaysUnlockedAtLaterLaunches) {
  auto store = makeStore();
  store->initializeDefaults(entries);
  store->setLocked("up", false);
  ASSERT_TRUE(defaults.flush());
  Defaults reread(defaults.filePath());
  LockOnlineStore restarted(reread, events, &LaunchdStatus::isManaged);
  restarted.initializeDefaults(entries);
  EXPECT_FALSE(restarted.isLocked("up"));
}

TEST_F(LockOnlineStoreTest, SetLockedRecordsAnEventOnlyForARealChange) {
  auto store = makeStore();
  store->setLocked("a", true);
  store->setLocked("a", true);
  store->setLocked("a", false);
  store->setLocked("a", false);
  ASSERT_EQ(events.events().size(), 2);
  EXPECT_EQ(events.events()[0].type, AgentEventType::lockOnlineDisabled);
  EXPECT_EQ(events.events()[1].type, AgentEventType::lockOnlineEnabled);
  EXPECT_FALSE(events.events()[0].details);
  EXPECT_EQ(file().value(LockOnlineStore::defaultsKey).toArray(), QJsonArray{});
  EXPECT_FALSE(file().contains(LockOnlineStore::initializedKey()));  // a never-seen id stays unseen
}

TEST_F(LockOnlineStoreTest, AnEmptyEntryListTouchesNothing) {
  auto store = makeStore();
  store->initializeDefaults({});
  EXPECT_FALSE(file().contains(LockOnlineStore::defaultsKey));
  EXPECT_FALSE(file().contains(LockOnlineStore::initializedKey()));
}

// One element that was not a text used to empty the whole set, and the next
// write stored `[]`: the user's locks were gone.
TEST_F(LockOnlineStoreTest, AStoredSetKeepsItsUsableIdsAndSaysWhatItLeftOut) {
  defaults.set(LockOnlineStore::defaultsKey, QJsonArray{"a", 3, "b", QString(201, 'x'), QJsonValue()});
  defaults.set(LockOnlineStore::initializedKey(), "up");
  testing::internal::CaptureStdout();
  auto store = makeStore();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(store->lockedIDs(), (QSet<QString>{"a", "b"}));
  EXPECT_TRUE(store->initializedIDs().isEmpty());
  EXPECT_NE(out.find("[LockOnline] TLR.lockOnline.enabled 中 3 项不是可用的 id"), std::string::npos) << out;
  EXPECT_NE(out.find("[LockOnline] TLR.lockOnline.enabled.initialized 不是列表，按空集合读取"), std::string::npos) << out;
  store->setLocked("c", true);
  EXPECT_EQ(file().value(LockOnlineStore::defaultsKey).toArray(), (QJsonArray{"a", "b", "c"}));
}

}  // namespace
}  // namespace tlr
