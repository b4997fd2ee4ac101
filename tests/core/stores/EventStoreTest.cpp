#include "core/stores/EventStore.h"

#include "platform/FileOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>

namespace tlr {
namespace {

AgentEvent at(const QString& agentId, double timestamp, std::optional<QString> details = std::nullopt) {
  return AgentEvent{QUuid::createUuid(), agentId, AgentEventType::started, timestamp, std::move(details)};
}

class EventStoreTest : public ::testing::Test {
 protected:
  QString storedText() const { return defaults.string(EventStore::defaultsKey).value_or(QString()); }
  QJsonArray storedArray() const { return QJsonDocument::fromJson(storedText().toUtf8()).array(); }

  test::TempHome home;
  Defaults defaults{home.path() + "/defaults.json"};
};

TEST_F(EventStoreTest, KeepsFiftyNewestPerAgentNewestFirst) {
  EventStore store(defaults);
  // b's events fall between a's: only a sort of the whole list puts them in place.
  for (int i = 0; i < 3; ++i) store.append(at("b", 110.5 + 20 * i));
  for (int i = 0; i < 51; ++i) store.append(at("a", 100.25 + i));

  EXPECT_EQ(store.recentEvents("a", 100).size(), EventStore::maxPerAgent);
  EXPECT_EQ(store.recentEvents("a", 100).last().timestamp, 101.25);  // the oldest went
  EXPECT_EQ(store.recentEvents("b", 100).size(), 3);
  EXPECT_TRUE(std::is_sorted(store.events().begin(), store.events().end(),
                             [](const AgentEvent& x, const AgentEvent& y) { return x.timestamp > y.timestamp; }));
  EXPECT_EQ(store.events().first().agentId, "b");
  EXPECT_EQ(store.lastEvent("a")->timestamp, 150.25);
  EXPECT_TRUE(store.recentEvents("a", 0).isEmpty());
  EXPECT_FALSE(store.lastEvent("nobody"));
}

TEST_F(EventStoreTest, OneAppendIsOneChangeAndAnEventOlderThanTheKeptFiftyIsDropped) {
  EventStore store(defaults);
  for (int i = 0; i < 50; ++i) store.append(at("a", 500 + i));
  QList<QList<AgentEvent>> seen;
  QObject::connect(&store, &EventStore::eventsChanged, [&](const QList<AgentEvent>& e) { seen << e; });
  const AgentEvent old = at("a", 1);
  store.append(old);
  // Observers (the dashboard's rows) are told once, of the finished list.
  ASSERT_EQ(seen.size(), 1);
  EXPECT_FALSE(seen[0].contains(old));
  EXPECT_FALSE(store.events().contains(old));
  EXPECT_EQ(seen[0], store.events());
}

TEST_F(EventStoreTest, EqualTimestampsOfOneAgentKeepTheirOrder) {
  EventStore store(defaults);
  const AgentEvent first = at("a", 7), second = at("a", 7);
  store.append(first);
  store.append(second);
  EXPECT_EQ(store.events(), (QList<AgentEvent>{first, second}));
}

TEST_F(EventStoreTest, StoresCompactRecordsWithUpperCaseIdsAndReferenceDateSeconds) {
  EventStore store(defaults);
  AgentEvent withDetails = AgentEvent::make("agent", AgentEventType::killedByOOM, QString("pid 42"));
  store.append(withDetails);
  store.append(AgentEvent::make("agent", AgentEventType::exitedNormal, QString("")));
  store.append(AgentEvent::make("agent", AgentEventType::zombieRecovered));
  store.flush();

  const QString text = storedText();
  EXPECT_FALSE(text.contains('\n'));
  EXPECT_FALSE(text.contains(": "));
  const QJsonArray array = storedArray();
  ASSERT_EQ(array.size(), 3);
  const QJsonObject newest = array[0].toObject(), empty = array[1].toObject(), full = array[2].toObject();
  EXPECT_EQ(newest.value("type"), "zombieRecovered");
  EXPECT_FALSE(newest.contains("details"));
  EXPECT_EQ(empty.value("details"), "");
  EXPECT_EQ(full.value("details"), "pid 42");
  EXPECT_EQ(full.value("type"), "killedByOOM");
  EXPECT_EQ(full.value("agentId"), "agent");
  EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                  .match(full.value("id").toString())
                  .hasMatch());
  EXPECT_EQ(full.value("id").toString(), withDetails.id.toString(QUuid::WithoutBraces).toUpper());
  // Seconds since 2001-01-01 UTC, with their fraction.
  const double unixNow = QDateTime::currentMSecsSinceEpoch() / 1000.0;
  EXPECT_NEAR(full.value("timestamp").toDouble(), unixNow - 978307200.0, 5.0);
  EXPECT_NEAR(withDetails.date().toMSecsSinceEpoch() / 1000.0, unixNow, 5.0);
}

TEST_F(EventStoreTest, SurvivesARestartExactly) {
  QList<AgentEvent> before;
  const EventText kept = EventText::of(LocKey::evDetailRestartFailed({}), 0, EventText::of(LocKey::restartReasonTimedOut(600)));
  {
    EventStore store(defaults);
    store.append(AgentEvent::make("a", AgentEventType::throttled, QString("重启失败：重启命令 600 秒内未完成"), kept));
    store.flush();
    // Beside the details: the key and its values, a reason as a key of its own.
    const QJsonObject stored = storedArray()[0].toObject();
    EXPECT_EQ(stored.value("key"), "evDetailRestartFailed");
    EXPECT_EQ(stored.value("values"), QJsonArray({QJsonObject{{"key", "restartReasonTimedOut"}, {"values", QJsonArray{600}}}}));
    store.append(AgentEvent::make("a", AgentEventType::recovered, QString("x")));
    store.append(AgentEvent::make("b", AgentEventType::hangDetected));
    before = store.events();
  }
  // The store's end waits for the write.
  Defaults reread(defaults.filePath());
  EventStore restarted(reread);
  EXPECT_EQ(restarted.events(), before);
}

// A log that did not decode in full was dropped without a word; a time of
// 1.79e308 was taken, and converted out of range when the history drew it.
TEST_F(EventStoreTest, OfAStoredLogThatDoesNotDecodeWhatDecodesIsKeptAndTheWholeSetAsideAtTheNextAppend) {
  const char* broken[] = {
      R"([{"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E5F","agentId":"a","type":"vanished","timestamp":1}])",
      R"([{"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E5F","agentId":"a","type":"started"}])",
      R"([{"id":"not-a-uuid","agentId":"a","type":"started","timestamp":1}])",
      R"([{"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E5F","agentId":"a","type":"started","timestamp":1.79e308}])",
      R"([{"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E5F","agentId":"a","type":"started","timestamp":-1e18}])",
      R"({"events":[]})",
      "[{",
  };
  for (const char* text : broken) {
    SCOPED_TRACE(text);
    defaults.set(EventStore::defaultsKey, QString::fromUtf8(text));
    testing::internal::CaptureStdout();
    EventStore store(defaults);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(store.events().isEmpty());
    EXPECT_EQ(storedText(), QString::fromUtf8(text));
    EXPECT_NE(out.find("[Event] 事件记录"), std::string::npos) << out;
  }
  EventStore store(defaults);
  store.append(at("a", 3));
  store.flush();
  EXPECT_EQ(storedArray().size(), 1);
  EXPECT_EQ(defaults.string(EventStore::undecodableKey), "[{");  // not lost
  store.append(at("a", 4));
  store.flush();
  EXPECT_EQ(defaults.string(EventStore::undecodableKey), "[{");

  // The events that decode are kept.
  const QString mixed = QStringLiteral(R"([{"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E5F","agentId":"a","type":"started","timestamp":7},)"
                                       R"({"id":"6F2D2A4E-1C3B-4A5D-9E8F-0A1B2C3D4E50","agentId":"a","type":"started","timestamp":1.79e308}])");
  defaults.set(EventStore::defaultsKey, mixed);
  testing::internal::CaptureStdout();
  EventStore kept(defaults);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("[Event] 事件记录中 1 条无法解码，保留其余 1 条"), std::string::npos);
  ASSERT_EQ(kept.events().size(), 1);
  EXPECT_EQ(kept.events().first().timestamp, 7);
  kept.append(at("a", 8));
  kept.flush();
  EXPECT_EQ(storedArray().size(), 2);
  EXPECT_EQ(defaults.string(EventStore::undecodableKey), mixed);
  // Whatever a time holds, the history can draw it.
  EXPECT_EQ(at("a", 1.79e308).date(), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC));
  EXPECT_EQ(at("a", -1e300).date(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
}

TEST_F(EventStoreTest, ALoadedLogIsKeptAsStoredUntilTheNextAppendTrimsIt) {
  QList<AgentEvent> many;
  for (int i = 0; i < 60; ++i) many << at("a", i);  // oldest first, too many
  defaults.set(EventStore::defaultsKey, QString::fromUtf8(EventStore::encode(many)));
  EventStore store(defaults);
  EXPECT_EQ(store.events(), many);
  EXPECT_EQ(store.lastEvent("a")->timestamp, 0) << "the first of it as stored";
  store.append(at("a", 100));
  EXPECT_EQ(store.events().size(), EventStore::maxPerAgent);
  EXPECT_EQ(store.events().first().timestamp, 100);
  EXPECT_EQ(store.lastEvent("a")->timestamp, 100);
  EXPECT_EQ(store.events().last().timestamp, 11);
  store.flush();
  EXPECT_FALSE(defaults.string(EventStore::undecodableKey));
}

// Every append rewrote and flushed the whole settings file on the window
// thread; later a pool thread copied and wrote the whole log for each burst.
TEST_F(EventStoreTest, ABurstIsStoredOffTheWindowThreadAndWhatIsPendingAtQuitIsFlushed) {
  EventStore store(defaults);
  // The writing thread is held: the appends go on all the same.
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  std::atomic<int> writes{0};
  defaults.setWriteHook([&] {
    ++writes;
    released.wait();
  });
  for (int i = 0; i < 200; ++i) store.append(at(QString::number(i % 7), i));
  // Readers see the burst at once; the file has not been touched yet.
  EXPECT_EQ(store.events().size(), 200);
  EXPECT_EQ(store.lastEvent("3")->timestamp, 199);
  EXPECT_FALSE(Defaults(defaults.filePath()).contains(EventStore::defaultsKey));
  release.set_value();
  ASSERT_TRUE(test::waitUntil([&] {
    return QJsonDocument::fromJson(Defaults(defaults.filePath()).string(EventStore::defaultsKey).value_or("").toUtf8())
               .array()
               .size() == 200;
  }));
  EXPECT_EQ(writes.load(), 1) << "the burst is written once";
  defaults.setWriteHook({});
  EXPECT_EQ(EventStore(defaults).events(), store.events());

  // A pending write goes out at once on flush (quit), and at the end of
  // the store.
  store.append(at("a", 1000));
  store.flush();
  EXPECT_EQ(QJsonDocument::fromJson(Defaults(defaults.filePath()).string(EventStore::defaultsKey).value_or("").toUtf8())
                .array()
                .size(),
            201);
  {
    EventStore last(defaults);
    last.append(at("a", 1001));
  }
  EXPECT_EQ(storedArray().size(), 202);

  // Nor does the last write bring back a HOME removed before it (another
  // session's, whose writer still ran).
  const QString gone = home.path() + "/removed-home";
  ASSERT_TRUE(QDir().mkpath(gone));
  {
    qputenv("HOME", QFile::encodeName(gone));
    Defaults theirs(gone + "/.config/Tollamere/defaults.json");
    qputenv("HOME", QFile::encodeName(home.path()));
    std::promise<void> removedNow;
    const std::shared_future<void> homeGone = removedNow.get_future().share();
    theirs.setWriteHook([homeGone] { homeGone.wait(); });
    EventStore late(theirs);
    late.append(at("a", 1002));
    EXPECT_TRUE(FileOps::removeItem(gone));
    removedNow.set_value();
  }
  EXPECT_FALSE(QFileInfo::exists(gone)) << gone.toStdString();
}

// Each exit stored the whole log again: with 10,000 events it cost 7 ms of
// processor time and 340 KB written. An append hands the defaults its one
// event (and the agent's oldest to drop), and a log loaded in order is not
// handed over again.
TEST_F(EventStoreTest, AnAppendWritesItsOwnEventHoweverLongTheLog) {
  QList<AgentEvent> many;
  for (int i = 0; i < 2000; ++i) many << at(QStringLiteral("agent-%1").arg(i % 40), 10000 - i, QString("pid=%1").arg(i));
  defaults.set(EventStore::defaultsKey, QString::fromUtf8(EventStore::encode(many)));
  ASSERT_TRUE(defaults.flush());
  Defaults large(defaults.filePath(), Defaults::Options{4 * 1024});
  const QString fileBefore = test::readFile(large.filePath());
  {
    EventStore store(large);
    store.append(at("agent-3", 20000));  // agent-3 has its fifty: its oldest goes
    store.append(at("new", 20001));
    ASSERT_TRUE(large.flush());
    EXPECT_EQ(test::readFile(large.filePath()), fileBefore) << "the file is not written again";
    const QStringList lines = test::readFile(large.journalPath()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();  // its first line, two in, one out
    EXPECT_TRUE(lines[1].contains("\\\"agentId\\\":\\\"agent-3\\\"")) << lines[1].toStdString();
    EXPECT_TRUE(lines[3].contains("\\\"new\\\"")) << lines[3].toStdString();
    Defaults reread(defaults.filePath());
    EXPECT_EQ(EventStore(reread).events(), store.events());
  }
}

TEST(EventStoreShared, FollowsTheCurrentHome) {
  EventStore* first;
  {
    test::TempHome home;
    first = &EventStore::shared();
    EXPECT_EQ(first, &EventStore::shared());
    first->append(AgentEvent::make("a", AgentEventType::started));
    first->flush();
  }
  test::TempHome other;
  EXPECT_NE(&EventStore::shared(), first);
  EXPECT_TRUE(EventStore::shared().events().isEmpty());
}

}  // namespace
}  // namespace tlr
