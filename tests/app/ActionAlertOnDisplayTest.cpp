// A setup the user asks for in the real application, on a display of its
// own, when no terminal program is installed: the alert says so in the
// window's language.
#include "platform/Defaults.h"
#include "platform/TerminalLauncher.h"
#include "support/AppFixture.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPoint>
#include <QRegularExpression>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

QByteArray registryWithSetup(const QString& executableName) {
  const QJsonObject agent{
      {QStringLiteral("id"), QStringLiteral("fake")},
      {QStringLiteral("displayName"), QStringLiteral("Fake Agent")},
      {QStringLiteral("vendor"), QStringLiteral("test labs")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{executableName}}}},
      {QStringLiteral("setupCommand"), QJsonArray{executableName, QStringLiteral("setup")}},
  };
  return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                   {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                   {QStringLiteral("agents"), QJsonArray{agent}}})
      .toJson();
}

class ActionAlertOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
    if (!tlr::TerminalLauncher::findTerminal().isEmpty())
      GTEST_SKIP() << "a terminal program is installed: " << tlr::TerminalLauncher::findTerminal().toStdString();
  }
  QString windowNamed(const QString& name, std::optional<QSize> size = std::nullopt) const {
    for (const QString& id : x_.visibleWindows(name))
      if (!size || x_.windowSize(id) == *size) return id;
    return {};
  }
  QPoint windowOrigin(const QString& id) const {
    const QString out =
        x_.run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
    const auto x = QRegularExpression(QStringLiteral("X=(\\d+)")).match(out);
    const auto y = QRegularExpression(QStringLiteral("Y=(\\d+)")).match(out);
    return {x.captured(1).toInt(), y.captured(1).toInt()};
  }
  void clickAt(QPoint at) const {
    x_.run(QStringLiteral("xdotool"),
           QStringList{QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                       QStringLiteral("click"), QStringLiteral("1")});
  }
  static QString screenshotPath(const QString& name) {
    QDir().mkpath(QStringLiteral(TLR_TEST_BIN_DIR "/screenshots"));
    return QStringLiteral(TLR_TEST_BIN_DIR "/screenshots/") + name;
  }

  XvfbServer x_;
};

}  // namespace

TEST_F(ActionAlertOnDisplay, ConfigureAgentWithoutATerminalShowsTheAlert) {
  tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en"));
  const QString name = uniqueAgentName(QStringLiteral("tlr-setup-agent"));
  copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  AppProcess& app = process(sandbox(registryWithSetup(name)));
  app.setEnv(QStringLiteral("DISPLAY"), x_.display());
  ASSERT_TRUE(app.start());
  QString main;
  ASSERT_TRUE(waitUntil([&] { return !(main = windowNamed(QStringLiteral("Tollamere"), QSize(680, 560))).isEmpty(); },
                        60s))
      << app.stdOut().toStdString() << app.stdErr().toStdString() << "windows: "
      << x_.visibleWindows(QStringLiteral("Tollamere")).join(' ').toStdString();
  const QPoint origin = windowOrigin(main);
  QString sheet;
  ASSERT_TRUE(waitUntil(
      [&] {
        clickAt(origin + QPoint(300, 321));
        return !(sheet = windowNamed(QStringLiteral("Fake Agent"))).isEmpty();
      },
      30s));
  const QPoint sheetOrigin = windowOrigin(sheet);
  // "Configure agent", under the lock card.
  const QString title = QStringLiteral("Cannot open a terminal to configure Fake Agent");
  QString alert;
  ASSERT_TRUE(waitUntil(
      [&] {
        clickAt(sheetOrigin + QPoint(90, 366));
        return waitUntil([&] { return !(alert = windowNamed(title)).isEmpty(); }, 3s);
      },
      30s))
      << app.stdOut().toStdString();
  EXPECT_TRUE(app.waitForStdout(QStringLiteral("[Setup] Fake Agent FAIL: "))) << app.stdOut().toStdString();
  const QString shot = screenshotPath(QStringLiteral("setup-without-terminal.png"));
  EXPECT_TRUE(waitUntil([&] { return x_.screenshot(shot) && !QImage(shot).isNull(); }, 10s));
  EXPECT_TRUE(app.isRunning());
}
