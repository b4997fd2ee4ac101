#include "core/netlog/NetworkLogger.h"
#include "platform/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using tlr::NetworkEvent;
using tlr::NetworkEventKind;
using tlr::NetworkLogger;
using tlr::test::TempHome;

namespace {

QString logPath() { return tlr::Paths::appSupport() + "/network-log.json"; }

QJsonArray readLog(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QJsonDocument::fromJson(file.readAll()).array();
}

// A clock the test moves by hand.
struct FakeClock {
  QDateTime now = QDateTime(QDate(2025, 3, 1), QTime(12, 0, 0, 250), Qt::UTC);
  NetworkLogger::Clock fn() {
    return [this] { return now; };
  }
};

QByteArray eventJson(const QString& kind, const QString& timestamp) {
  return QStringLiteral(R"([{"bytes": 10, "id": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0",)"
                        R"( "kind": "%1", "success": true, "timestamp": "%2"}])")
      .arg(kind, timestamp)
      .toUtf8();
}

}  // namespace

TEST(NetworkLogRecords, FirstLogCreatesTheFileWithThatEvent) {
  TempHome home;
  NetworkLogger logger(logPath());
  EXPECT_TRUE(logger.events().isEmpty());
  logger.log(NetworkEventKind::heartbeat, 321, false);
  logger.flush();

  const QJsonArray file = readLog(logPath());
  ASSERT_EQ(file.size(), 1);
  const QJsonObject o = file.at(0).toObject();
  EXPECT_EQ(o.keys(), (QStringList{"bytes", "id", "kind", "success", "timestamp"}));
  EXPECT_EQ(o.value("kind").toString(), "heartbeat");
  EXPECT_EQ(o.value("bytes").toInteger(), 321);
  EXPECT_FALSE(o.value("success").toBool());
  const QString id = o.value("id").toString();
  EXPECT_EQ(id, id.toUpper());
  EXPECT_EQ(id, logger.events().at(0).id.toString(QUuid::WithoutBraces).toUpper());
  EXPECT_TRUE(o.value("timestamp").toString().endsWith('Z'));
  EXPECT_TRUE(tlr::test::readFile(logPath()).contains("\n    "))
      << "the file is indented, one key per line";
}

TEST(NetworkLogRecords, EventsSurviveARestartInOrderToWholeSeconds) {
  TempHome home;
  FakeClock clock;
  {
    NetworkLogger logger(logPath(), clock.fn());
    logger.log(NetworkEventKind::updateCheck, 1, true);
    logger.log(NetworkEventKind::backupUpload, 2, true);
    logger.log(NetworkEventKind::restoreFetch, 3, false);
  }
  NetworkLogger again(logPath(), clock.fn());
  const auto events = again.events();
  ASSERT_EQ(events.size(), 3);
  EXPECT_EQ(events[0].kind, NetworkEventKind::updateCheck);
  EXPECT_EQ(events[1].kind, NetworkEventKind::backupUpload);
  EXPECT_EQ(events[2].kind, NetworkEventKind::restoreFetch);
  EXPECT_EQ(events[2].bytes, 3);
  EXPECT_EQ(events[0].timestamp, clock.now.addMSecs(-250)) << "the fraction of a second is lost";
}

// An unreadable file used to be replaced at the next record, silently: what
// it held was lost.
TEST(NetworkLogRecords, AnUnreadableFileIsSetAsideWholeAndItsGoodRecordsKept) {
  const QByteArray good = eventJson("heartbeat", "2025-03-01T11:00:00Z").chopped(1) + ", ";
  const QList<std::pair<QByteArray, qsizetype>> broken = {
      {eventJson("download", "2025-03-01T12:00:00Z"), 0},  // unknown kind
      {eventJson("heartbeat", "2025-03-01 12:00:00"), 0},   // not an internet date
      {R"([{"id": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "kind": "heartbeat",)"
       R"( "success": true, "timestamp": "2025-03-01T12:00:00Z"}])", 0},  // no bytes
      {"[{\"bytes\": 1,", 0},
      {"{}", 0},
      {good + eventJson("heartbeat", "2025-03-01T12:00:00Z").mid(1).replace("10", "-1"), 1},  // negative bytes
      {good + eventJson("download", "2025-03-01T12:00:00Z").mid(1), 1},
      {"[" + QByteArray(4 * 1024 * 1024, ' ') + "]", 0},  // too large to read
  };
  for (const auto& [content, kept] : broken) {
    SCOPED_TRACE(content.left(120).toStdString());
    TempHome home;
    FakeClock clock;
    home.writeFile(".local/share/Tollamere/network-log.json", content);
    testing::internal::CaptureStdout();
    NetworkLogger logger(logPath(), clock.fn());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logger.events().size(), kept);
    EXPECT_FALSE(QFile::exists(logPath()));
    const QStringList aside = QDir(QFileInfo(logPath()).path()).entryList({"network-log.json.unreadable-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(tlr::test::readBytes(QFileInfo(logPath()).path() + "/" + aside.first()), content);
    EXPECT_NE(out.find("[NetworkLogger] network-log.json 无法读取（"), std::string::npos) << out;
    EXPECT_NE(out.find(aside.first().toStdString()), std::string::npos) << out;
    logger.log(NetworkEventKind::updateCheck, 5, true);
    logger.flush();
    EXPECT_EQ(readLog(logPath()).size(), kept + 1);
  }
}

TEST(NetworkLogRetention, NinetyDaysToTheSecond) {
  TempHome home;
  FakeClock clock;
  NetworkLogger logger(logPath(), clock.fn());
  logger.log(NetworkEventKind::updateCheck, 1, true);  // at t0
  clock.now = clock.now.addSecs(1);
  logger.log(NetworkEventKind::updateCheck, 2, true);  // at t0 + 1 s

  clock.now = clock.now.addSecs(90LL * 86400 - 1);  // exactly 90 days after the first
  logger.log(NetworkEventKind::heartbeat, 3, true);
  ASSERT_EQ(logger.events().size(), 3) << "an event exactly at the cutoff stays";

  clock.now = clock.now.addSecs(1);
  logger.log(NetworkEventKind::heartbeat, 4, true);
  const auto events = logger.events();
  ASSERT_EQ(events.size(), 3);
  EXPECT_EQ(events.front().bytes, 2);
}

TEST(NetworkLogRetention, OldEventsLeaveTheListAtLoadButTheFileOnlyAtTheNextLog) {
  TempHome home;
  QDir().mkpath(QFileInfo(logPath()).absolutePath());
  const QByteArray old = eventJson("heartbeat", "2024-01-01T00:00:00Z");
  home.writeFile(".local/share/Tollamere/network-log.json", old);
  FakeClock clock;
  NetworkLogger logger(logPath(), clock.fn());
  EXPECT_TRUE(logger.events().isEmpty());
  EXPECT_EQ(tlr::test::readFile(logPath()).toUtf8(), old);
  logger.log(NetworkEventKind::updateCheck, 1, true);
  logger.flush();
  const QJsonArray file = readLog(logPath());
  ASSERT_EQ(file.size(), 1);
  EXPECT_EQ(file.at(0)["kind"].toString(), "updateCheck");
}

// The newest records are kept, so the file never grows past what is read.
TEST(NetworkLogWriting, ManyQuickLogsEndWithTheNewestEventsInCallOrder) {
  TempHome home;
  NetworkLogger logger(logPath());
  const int count = NetworkLogger::kMaxEvents + 50;
  for (int i = 0; i < count; ++i) logger.log(NetworkEventKind::updateCheck, i, true);
  logger.flush();
  const QJsonArray file = readLog(logPath());
  ASSERT_EQ(file.size(), NetworkLogger::kMaxEvents);
  for (int i = 0; i < NetworkLogger::kMaxEvents; ++i) EXPECT_EQ(file.at(i)["bytes"].toInteger(), i + 50);
  EXPECT_EQ(NetworkLogger(logPath()).events().size(), NetworkLogger::kMaxEvents) << "read back whole";
  // Saved through a temporary file and a rename: nothing else is left behind.
  EXPECT_EQ(QDir(QFileInfo(logPath()).absolutePath()).entryList(QDir::Files),
            QStringList{"network-log.json"});
}

TEST(NetworkLogWriting, AnUnwritableFolderIsSilentAndKeepsTheList) {
  TempHome home;
  const QString path = home.path() + "/not-a-folder/network-log.json";
  home.writeFile("not-a-folder", "a file where the folder should be");
  NetworkLogger logger(path);
  logger.log(NetworkEventKind::restoreFetch, 0, true);
  logger.flush();
  EXPECT_EQ(logger.events().size(), 1);
}

TEST(NetworkLogWriting, WritesQueuedJustBeforeTheProcessEndsAreOnDisk) {
  for (const QString mode : {"exit", "flush-_exit"}) {
    TempHome home;
    QProcess tool;
    tool.start(tlr::test::toolPath("tlr_netlog_tool"), {mode, "50"});
    ASSERT_TRUE(tool.waitForFinished(10000));
    EXPECT_EQ(tool.exitCode(), 0);
    const QJsonArray file = readLog(logPath());
    ASSERT_EQ(file.size(), 50) << mode.toStdString();
    EXPECT_EQ(file.at(49)["bytes"].toInteger(), 49);
  }
}
