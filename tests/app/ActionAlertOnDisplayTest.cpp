// A setup the user asks for in the real application, on a display of its
// own, when no terminal program is there (the application's search path
// holds none, whatever the machine has): the alert says so in the window's
// language.
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
  }

  XvfbServer x_;
};

}  // namespace

TEST_F(ActionAlertOnDisplay, ConfigureAgentWithoutATerminalShowsTheAlert) {
  tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en"));
  EXPECT_TRUE(tlr::Defaults::shared().flush());
  const QString name = uniqueAgentName(QStringLiteral("tlr-setup-agent"));
  copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  AppProcess& app = process(
      sandbox(oneAgentDocument(name, {{QStringLiteral("setupCommand"), QJsonArray{name, QStringLiteral("setup")}}})));
  app.setEnv(QStringLiteral("DISPLAY"), x_.display());
  // No terminal program, whatever this machine has installed.
  app.setEnv(QStringLiteral("PATH"), pathWithout(tlr::TerminalLauncher::candidates()));
  ASSERT_TRUE(app.start());
  QString main;
  ASSERT_FALSE((main = x_.waitForWindow(QStringLiteral("Tollamere"), QSize(680, 560))).isEmpty())
      << app.stdOut().toStdString() << app.stdErr().toStdString() << "windows: "
      << x_.visibleWindows(QStringLiteral("Tollamere")).join(' ').toStdString();
  const QPoint origin = x_.windowOrigin(main);
  // Each step waits until the screen shows what the next click needs, and
  // clicks once: a second click could land on what the first one opened.
  auto pixelAt = [&](QPoint at) {
    const QImage image(x_.screen());
    return image.isNull() ? QColor() : image.pixelColor(at);
  };
  // The one row, a white card, once the dashboard has drawn it.
  const QPoint row = origin + QPoint(300, 321);
  ASSERT_TRUE(waitUntil([&] { return pixelAt(row) == QColor(Qt::white); }, 60s)) << app.stdOut().toStdString();
  // The row's tap draws the agent's sheet inside the main window, over the
  // dimmed dashboard: the light background (#F8F9FB) under the dimming layer.
  x_.clickAt(row);
  ASSERT_TRUE(waitUntil(
      [&] {
        const int red = pixelAt(origin + QPoint(10, 200)).red();
        return red > 150 && red < 0xF0;
      },
      30s));
  const QPoint sheetOrigin = origin + QPoint((680 - 520) / 2, (560 - 540) / 2);
  // "Configure agent", under the lock card, once the sheet knows the setup
  // it offers: its label in the accent colour crosses the line of the click.
  const QPoint configure = sheetOrigin + QPoint(90, 366);
  ASSERT_TRUE(waitUntil(
      [&] {
        const QImage image(x_.screen());
        for (int x = -40; !image.isNull() && x <= 40; ++x) {
          const QColor c = image.pixelColor(configure + QPoint(x, 0));
          if (c.blue() > c.red() + 60) return true;
        }
        return false;
      },
      30s))
      << "screen in "
      << (x_.screenshot(XvfbServer::screenshotPath(QStringLiteral("setup-without-terminal-sheet.png")))
              ? "setup-without-terminal-sheet.png"
              : "(none)");
  x_.clickAt(configure);
  const QString title = QStringLiteral("Cannot open a terminal to configure Fake Agent");
  QString alert;
  ASSERT_FALSE((alert = x_.waitForWindow(title)).isEmpty()) << app.stdOut().toStdString();
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
  // Return goes where the keyboard is: pressed once the alert has it.
  EXPECT_TRUE(waitUntil([&] { return x_.focusedWindow() == alert; }, 30s)) << "the keyboard is on the alert";
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")});
  EXPECT_TRUE(waitUntil([&] { return x_.windowNamed(title).isEmpty(); }, 30s)) << "Return reaches the alert";
  const QString shot = XvfbServer::screenshotPath(QStringLiteral("setup-without-terminal.png"));
  EXPECT_TRUE(waitUntil([&] { return x_.screenshot(shot) && !QImage(shot).isNull(); }, 10s));
  EXPECT_TRUE(app.isRunning());
}
