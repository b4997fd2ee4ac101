// A setup the user asks for in the real application, on a display of its
// own, when no terminal program is installed: the alert says so in the
// window's language.
#include "platform/Defaults.h"
#include "platform/TerminalLauncher.h"
#include "support/AppFixture.h"
#include "support/RegistryJson.h"
#include "support/XvfbServer.h"

#include <QImage>
#include <QJsonArray>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

class ActionAlertOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
    if (!tlr::TerminalLauncher::findTerminal().isEmpty())
      GTEST_SKIP() << "a terminal program is installed: " << tlr::TerminalLauncher::findTerminal().toStdString();
  }

  XvfbServer x_;
};

}  // namespace

TEST_F(ActionAlertOnDisplay, ConfigureAgentWithoutATerminalShowsTheAlert) {
  EXPECT_TRUE(tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true));
  EXPECT_TRUE(tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true));
  EXPECT_TRUE(tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en")));
  const QString name = uniqueAgentName(QStringLiteral("tlr-setup-agent"));
  copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  AppProcess& app = process(
      sandbox(oneAgentDocument(name, {{QStringLiteral("setupCommand"), QJsonArray{name, QStringLiteral("setup")}}})));
  app.setEnv(QStringLiteral("DISPLAY"), x_.display());
  ASSERT_TRUE(app.start());
  QString main;
  ASSERT_TRUE(waitUntil([&] { return !(main = x_.windowNamed(QStringLiteral("Tollamere"), QSize(680, 560))).isEmpty(); },
                        60s))
      << app.stdOut().toStdString() << app.stdErr().toStdString() << "windows: "
      << x_.visibleWindows(QStringLiteral("Tollamere")).join(' ').toStdString();
  const QPoint origin = x_.windowOrigin(main);
  // The row's tap draws the agent's sheet inside the main window, over the
  // dimmed dashboard.
  const QString probe = XvfbServer::screenshotPath(QStringLiteral("setup-without-terminal-sheet.png"));
  ASSERT_TRUE(waitUntil(
      [&] {
        x_.clickAt(origin + QPoint(300, 321));
        return waitUntil(
            [&] {
              // The light background (#F8F9FB) under the dimming layer.
              const int red = x_.screenshot(probe) ? QImage(probe).pixelColor(origin + QPoint(10, 200)).red() : 0;
              return red > 150 && red < 0xF0;
            },
            3s);
      },
      30s));
  const QPoint sheetOrigin = origin + QPoint((680 - 520) / 2, (560 - 540) / 2);
  // "Configure agent", under the lock card.
  const QString title = QStringLiteral("Cannot open a terminal to configure Fake Agent");
  QString alert;
  ASSERT_TRUE(waitUntil(
      [&] {
        x_.clickAt(sheetOrigin + QPoint(90, 366));
        return waitUntil([&] { return !(alert = x_.windowNamed(title)).isEmpty(); }, 3s);
      },
      30s))
      << app.stdOut().toStdString();
  EXPECT_TRUE(app.waitForStdout(QStringLiteral("[Setup] Fake Agent FAIL: "))) << app.stdOut().toStdString();
  // Kept with its window: no frame, no task-bar entry, no minimise offered,
  // and a minimise asked for all the same is undone at once (or refused), the
  // keyboard still on the alert: Return answers it.
  EXPECT_TRUE(waitUntil([&] { return x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), alert}).contains(
                                         QStringLiteral("_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0")); }, 10s));
  EXPECT_TRUE(x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), alert}).contains(
      QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
  // The window manager (openbox here) offers no minimise for it at all.
  QString allowed;
  EXPECT_TRUE(waitUntil([&] {
    allowed = x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), alert, QStringLiteral("_NET_WM_ALLOWED_ACTIONS")});
    return allowed.contains(QStringLiteral("_NET_WM_ACTION_CLOSE"));
  }, 10s)) << allowed.toStdString();
  EXPECT_FALSE(allowed.contains(QStringLiteral("_NET_WM_ACTION_MINIMIZE"))) << allowed.toStdString();
  EXPECT_TRUE(x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), alert, QStringLiteral("_MOTIF_WM_HINTS")})
                  .contains(QStringLiteral("= 0x3, 0x24,")))
      << "Motif functions move and close only";
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), alert});
  EXPECT_TRUE(waitUntil([&] { return x_.visibleWindows(title).contains(alert) && !x_.windowNamed(
                                         QStringLiteral("Tollamere"), QSize(680, 560)).isEmpty(); }, 10s))
      << "the alert and its window are back";
  EXPECT_TRUE(waitUntil(
      [&] {
        x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
        return waitUntil([&] { return x_.windowNamed(title).isEmpty(); }, 2s);
      },
      15s))
      << "Return reaches the alert";
  const QString shot = XvfbServer::screenshotPath(QStringLiteral("setup-without-terminal.png"));
  EXPECT_TRUE(waitUntil([&] { return x_.screenshot(shot) && !QImage(shot).isNull(); }, 10s));
  EXPECT_TRUE(app.isRunning());
}
