// The agent detail sheet in the real application on a display of its own:
// a running stand-in agent's row opens its sheet, whose Stop ends the agent
// for good, while the sheet's own doctor (`<agent> doctor`) runs on; and a
// doctor that needs a terminal gets one and succeeds.
#include "platform/Defaults.h"
#include "support/AppFixture.h"
#include "support/RegistryJson.h"
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

class DetailSheetOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
  }
  // Starts `app` on the display and opens the sheet of the dashboard's one
  // row by a tap; the sheet's top left corner once it has painted.
  std::optional<QPoint> openTheOnlyRowsSheet(AppProcess& app) {
    app.setEnv(QStringLiteral("DISPLAY"), x_.display());
    auto failed = [](const char* what) {
      ADD_FAILURE() << what;
      return std::nullopt;
    };
    if (!app.start()) return failed("the application started");
    if (!waitUntil([&] { return storedEventTypes(kAgentId).contains(QStringLiteral("started")); }, 60s))
      return failed("the agent is seen running");
    QString main;
    if ((main = x_.waitForWindow(QStringLiteral("Tollamere"), QSize(680, 560))).isEmpty())
      return failed("the main window shows");

    // The one row sits at the top of the live-status panel: a white card on
    // the light background (#F8F9FB) once the dashboard has drawn it.
    const QPoint origin = x_.windowOrigin(main);
    const QPoint row = origin + QPoint(300, 321);
    const QRgb background = QColor(0xF8, 0xF9, 0xFB).rgb();
    QImage dashboard;
    if (!waitUntil(
            [&] {
              dashboard = QImage(x_.screen());
              return !dashboard.isNull() && dashboard.pixelColor(origin + QPoint(10, 200)).rgb() == background &&
                     dashboard.pixelColor(row).rgb() == qRgb(255, 255, 255);
            },
            30s))
      return failed("the dashboard has drawn the row");
    dashboard.save(XvfbServer::screenshotPath(QStringLiteral("detail-dashboard.png")));
    // The row's tap draws the agent's sheet inside the main window, over the
    // dimmed dashboard: no window of its own.
    x_.clickAt(row);
    if (!waitUntil(
            [&] {
              const QImage image(x_.screen());
              const int red = image.isNull() ? -1 : image.pixelColor(origin + QPoint(10, 200)).red();
              return red > 150 && red < 0xF0;
            },
            30s))
      return failed("the row's tap opens the agent's sheet");
    EXPECT_TRUE(x_.hasWindowManager()) << x_.windowManagerEnd().toStdString();
    EXPECT_TRUE(x_.visibleWindows(kDisplayName).isEmpty()) << "the sheet is no window of its own";
    const QPoint sheetOrigin = origin + QPoint((680 - 520) / 2, (560 - 540) / 2);
    // Once painted, the header is on the sheet's light background (#F8F9FB).
    QImage sheet;
    EXPECT_TRUE(waitUntil(
        [&] {
          sheet = QImage(x_.screen());
          return !sheet.isNull() && sheet.pixelColor(sheetOrigin + QPoint(300, 80)).rgb() == background;
        },
        30s));
    sheet.save(XvfbServer::screenshotPath(QStringLiteral("detail-sheet.png")));
    return sheetOrigin;
  }
  XvfbServer x_;
};

}  // namespace

TEST_F(DetailSheetOnDisplay, TappingARunningRowOpensItsSheetWhoseStopEndsTheAgentForGood) {
  tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en"));
  EXPECT_TRUE(tlr::Defaults::shared().flush());
  // Installed where the scanner looks for command-line agents, and running.
  const QString name = uniqueAgentName(QStringLiteral("tlr-detail-agent"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  // Like a real command-line agent, it exits with 143 on SIGTERM.
  const pid_t agent = agents_.start(program, {QStringLiteral("catches-term")});
  ASSERT_GT(agent, 0);
  // Its doctor waits for a terminal it never gets.
  fakeBin_.addRecorder(QStringLiteral("x-terminal-emulator"));

  AppProcess& app = process(sandbox(oneAgentDocument(
      name, {{QStringLiteral("recover"), QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")},
                                                     {QStringLiteral("command"), QJsonArray{program, QStringLiteral("plain")}}}},
             {QStringLiteral("doctor"), QJsonObject{{QStringLiteral("command"), QJsonArray{program, QStringLiteral("doctor")}}}}})));
  const std::optional<QPoint> opened = openTheOnlyRowsSheet(app);
  ASSERT_TRUE(opened);
  const QPoint sheetOrigin = *opened;

  // The sheet's doctor runs under the agent's name, and is no second agent.
  ASSERT_TRUE(waitUntil([&] { return agents_.pids().size() == 2; }, 20s)) << "the doctor runs";

  // Stop, the button under the information card, which sits below the
  // banner of the running doctor.
  const int stopRow = 303;
  x_.clickAt(sheetOrigin + QPoint(66, stopRow));
  EXPECT_TRUE(waitUntil([&] { return ::kill(agent, 0) != 0; }, 20s)) << "the agent process ended";
  EXPECT_TRUE(waitUntil([&] { return hasStoredEvent(kAgentId, QStringLiteral("restarted"), QStringLiteral("evDetailUserStop")); }, 20s))
      << "the stop is in the agent's event history\n"
      << app.stdOut().toStdString();
  // The next scan shows the agent stopped, although its doctor runs on: the
  // red Stop button gives way to the green Launch button.
  QImage stopped;
  EXPECT_TRUE(waitUntil(
      [&] {
        stopped = QImage(x_.screen());
        if (stopped.isNull()) return false;
        const QColor button = stopped.pixelColor(sheetOrigin + QPoint(40, stopRow));
        return button.green() > button.red();
      },
      20s));
  stopped.save(XvfbServer::screenshotPath(QStringLiteral("detail-sheet-stopped.png")));
  // It ended on our SIGTERM with 143: the Stop's own row says so, no exit
  // row beside it, and nothing brings it back (no terminal opened).
  ASSERT_TRUE(app.waitForStdout(QStringLiteral("[Exit] Fake Agent pid=%1 intent=normalExit signal=nil exit=143").arg(agent)))
      << app.stdOut().toStdString();
  const QStringList types = storedEventTypes(kAgentId);
  EXPECT_EQ(types, (QStringList{QStringLiteral("started"), QStringLiteral("restarted")})) << types.join(',').toStdString();
  EXPECT_TRUE(readFile(fakeBin_.recordPath(QStringLiteral("x-terminal-emulator"))).isEmpty());
  bool doctorRuns = false;
  for (pid_t pid : agents_.pids()) doctorRuns = doctorRuns || (pid != agent && ::kill(pid, 0) == 0);
  EXPECT_TRUE(doctorRuns) << "the doctor still waits for its terminal";
}

TEST_F(DetailSheetOnDisplay, ADoctorThatNeedsATerminalSucceedsInTheSheet) {
  tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
  tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
  EXPECT_TRUE(tlr::Defaults::shared().flush());
  const QString name = uniqueAgentName(QStringLiteral("tlr-detail-tty"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/.local/bin"), name);
  ASSERT_GT(agents_.start(program), 0);
  // Without a terminal its doctor says nothing and waits for ever.
  AppProcess& app = process(sandbox(oneAgentDocument(
      name, {{QStringLiteral("doctor"), QJsonObject{{QStringLiteral("command"), QJsonArray{program, QStringLiteral("doctor")}},
                                                   {QStringLiteral("needsTerminal"), true}}}})));
  ASSERT_TRUE(openTheOnlyRowsSheet(app));
  // Well within the check's 120 s: it gets its terminal, reports and ends.
  EXPECT_TRUE(waitUntil([&] { return hasStoredEvent(kAgentId, QStringLiteral("restarted"), QStringLiteral("evDetailDoctorNoIssues")); },
                        30s))
      << "the check passed\n"
      << app.stdOut().toStdString();
}
