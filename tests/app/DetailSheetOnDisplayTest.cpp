// The agent detail sheet in the real application on a display of its own:
// a running stand-in agent's row opens its sheet, whose Stop ends the agent.
#include "platform/Defaults.h"
#include "support/AppFixture.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <csignal>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kAgentId = QStringLiteral("fake");
const QString kDisplayName = QStringLiteral("Fake Agent");

QByteArray registryWith(const QString& executableName, const QString& program) {
  const QJsonObject agent{
      {QStringLiteral("id"), kAgentId},
      {QStringLiteral("displayName"), kDisplayName},
      {QStringLiteral("vendor"), QStringLiteral("test labs")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{executableName}}}},
      {QStringLiteral("recover"), QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")},
                                              {QStringLiteral("command"), QJsonArray{program, QStringLiteral("plain")}}}},
  };
  return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                   {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                   {QStringLiteral("agents"), QJsonArray{agent}}})
      .toJson();
}

class DetailSheetOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
  }
  // The top-left corner of a window on the screen.
  QPoint windowOrigin(const QString& id) const {
    const QString out =
        x_.run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
    const auto x = QRegularExpression(QStringLiteral("X=(\\d+)")).match(out);
    const auto y = QRegularExpression(QStringLiteral("Y=(\\d+)")).match(out);
    return {x.captured(1).toInt(), y.captured(1).toInt()};
  }
  void clickAt(QPoint at) const {
    x_.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                       QStringLiteral("click"), QStringLiteral("1")});
  }
  QString windowNamed(const QString& name, QSize size) const {
    for (const QString& id : x_.visibleWindows(name))
      if (x_.windowSize(id) == size) return id;
    return {};
  }
  static QString screenshotPath(const QString& name) {
    QDir().mkpath(QStringLiteral(TLR_TEST_BIN_DIR "/screenshots"));
    return QStringLiteral(TLR_TEST_BIN_DIR "/screenshots/") + name;
  }

  XvfbServer x_;
};

}  // namespace

TEST_F(DetailSheetOnDisplay, TappingARunningRowOpensItsSheetWhoseStopEndsTheAgent) {
  tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en"));
  // Installed where the scanner looks for command-line agents, and running.
  const QString name = uniqueAgentName(QStringLiteral("tlr-detail-agent"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  const pid_t agent = agents_.start(program, {QStringLiteral("plain")});
  ASSERT_GT(agent, 0);

  AppProcess& app = process(sandbox(registryWith(name, program)));
  app.setEnv(QStringLiteral("DISPLAY"), x_.display());
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Scanner] 1 Agent 在跑 / "), 60s)) << app.stdOut().toStdString();
  QString main;
  ASSERT_TRUE(waitUntil([&] { return !(main = windowNamed(QStringLiteral("Tollamere"), {680, 560})).isEmpty(); }, 60s));

  // The one row sits at the top of the live-status panel.
  const QPoint origin = windowOrigin(main);
  const QRgb background = QColor(0xF8, 0xF9, 0xFB).rgb();
  const QString dashboardShot = screenshotPath(QStringLiteral("detail-dashboard.png"));
  ASSERT_TRUE(waitUntil(
      [&] {
        if (!x_.screenshot(dashboardShot)) return false;
        const QImage image(dashboardShot);
        return !image.isNull() && image.pixelColor(origin + QPoint(10, 200)).rgb() == background;
      },
      30s))
      << "the dashboard has painted";
  QString sheet;
  ASSERT_TRUE(waitUntil(
      [&] {
        clickAt(origin + QPoint(300, 321));
        return !(sheet = windowNamed(kDisplayName, {520, 540})).isEmpty();
      },
      30s))
      << "the row's tap opens the agent's sheet";
  const QPoint sheetOrigin = windowOrigin(sheet);
  // Once painted, the header is on the sheet's light background (#F8F9FB).
  const QString shot = screenshotPath(QStringLiteral("detail-sheet.png"));
  auto pixel = [&](QPoint at) {
    const QImage image(shot);
    return image.isNull() ? QRgb(0) : image.pixelColor(at).rgb();
  };
  EXPECT_TRUE(waitUntil([&] { return x_.screenshot(shot) && pixel(sheetOrigin + QPoint(300, 80)) == background; }, 10s));

  // Stop, the second button of the action row under the information card.
  clickAt(sheetOrigin + QPoint(66, 247));
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Stop] Fake Agent 用户点[退出]"), 20s)) << app.stdOut().toStdString();
  EXPECT_TRUE(waitUntil([&] { return ::kill(agent, 0) != 0; }, 20s)) << "the agent process ended";
  EXPECT_TRUE(waitUntil(
      [&] {
        for (const QJsonObject& event : storedEvents(kAgentId))
          if (event.value(QStringLiteral("type")).toString() == QStringLiteral("restarted") &&
              event.value(QStringLiteral("details")).toString() == QStringLiteral("Manual stop"))
            return true;
        return false;
      },
      20s))
      << "the stop is in the agent's event history";
  // The next scan shows the agent stopped: the red Stop button gives way to
  // the green Launch button.
  const QString stopped = screenshotPath(QStringLiteral("detail-sheet-stopped.png"));
  EXPECT_TRUE(waitUntil(
      [&] {
        if (!x_.screenshot(stopped)) return false;
        const QImage image(stopped);
        if (image.isNull()) return false;
        const QColor button = image.pixelColor(sheetOrigin + QPoint(40, 247));
        return button.green() > button.red();
      },
      20s));
}
