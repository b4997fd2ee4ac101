// Announcements: the answer's "ad" record, its picture, and opening its link.
#include "service/VornelAppSDK.h"

#include "LoopbackHttpServer.h"
#include "core/netlog/NetworkLogger.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using tlr::VornelAd;
using tlr::VornelAppSDK;
using tlr::test::FakeBin;
using tlr::test::LoopbackHttpServer;
using tlr::test::TempHome;
using tlr::test::waitUntil;

namespace {

struct AdFixture {
  TempHome home;
  FakeBin bin;
  LoopbackHttpServer server;
  tlr::NetworkLogger networkLog{tlr::Paths::appSupport() + "/network-log.json"};
  VornelAppSDK sdk{networkLog};
  QByteArray checkAnswer = "{}";

  AdFixture() {
    bin.addRecorder("xdg-open");
    server.setResponder([this](const LoopbackHttpServer::Request& r) {
      if (r.path.endsWith("/banner.png")) return LoopbackHttpServer::Response{200, "PNGBYTES", false};
      if (r.path.endsWith("/moved.png")) {  // where a picture may move to
        LoopbackHttpServer::Response moved{302, {}, false};
        moved.location = "banner.png";
        return moved;
      }
      return LoopbackHttpServer::Response{200, checkAnswer, false};
    });
  }
  QByteArray adAnswer(const QString& link, const QString& picture = QStringLiteral("banner.png")) const {
    return QStringLiteral(R"({"ad": {"id": "a1", "image_url": "%1%3", "link_url": "%2"}})")
        .arg(server.endpoint().toString(), link, picture)
        .toUtf8();
  }
  QString opened() const { return tlr::test::readFile(bin.recordPath("xdg-open")); }
};

}  // namespace

TEST(VornelAnnouncements, AnAnswersAdIsPublishedWithItsDownloadedPicture) {
  AdFixture f;
  f.checkAnswer = f.adAnswer("https://tollamere.example/news", "moved.png");
  int changed = 0;
  QObject::connect(&f.sdk, &VornelAppSDK::currentAdChanged, [&changed] { ++changed; });
  f.sdk.start("app", "0.2.0", f.server.endpoint());
  ASSERT_TRUE(waitUntil([&] { return f.sdk.currentAd().has_value(); }));
  EXPECT_EQ(f.sdk.currentAd()->link_url, "https://tollamere.example/news");
  EXPECT_EQ(f.sdk.adImage(), "PNGBYTES");
  EXPECT_EQ(changed, 1);

  // A later answer without one takes it down.
  f.checkAnswer = "{}";
  f.sdk.checkNow("activate");
  ASSERT_TRUE(waitUntil([&] { return !f.sdk.currentAd().has_value(); }));
  EXPECT_TRUE(f.sdk.adImage().isEmpty());
}

TEST(VornelAnnouncements, OnlyWebAddressesAreOpened) {
  AdFixture f;
  EXPECT_FALSE(f.sdk.openCurrentAd()) << "nothing to open";
  f.sdk.setCurrentAd(VornelAd{"a", "https://x.example/p.png", "https://tollamere.example/a?b=1"}, "img");
  EXPECT_TRUE(f.sdk.openCurrentAd());
  ASSERT_TRUE(waitUntil([&] { return f.opened().contains("--"); }));
  EXPECT_EQ(f.opened(), "https://tollamere.example/a?b=1\n--\n");

  for (const char* refused : {"file:///home/user/.ssh/id_rsa", "vornel://open", "javascript:alert(1)",
                              "/etc/passwd", "http://", "smb://server/share", "HTTP:no-host"}) {
    f.sdk.setCurrentAd(VornelAd{"b", "https://x.example/p.png", QString::fromLatin1(refused)}, "img");
    EXPECT_FALSE(f.sdk.openCurrentAd()) << refused;
  }
  EXPECT_TRUE(tlr::isOpenableWebAddress("HTTP://Example.org/x"));
  // Nothing further reached the opener.
  EXPECT_EQ(f.opened(), "https://tollamere.example/a?b=1\n--\n");
}

TEST(VornelAnnouncements, AMalformedAdCostsOnlyTheAdAndAFileLinkedPictureIsNotFetched) {
  AdFixture f;
  f.checkAnswer = R"({"ad": {"image_url": 5}, "update": {"latest_version": "0.3.0", "update_available": false}})";
  f.sdk.start("app", "0.2.0", f.server.endpoint());
  ASSERT_TRUE(waitUntil([&] { return f.sdk.currentUpdate().has_value(); }));
  EXPECT_FALSE(f.sdk.currentAd().has_value());

  f.checkAnswer = R"({"ad": {"image_url": "file:///etc/hostname", "link_url": "https://a.example/"}})";
  const int before = static_cast<int>(f.server.requests().size());
  f.sdk.checkNow("activate");
  ASSERT_TRUE(waitUntil([&] { return f.server.requests().size() > before && f.networkLog.events().size() >= 2; }));
  EXPECT_FALSE(f.sdk.currentAd().has_value());
}

// A picture was cut at its limit only after far more had been read.
TEST(VornelAnnouncements, AnOversizedPictureIsStoppedWhileItStreams) {
  constexpr qint64 kServed = 128 * 1024 * 1024;
  for (const bool declared : {true, false}) {
    AdFixture f;
    f.checkAnswer = f.adAnswer("https://tollamere.example/news");
    bool imageAsked = false;
    f.server.setResponder([&](const LoopbackHttpServer::Request& r) {
      LoopbackHttpServer::Response response{200, f.checkAnswer, false};
      if (r.path.endsWith("/banner.png")) {
        imageAsked = true;
        response.streamedBytes = kServed;
        response.declareLength = declared;
      }
      return response;
    });
    f.sdk.start("app", "0.2.0", f.server.endpoint());
    ASSERT_TRUE(waitUntil([&] { return imageAsked; }));
    ASSERT_TRUE(waitUntil([&] { return f.server.streamsEnded() == 1; }, 60s));
    EXPECT_LT(f.server.streamedBytesTaken(), 32 * 1024 * 1024) << "declared length: " << declared;
    EXPECT_FALSE(f.sdk.currentAd().has_value());
    EXPECT_TRUE(f.sdk.adImage().isEmpty());
  }
}

// The announcement was not kept between runs: the banner stayed empty until
// the service answered, and always when offline.
TEST(VornelAnnouncements, TheLastAnnouncementIsKeptAndShownAtTheNextStartUntilAnAnswerSpeaks) {
  AdFixture f;
  const QString kept = f.home.path() + "/announcement.json";
  f.sdk.setAnnouncementCache(kept);
  f.checkAnswer = f.adAnswer("https://tollamere.example/news");
  f.sdk.start("app", "0.2.0", f.server.endpoint());
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(kept); }));
  EXPECT_EQ(tlr::test::modeOf(kept), 0600u);

  // The next start, offline: the kept one shows.
  QTcpServer gone;
  ASSERT_TRUE(gone.listen(QHostAddress::LocalHost, 0));
  const quint16 port = gone.serverPort();
  gone.close();
  const QUrl offline(QStringLiteral("http://127.0.0.1:%1/v1/").arg(port));
  {
    VornelAppSDK next(f.networkLog);
    next.setAnnouncementCache(kept);
    next.start("app", "0.2.0", offline);
    ASSERT_TRUE(waitUntil([&] { return next.currentAd().has_value(); }));
    EXPECT_EQ(next.currentAd()->link_url, "https://tollamere.example/news");
    EXPECT_EQ(next.adImage(), "PNGBYTES");
  }

  // An answer without one takes it down, also for the next start.
  f.checkAnswer = "{}";
  f.sdk.checkNow("activate");
  ASSERT_TRUE(waitUntil([&] { return !QFile::exists(kept); }));
  EXPECT_FALSE(f.sdk.currentAd().has_value());

  // A kept file that is not one shows nothing.
  tlr::test::writeBytes(kept, "{\"id\": 1");
  VornelAppSDK broken(f.networkLog);
  broken.setAnnouncementCache(kept);
  broken.start("app", "0.2.0", offline);
  tlr::test::finishOffMainWork();
  EXPECT_FALSE(broken.currentAd().has_value());
}
