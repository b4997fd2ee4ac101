#include "service/VornelAppSDK.h"

#include "LoopbackHttpServer.h"
#include "ScriptedPeer.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;
using tlr::NetworkEventKind;
using tlr::NetworkLogger;
using tlr::VornelAppSDK;
using tlr::VornelUpdate;
using tlr::test::LoopbackHttpServer;
using tlr::test::ScriptedPeer;
using tlr::test::TempHome;
using tlr::test::waitUntil;

namespace {

constexpr const char* kAppId = "R8WQ2M5KXD.com.tollamere.app";

const QByteArray kUpdateAnswer = R"({"update": {"mode": "normal", "latest_version": "0.3.0",
  "min_supported_version": "0.1.0", "update_available": true, "force": true,
  "download_url": "https://tollamere.example/get", "notes": "fixes"}})";

// A client with its own network log in a temporary home, talking to a
// loopback server.
struct Fixture {
  TempHome home;
  LoopbackHttpServer server;
  NetworkLogger networkLog{tlr::Paths::appSupport() + "/network-log.json"};
  std::unique_ptr<VornelAppSDK> sdk;

  explicit Fixture(VornelAppSDK::Timing timing = quickTiming())
      : sdk(std::make_unique<VornelAppSDK>(networkLog, timing)) {}

  static VornelAppSDK::Timing quickTiming() {
    VornelAppSDK::Timing t;
    t.requestTimeout = 5s;
    t.activationGap = 0ms;
    return t;
  }
  void answer(QByteArray body, int status = 200) {
    server.setResponder([body, status](const LoopbackHttpServer::Request&) {
      return LoopbackHttpServer::Response{status, body, false};
    });
  }
  void start(const QUrl& endpoint) { sdk->start(kAppId, "0.2.0", endpoint, "official"); }
  bool waitForLogEntries(int n) {
    return waitUntil([&] { return networkLog.events().size() >= n; });
  }
  QJsonObject body(int i) const {
    return QJsonDocument::fromJson(server.requests().at(i).body).object();
  }
};

}  // namespace

TEST(VornelCheckRequest, StartPostsTheCheckAndLogsIt) {
  Fixture f;
  f.answer("{}");
  f.start(f.server.endpoint("/v1"));  // a base without its final slash
  ASSERT_TRUE(f.waitForLogEntries(1));

  ASSERT_EQ(f.server.requests().size(), 1);
  const auto& request = f.server.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/v1/app/check");
  EXPECT_EQ(request.headers.value("content-type"), "application/json");
  const QJsonObject body = f.body(0);
  EXPECT_EQ(body["app_id"].toString(), kAppId);
  EXPECT_EQ(body["version"].toString(), "0.2.0");
  EXPECT_EQ(body["channel"].toString(), "official");
  EXPECT_EQ(body["reason"].toString(), "start");
  EXPECT_EQ(body["platform"].toString(), "linux");
  EXPECT_TRUE(body["os_version"].toString().startsWith("Linux "));
  EXPECT_EQ(body["install_id"].toString(), VornelAppSDK::installId(kAppId));

  const auto entry = f.networkLog.events().at(0);
  EXPECT_EQ(entry.kind, NetworkEventKind::updateCheck);
  EXPECT_EQ(entry.bytes, request.body.size());
  EXPECT_TRUE(entry.success);
  EXPECT_FALSE(f.sdk->currentUpdate().has_value());
}

TEST(VornelCheckRequest, ActivationChecksButNotWithinTheGap) {
  VornelAppSDK::Timing timing = Fixture::quickTiming();
  timing.activationGap = 1h;
  Fixture f(timing);
  f.sdk->appDidBecomeActive();  // not started: nothing to check for
  f.start(f.server.endpoint());
  ASSERT_TRUE(f.waitForLogEntries(1));
  f.sdk->appDidBecomeActive();
  f.sdk->checkNow("activate");  // an explicit check is never held back
  ASSERT_TRUE(f.waitForLogEntries(2));
  ASSERT_EQ(f.server.requests().size(), 2);
  EXPECT_EQ(f.body(1)["reason"].toString(), "activate");

  Fixture g;  // no gap
  g.start(g.server.endpoint());
  // The start check first, so the server sees the two in a known order.
  ASSERT_TRUE(g.waitForLogEntries(1));
  g.sdk->appDidBecomeActive();
  ASSERT_TRUE(g.waitForLogEntries(2));
  EXPECT_EQ(g.body(1)["reason"].toString(), "activate");
}

TEST(VornelInstallId, StableAcrossCallsAndProcesses) {
  TempHome home;
  const QString id = VornelAppSDK::installId(kAppId);
  EXPECT_EQ(id.size(), 36);
  EXPECT_EQ(id, id.toLower());
  EXPECT_EQ(VornelAppSDK::installId(kAppId), id);
  EXPECT_EQ(tlr::Defaults::shared().string(QStringLiteral("vornel.") + kAppId + ".install_id"),
            std::optional<QString>(id));

  ASSERT_TRUE(tlr::Defaults::shared().flush());
  QProcess other;
  other.start(tlr::test::toolPath("tlr_install_id_tool"), {kAppId});
  ASSERT_TRUE(other.waitForFinished(10000));
  EXPECT_EQ(QString::fromUtf8(other.readAllStandardOutput()), id);

  EXPECT_NE(VornelAppSDK::installId("another.app"), id);
}

TEST(VornelUpdates, AnAvailableUpdateReachesTheHandler) {
  Fixture f;
  f.answer(kUpdateAnswer);
  std::optional<VornelUpdate> seen;
  int calls = 0;
  f.sdk->setOnUpdateAvailable([&](const VornelUpdate& u) {
    seen = u;
    ++calls;
  });
  f.start(f.server.endpoint());
  ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
  EXPECT_EQ(seen->latest_version, "0.3.0");
  EXPECT_EQ(seen->min_supported_version, "0.1.0");
  EXPECT_EQ(seen->mode, "normal");
  EXPECT_TRUE(seen->force);
  EXPECT_EQ(seen->download_url, "https://tollamere.example/get");
  EXPECT_EQ(seen->notes, "fixes");
  ASSERT_TRUE(f.sdk->currentUpdate().has_value());
  EXPECT_EQ(f.sdk->currentUpdate()->latest_version, "0.3.0");

  // A replaced handler gets the next answer; the old one does not. Answers
  // in chunks, or ended by the end of the connection, read the same.
  int newCalls = 0;
  f.sdk->setOnUpdateAvailable([&](const VornelUpdate&) { ++newCalls; });
  using Framing = LoopbackHttpServer::Response::Framing;
  for (const Framing framing : {Framing::chunked, Framing::close}) {
    f.server.setResponder([framing](const LoopbackHttpServer::Request&) {
      LoopbackHttpServer::Response response{200, kUpdateAnswer, false};
      response.framing = framing;
      return response;
    });
    f.sdk->checkNow("activate");
    ASSERT_TRUE(waitUntil([&] { return newCalls == (framing == Framing::chunked ? 1 : 2); }));
  }
  EXPECT_EQ(calls, 1);
}

TEST(VornelUpdates, ARecordNotMarkedAvailableIsPublishedButNotAnnounced) {
  Fixture f;
  f.answer(R"({"update": {"latest_version": "0.2.0", "update_available": false}})");
  int calls = 0;
  f.sdk->setOnUpdateAvailable([&](const VornelUpdate&) { ++calls; });
  f.start(f.server.endpoint());
  ASSERT_TRUE(f.waitForLogEntries(1));
  ASSERT_TRUE(f.sdk->currentUpdate().has_value());
  EXPECT_FALSE(f.sdk->currentUpdate()->update_available);
  EXPECT_FALSE(f.sdk->currentUpdate()->force);
  EXPECT_EQ(calls, 0);
}

TEST(VornelFailures, BadAnswersAndNoServerStaySilentAndLogFailure) {
  const QList<std::pair<QByteArray, int>> answers = {
      {"this is not json", 200},
      {"[1, 2]", 200},
      {R"({"update": {"latest_version": 3, "update_available": true}})", 200},
      {R"({"update": {"latest_version": "9.9", "update_available": "yes"}})", 200},
      {kUpdateAnswer, 500},
  };
  for (const auto& [body, status] : answers) {
    Fixture f;
    f.answer(body, status);
    int calls = 0;
    f.sdk->setOnUpdateAvailable([&](const VornelUpdate&) { ++calls; });
    f.start(f.server.endpoint());
    ASSERT_TRUE(f.waitForLogEntries(1)) << body.constData();
    EXPECT_FALSE(f.networkLog.events().at(0).success) << body.constData();
    EXPECT_FALSE(f.sdk->currentUpdate().has_value()) << body.constData();
    EXPECT_EQ(calls, 0);
  }

  Fixture dropped;
  dropped.server.setResponder([](const LoopbackHttpServer::Request&) {
    return LoopbackHttpServer::Response{200, {}, true};
  });
  dropped.start(dropped.server.endpoint());
  ASSERT_TRUE(dropped.waitForLogEntries(1));
  EXPECT_FALSE(dropped.networkLog.events().at(0).success);

  // A header line longer than any of a web service's used to spin the
  // window thread for ever once the line had filled its room.
  Fixture longLine;
  longLine.server.setResponder([](const LoopbackHttpServer::Request&) {
    LoopbackHttpServer::Response response;
    response.status = 302;
    response.location = "http://127.0.0.1/" + QByteArray(20 * 1024, 'x');
    return response;
  });
  longLine.start(longLine.server.endpoint());
  ASSERT_TRUE(longLine.waitForLogEntries(1));
  EXPECT_FALSE(longLine.networkLog.events().at(0).success);

  // A port nobody listens on any more: the connection is refused.
  Fixture refused;
  QTcpServer gone;
  ASSERT_TRUE(gone.listen(QHostAddress::LocalHost, 0));
  const quint16 port = gone.serverPort();
  gone.close();
  refused.start(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/").arg(port)));
  ASSERT_TRUE(refused.waitForLogEntries(1));
  EXPECT_FALSE(refused.networkLog.events().at(0).success);
  EXPECT_EQ(refused.networkLog.events().at(0).kind, NetworkEventKind::updateCheck);
}

// A server sending a byte at a time, never silent for long, used to hold a
// request for as long as it liked: the whole exchange has a deadline.
TEST(VornelFailures, ASilentOrADrippingServerTimesOut) {
  VornelAppSDK::Timing timing = Fixture::quickTiming();
  timing.requestTimeout = 300ms;
  Fixture f(timing);
  QTcpServer silent;  // accepts, never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  f.start(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/").arg(silent.serverPort())));
  ASSERT_TRUE(f.waitForLogEntries(1));
  EXPECT_FALSE(f.networkLog.events().at(0).success);

  timing.requestTimeout = 5s;
  timing.answerDeadline = 500ms;
  Fixture dripping(timing);
  dripping.server.setResponder([](const LoopbackHttpServer::Request&) {
    LoopbackHttpServer::Response response;
    response.body = kUpdateAnswer;  // a valid answer, 60 ms a byte
    response.dripMs = 60;
    return response;
  });
  int announced = 0;
  dripping.sdk->setOnUpdateAvailable([&](const VornelUpdate&) { ++announced; });
  testing::internal::CaptureStdout();
  dripping.start(dripping.server.endpoint());
  const bool logged = dripping.waitForLogEntries(1);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(logged);
  EXPECT_FALSE(dripping.networkLog.events().at(0).success);
  EXPECT_NE(out.find("[Vornel] check (start) failed: answer no complete answer within 500 ms"), std::string::npos) << out;
  EXPECT_EQ(announced, 0);
}

TEST(VornelHeartbeat, TheAnswersIntervalDrivesHeartbeatChecks) {
  VornelAppSDK::Timing timing = Fixture::quickTiming();
  timing.minimumHeartbeat = 100ms;
  Fixture f(timing);
  f.answer("{}");
  f.start(f.server.endpoint());
  ASSERT_TRUE(f.waitForLogEntries(1));
  EXPECT_EQ(f.sdk->heartbeatInterval(), std::chrono::milliseconds(6h)) << "the default";

  f.answer(R"({"heartbeat_interval": 0.2})");
  f.sdk->checkNow("activate");
  ASSERT_TRUE(waitUntil([&] { return f.server.requests().size() >= 4; }, 5s));
  EXPECT_EQ(f.sdk->heartbeatInterval(), 200ms);
  EXPECT_EQ(f.body(2)["reason"].toString(), "heartbeat");
  ASSERT_TRUE(f.waitForLogEntries(3));
  EXPECT_EQ(f.networkLog.events().at(2).kind, NetworkEventKind::heartbeat);

  f.answer(R"({"heartbeat_interval": 0.001})");
  ASSERT_TRUE(waitUntil([&] { return f.sdk->heartbeatInterval() == 100ms; }, 5s))
      << "kept at the minimum";
}

// A 1.5 GB answer used to be read into memory whole.
TEST(VornelFailures, AnOversizedAnswerIsStoppedWhileItStreams) {
  constexpr qint64 kServed = 128 * 1024 * 1024;
  for (const bool declared : {true, false}) {
    Fixture f;
    f.server.setResponder([declared](const LoopbackHttpServer::Request&) {
      LoopbackHttpServer::Response response;
      response.streamedBytes = kServed;
      response.declareLength = declared;
      return response;
    });
    f.start(f.server.endpoint());
    ASSERT_TRUE(f.waitForLogEntries(1));
    EXPECT_FALSE(f.networkLog.events().at(0).success);
    ASSERT_TRUE(waitUntil([&] { return f.server.streamsEnded() == 1; }, 60s));
    EXPECT_LT(f.server.streamedBytesTaken(), 32 * 1024 * 1024) << "declared length: " << declared;
  }
}

// A chunked answer is read by the network layer without pause; counted only
// on the window thread, it grew the memory by hundreds of megabytes while
// that thread was busy.
TEST(VornelFailures, AChunkedAnswerIsStoppedWhileTheWindowThreadIsBusy) {
  Fixture f;
  // One endless chunk, sent as fast as the client takes it, on a thread of
  // its own (so it goes on while the test's main thread is busy).
  ScriptedPeer flood("HTTP/1.1 200 Answer\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n40000000\r\n",
                     QByteArray(64 * 1024, '7'), 0x40000000);
  f.start(QUrl(flood.address() + "/v1/"));
  ASSERT_TRUE(waitUntil([&] { return flood.sent() > 0; }));
  // The window thread busy for a second (painting, a scan), handling no event.
  const auto busyUntil = std::chrono::steady_clock::now() + 1s;
  while (std::chrono::steady_clock::now() < busyUntil && flood.sent() < 64 * 1024 * 1024) std::this_thread::yield();
  ASSERT_TRUE(f.waitForLogEntries(1));
  EXPECT_FALSE(f.networkLog.events().at(0).success);
  ASSERT_TRUE(waitUntil([&] { return flood.ended(); }));
  EXPECT_LT(flood.sent(), 32 * 1024 * 1024);
}

// The check of the start, still unanswered at quit, used to stay allocated.
TEST(VornelCheckRequest, StopAbortsAndFreesWhatIsInFlight) {
  Fixture f;
  QTcpServer silent;  // accepts, never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  f.start(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/").arg(silent.serverPort())));
  ASSERT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }));
  QTcpSocket* connection = silent.nextPendingConnection();
  EXPECT_EQ(f.sdk->requestsInFlight(), 1);

  f.sdk->stop();
  EXPECT_EQ(f.sdk->requestsInFlight(), 0);
  EXPECT_TRUE(waitUntil([&] { return connection->state() == QAbstractSocket::UnconnectedState; }))
      << "the request was aborted";
  EXPECT_TRUE(f.networkLog.events().isEmpty()) << "an aborted check is neither handled nor logged";
}
