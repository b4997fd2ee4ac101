// The running application's dashboard on a real X server (Xvfb of our own):
// two stand-in agents in a test registry, one running. Clicking the stopped
// row's Launch with xdotool starts that agent, and the next scans see it
// running. Skips when Xvfb or xdotool is missing.
#include "presentation/DashboardTestSupport.h"

#include "support/AppFixture.h"
#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/Controls.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

using namespace std::chrono_literals;

namespace tlr {
namespace {

// An X server of our own: Xvfb picks a free display and names it on the
// descriptor we give it (-displayfd), so parallel runs never collide.
class XServer {
 public:
  XServer() {
    process_.setProgram(QStringLiteral("Xvfb"));
    process_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-dpi"),
                           QStringLiteral("96"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    process_.start();
    if (!process_.waitForStarted(5000)) return;
    QByteArray out;
    test::waitUntil(
        [&] {
          process_.waitForReadyRead(50);
          out += process_.readAllStandardOutput();
          return out.contains('\n') || process_.state() == QProcess::NotRunning;
        },
        10s);
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (ok) display_ = QStringLiteral(":%1").arg(number);
  }
  ~XServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();  // our own Xvfb, by its pid
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  // ":N", empty when the server did not come up.
  const QString& display() const { return display_; }

 private:
  QProcess process_;
  QString display_;
};

// Runs `xdotool args…` against `display`; its standard output.
QString xdotool(const QString& display, const QStringList& args, bool* ok = nullptr) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral("xdotool"), args);
  const bool finished = p.waitForFinished(15000);
  if (!finished) {
    p.kill();
    p.waitForFinished(2000);
  }
  if (ok) *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  return QString::fromUtf8(p.readAllStandardOutput());
}

// The whole screen of `display` as `import` (ImageMagick) sees it; a null
// image when that fails.
QImage screenshot(const QString& display, const QString& file) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
  if (!p.waitForFinished(15000) || p.exitCode() != 0) return {};
  return QImage(file);
}

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
    for (const char* tool : {"Xvfb", "xdotool"})
      if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
        GTEST_SKIP() << tool << " is not installed";
    // A terminal that really runs the launch command.
    test::addFakeTerminal(fakeBin_, true);
  }
};

TEST_F(DashboardOnScreen, ClickingLaunchOnTheStoppedRowStartsItsAgent) {
  XServer x;
  ASSERT_FALSE(x.display().isEmpty()) << "Xvfb did not start";

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
  app.setEnv("DISPLAY", x.display());
  app.setEnv("QT_QPA_PLATFORM", "xcb");
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStdout("[Scanner] 1 Agent 在跑 / 2 已装", 20s)) << app.stdOut().toStdString();

  // Without a tray the main window is shown at start.
  bool ok = false;
  const QString window =
      xdotool(x.display(), {"search", "--sync", "--onlyvisible", "--name", "^Tollamere$"}, &ok).split('\n').value(0);
  ASSERT_TRUE(ok && !window.isEmpty()) << app.stdOut().toStdString();
  const QString geometry = xdotool(x.display(), {"getwindowgeometry", "--shell", window});
  const QRegularExpressionMatch wx = QRegularExpression("\\bX=(\\d+)").match(geometry);
  const QRegularExpressionMatch wy = QRegularExpression("\\bY=(\\d+)").match(geometry);
  const QRegularExpressionMatch w = QRegularExpression("WIDTH=(\\d+)").match(geometry);
  const QRegularExpressionMatch h = QRegularExpression("HEIGHT=(\\d+)").match(geometry);
  ASSERT_TRUE(w.hasMatch() && h.hasMatch()) << geometry.toStdString();

  // Where the stopped row's Launch button lies: the same dashboard, laid out
  // here at the window's size with the same two rows (running first).
  test::FakeAgentActions actions;
  DashboardModel model(nullptr, DashboardModel::Stores::shared());
  model.setWatcher(&actions);
  AgentEntry a = test::agentEntry("alpha"), b = test::agentEntry("beta");
  a.displayName = "Alpha Agent";
  b.displayName = "Beta Agent";
  model.update({a, b}, {test::runningRecord(a, 1)});
  DashboardView twin(model);
  twin.resize(w.captured(1).toInt(), h.captured(1).toInt());
  twin.show();
  QCoreApplication::processEvents();
  ASSERT_EQ(twin.rowViews().size(), 2);
  AgentRowView* stopped = twin.rowViews().at(1);
  ASSERT_EQ(stopped->item().id, "beta");
  ASSERT_EQ(stopped->state(), RowState::launch);
  const QPoint target = stopped->stateButton()->mapTo(&twin, stopped->stateButton()->rect().center());
  AgentRowView* running = twin.rowViews().at(0);
  const QPoint origin(wx.captured(1).toInt(), wy.captured(1).toInt());
  auto edgeOf = [&](AgentRowView* row) {
    return origin + row->stateButton()->mapTo(&twin, QPoint(3, row->stateButton()->height() / 2));
  };
  const QString shotFile = home_.path() + "/screen.png";
  const bool canShoot = !QStandardPaths::findExecutable("import").isEmpty();

  // One running row, one stopped row, as drawn on the screen.
  // The window can be mapped a moment before its first paint reaches the
  // screen: look until it has been drawn.
  if (canShoot) {
    Face runningFace = Face::other, stoppedFace = Face::other;
    test::waitUntil(
        [&] {
          const QImage before = screenshot(x.display(), shotFile);
          if (before.isNull()) return false;
          runningFace = faceAt(before, edgeOf(running));
          stoppedFace = faceAt(before, edgeOf(stopped));
          return runningFace == Face::running && stoppedFace == Face::launch;
        },
        10s);
    EXPECT_EQ(runningFace, Face::running);
    EXPECT_EQ(stoppedFace, Face::launch);
  }

  // Click it, twice in a row: one launch only.
  xdotool(x.display(), {"mousemove", "--window", window, QString::number(target.x()), QString::number(target.y()),
                        "click", "--repeat", "2", "--delay", "80", "1"},
          &ok);
  ASSERT_TRUE(ok);
  // Within two scans (4 s each) both agents run.
  const bool seen = app.waitForStdout("[Scanner] 2 Agent 在跑 / 2 已装", 10s);
  if (!seen && !qEnvironmentVariableIsEmpty("TLR_SCREENSHOT_DIR")) {
    QProcess shot;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", x.display());
    shot.setProcessEnvironment(env);
    shot.start("import", {"-window", "root", qEnvironmentVariable("TLR_SCREENSHOT_DIR") + "/on-screen-failure.png"});
    shot.waitForFinished(15000);
  }
  EXPECT_TRUE(seen) << "clicked at " << target.x() << "," << target.y() << "\n" << app.stdOut().toStdString();
  // ...and its row shows it running.
  if (canShoot) {
    EXPECT_TRUE(test::waitUntil([&] { return faceAt(screenshot(x.display(), shotFile), edgeOf(stopped)) == Face::running; },
                                10s));
  }
  const QStringList launched = test::terminalTexts(fakeBin_, 1);
  ASSERT_FALSE(launched.isEmpty());
  EXPECT_TRUE(launched[0].contains(beta)) << launched[0].toStdString();
  EXPECT_EQ(launched.size(), 1) << launched.join(" | ").toStdString();
  EXPECT_EQ(storedEventTypes("beta").count("recovered"), 1) << storedEventTypes("beta").join(",").toStdString();
}

}  // namespace
}  // namespace tlr
