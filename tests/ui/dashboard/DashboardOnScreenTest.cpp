// The running application's dashboard on a real X server (Xvfb of our own):
// two stand-in agents in a test registry, one running. Clicking the stopped
// row's Launch with xdotool starts that agent, and the next scans see it
// running. Skips when Xvfb or xdotool is missing.
#include "presentation/DashboardTestSupport.h"

#include "support/AppFixture.h"
#include "support/XvfbServer.h"
#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/Controls.h"

#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace std::chrono_literals;

namespace tlr {
namespace {

// What a state button's left edge shows: green (running), red (faulted) or
// the brand blue (launch).
enum class Face { running, faulted, launch, other };
Face faceAt(const QImage& image, QPoint p) {
  const QColor c = image.pixelColor(p);
  if (c.blue() > c.red() + 60) return Face::launch;
  if (c.green() > c.red() + 10) return Face::running;
  if (c.red() > c.green() + 10) return Face::faulted;
  return Face::other;
}

QJsonObject cliAgent(const QString& id, const QString& name, const QString& program) {
  return QJsonObject{
      {"id", id},
      {"displayName", id == "alpha" ? "Alpha Agent" : "Beta Agent"},
      {"vendor", "Test"},
      {"kind", "cli"},
      {"identify", QJsonObject{{"executableNames", QJsonArray{name}}}},
      {"recover", QJsonObject{{"strategy", "exec-cli"}, {"command", QJsonArray{program, "plain"}}}},
  };
}

class DashboardOnScreen : public test::AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!test::XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
    // A terminal that really runs the launch command.
    test::addFakeTerminal(fakeBin_, true);
  }

  test::XvfbServer x_{QSize(1280, 1024)};
};

TEST_F(DashboardOnScreen, ClickingLaunchOnTheStoppedRowStartsItsAgent) {
  // Two stand-in agents where command-line agents are installed.
  const QString binDir = home_.path() + "/.local/bin";
  const QString alphaName = test::uniqueAgentName("tlr-dash-alpha"), betaName = test::uniqueAgentName("tlr-dash-beta");
  const QString alpha = test::copyFakeAgent(binDir, alphaName), beta = test::copyFakeAgent(binDir, betaName);
  ASSERT_GT(agents_.start(alpha, {"plain"}), 0);
  const QByteArray registry =
      QJsonDocument(QJsonObject{{"schemaVersion", 1},
                                {"updatedAt", "2025-01-01"},
                                {"agents", QJsonArray{cliAgent("alpha", alphaName, alpha), cliAgent("beta", betaName, beta)}}})
          .toJson();

  // The first-run window would cover the dashboard: it has been seen.
  home_.writeFile(".config/Tollamere/defaults.json", R"({"TLR.hasShownStatusItemOnboarding": true})");

  test::AppProcess& app = process(sandbox(registry));
  app.setEnv("DISPLAY", x_.display());
  app.setEnv("QT_QPA_PLATFORM", "xcb");
  ASSERT_TRUE(app.start());
  // A scan has seen alpha run (and so beta installed).
  ASSERT_TRUE(test::waitUntil([&] { return storedEventTypes("alpha").contains("started"); }, 60s))
      << app.stdOut().toStdString();

  // Without a tray the main window is shown at start.
  QString window;
  ASSERT_FALSE((window = x_.waitForWindow("Tollamere")).isEmpty())
      << app.stdOut().toStdString();
  const std::optional<QSize> size = x_.windowSize(window);
  ASSERT_TRUE(size.has_value());
  const QPoint origin = x_.windowOrigin(window);

  // Where the rows' state buttons lie: the same dashboard, laid out here at
  // the window's size with the same two rows (running first), before and
  // after the launch (the button is as wide as its label).
  test::FakeAgentActions actions;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  AgentEntry a = test::agentEntry("alpha"), b = test::agentEntry("beta");
  a.displayName = "Alpha Agent";
  b.displayName = "Beta Agent";
  model.update({a, b}, {test::runningRecord(a, 1)});
  DashboardView twin(model);
  twin.resize(*size);
  twin.show();
  QCoreApplication::processEvents();
  ASSERT_EQ(twin.rowViews().size(), 2);
  AgentRowView* stopped = twin.rowViews().at(1);
  ASSERT_EQ(stopped->item().id, "beta");
  ASSERT_EQ(stopped->state(), RowState::launch);
  const QPoint target = origin + stopped->stateButton()->mapTo(&twin, stopped->stateButton()->rect().center());
  AgentRowView* running = twin.rowViews().at(0);
  // A point just inside a state button's left edge, on the screen.
  auto edgeOf = [&](AgentRowView* row) {
    return origin + row->stateButton()->mapTo(&twin, QPoint(3, row->stateButton()->height() / 2));
  };
  const QPoint runningEdge = edgeOf(running), stoppedEdge = edgeOf(stopped);
  model.update({a, b}, {test::runningRecord(a, 1), test::runningRecord(b, 2)});
  QCoreApplication::processEvents();
  ASSERT_EQ(twin.rowViews().at(1), stopped);
  ASSERT_EQ(stopped->state(), RowState::running);
  const QPoint launchedEdge = edgeOf(stopped);

  const bool canShoot = test::XvfbServer::hasProgram("import");
  // Keeps the screen for whoever looks into a failure.
  auto keepScreen = [&](const char* name) {
    const QString kept = test::XvfbServer::screenshotPath(QString::fromLatin1(name));
    return x_.screenshot(kept) ? kept.toStdString() : std::string("(no screenshot)");
  };

  // One running row, one stopped row, as drawn on the screen.
  // The window can be mapped a moment before its first paint reaches the
  // screen: look until it has been drawn.
  if (canShoot) {
    Face runningFace = Face::other, stoppedFace = Face::other;
    const bool drawn = test::waitUntil(
        [&] {
          const QImage before(x_.screen());
          if (before.isNull()) return false;
          runningFace = faceAt(before, runningEdge);
          stoppedFace = faceAt(before, stoppedEdge);
          return runningFace == Face::running && stoppedFace == Face::launch;
        },
        30s);
    EXPECT_TRUE(drawn) << keepScreen("dashboard-on-screen-before.png");
    EXPECT_EQ(runningFace, Face::running);
    EXPECT_EQ(stoppedFace, Face::launch);
  }

  // Click it once, then move the pointer off the window (no hover face, no
  // tooltip over the row).
  const QString clicked = x_.run("xdotool", {"mousemove", QString::number(target.x()), QString::number(target.y()),
                                             "click", "1", "mousemove", "0", "0", "getmouselocation"});
  ASSERT_TRUE(clicked.startsWith("x:0 y:0")) << "xdotool: " << clicked.toStdString();
  // The launch opens a terminal that starts the agent; the next scans (every
  // 4 s) see it. A loaded machine stretches every step of that.
  const bool seen = test::waitUntil([&] { return storedEventTypes("beta").contains("started"); }, 60s);
  EXPECT_TRUE(seen) << "clicked at " << target.x() << "," << target.y() << ", screen in "
                    << keepScreen("dashboard-on-screen-click.png") << "\n"
                    << app.stdOut().toStdString();
  // ...and its row shows it running.
  if (canShoot && seen) {
    EXPECT_TRUE(test::waitUntil([&] { return faceAt(QImage(x_.screen()), launchedEdge) == Face::running; }, 30s))
        << "looked at " << launchedEdge.x() << "," << launchedEdge.y() << " in "
        << keepScreen("dashboard-on-screen-launched.png");
  }
  const QStringList launched = test::terminalTexts(fakeBin_, 1);
  ASSERT_FALSE(launched.isEmpty());
  EXPECT_TRUE(launched[0].contains(beta)) << launched[0].toStdString();
  EXPECT_EQ(launched.size(), 1) << launched.join(" | ").toStdString();
  EXPECT_EQ(storedEventTypes("beta").count("recovered"), 1) << storedEventTypes("beta").join(",").toStdString();
}

}  // namespace
}  // namespace tlr
