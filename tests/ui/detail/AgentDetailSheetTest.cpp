#include "DetailSheetTestSupport.h"

#include "support/gui/AssistiveTool.h"
#include "support/gui/Drawn.h"
#include "support/gui/InView.h"
#include "support/gui/WrappedLines.h"
#include "ui/kit/Alert.h"

#include "ui/detail/DoctorOutputSheet.h"
#include "ui/kit/Controls.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QAccessible>
#include <QScrollBar>
#include <QTest>

#include <algorithm>

using namespace tlr;
using namespace tlr::test;

namespace {

const QByteArray kCli = R"("id":"cli1","displayName":"Cli One","vendor":"open labs","kind":"cli","identify":{})";

QByteArray withExtra(const QByteArray& base, const QByteArray& extra) { return base + "," + extra; }

AgentDoctor::Result doctorRun(int issues, double elapsed = 1.5) {
  AgentDoctor::Result result;
  result.entryDisplayName = "Cli One";
  result.command = {"cli1", "doctor"};
  result.exitCode = issues > 0 ? 1 : 0;
  result.elapsedSeconds = elapsed;
  for (int i = 0; i < issues; ++i) {
    AgentDoctor::KnownIssue issue;
    issue.id = QStringLiteral("i%1").arg(i);
    issue.title = QStringLiteral("Issue %1").arg(i);
    issue.fix.title = QStringLiteral("Fix %1").arg(i);
    result.detectedIssues.append({issue, "snippet"});
  }
  return result;
}

class DetailSheetTest : public DetailSheetFixture {};

}  // namespace

TEST_F(DetailSheetTest, TheActionRowFollowsTheKindAndTheRunningState) {
  struct Case {
    QByteArray json;
    bool running;
    QStringList shown;
  };
  const QList<Case> cases{
      {R"("id":"p","displayName":"P","vendor":"v","kind":"ide-plugin","identify":{},"tuiCommand":["x"])", true, {}},
      {withExtra(kCli, R"("tuiCommand":["cli1","tui"])"), true, {"actionOpenConsole", "actionStop"}},
      {withExtra(kCli, R"("tuiCommand":["cli1","tui"])"), false, {"actionOpenConsole"}},
      {R"("id":"d","displayName":"D","vendor":"v","kind":"desktop-app","identify":{},"dashboardUrl":"http://x/")",
       false,
       {"actionOpen"}},
      {withExtra(kCli, R"("dashboardUrl":"http://localhost:18789/")"), true, {"actionOpenDashboard", "actionStop"}},
      {kCli, false, {"actionLaunch"}},
      {kCli, true, {"actionStop"}},
  };
  const QStringList all{"actionOpenConsole", "actionOpen", "actionOpenDashboard", "actionLaunch", "actionStop"};
  for (const Case& c : cases) {
    auto sheet = open(item(c.json, c.running));
    QStringList shownNow;
    for (const QString& name : all)
      if (shown(sheet.get(), name)) shownNow << name;
    EXPECT_EQ(shownNow, c.shown) << c.json.toStdString();
    EXPECT_EQ(shown(sheet.get(), "detailActionRow"), !c.shown.isEmpty());
  }
  auto plugin = open(item(cases[0].json));
  EXPECT_EQ(plugin->findChild<QWidget*>("detailKindBadge")->accessibleName(), "Plugin");
  EXPECT_EQ(labelText(open(item(kCli, false)).get(), "detailVendor"), "Open Labs");
  EXPECT_EQ(buttonLabel(open(item(kCli)).get(), "actionLaunch"), "Launch Cli One");
}

TEST_F(DetailSheetTest, TheEmbeddedCardNeedsADesktopAppWithPidAndName) {
  DashboardAgentItem app = item(R"("id":"d","displayName":"D","vendor":"v","kind":"desktop-app","identify":{})", true);
  app.embeddedCliPID = 4242;
  EXPECT_FALSE(shown(open(app).get(), "detailEmbeddedCli"));
  app.embeddedCliName = "Cli One";
  auto sheet = open(app);
  ASSERT_TRUE(shown(sheet.get(), "detailEmbeddedCli"));
  EXPECT_EQ(labelText(sheet.get(), "embeddedCliTitle"), "Embedded CLI: Cli One");
  EXPECT_EQ(labelText(sheet.get(), "embeddedCliSubtitle"), "PID 4242 · No need to manage separately");
  DashboardAgentItem cli = item(kCli, true);
  cli.embeddedCliPID = 1;
  cli.embeddedCliName = "x";
  EXPECT_FALSE(shown(open(cli).get(), "detailEmbeddedCli"));
}

TEST_F(DetailSheetTest, TheHeaderIconIsFramed52By52At18FromTheTop) {
  auto sheet = open(item(kCli, true), true);
  auto* icon = sheet->findChild<QWidget*>("detailIcon");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->size(), QSize(52, 52));
  EXPECT_EQ(icon->mapTo(sheet.get(), QPoint()), QPoint(22, 18));
  // What an assistive tool measures is the frame itself.
  const QRect seen = QAccessible::queryAccessibleInterface(icon)->rect();
  EXPECT_EQ(seen.size(), QSize(52, 52));
  EXPECT_EQ(seen.topLeft() - sheet->mapToGlobal(QPoint()), QPoint(22, 18));
  // Without a picture the grey placeholder fills the frame: its middle is
  // grey, not the sheet's background.
  const QImage drawn = sheet->grab(QRect(22, 18, 52, 52)).toImage();
  const QColor middle = drawn.pixelColor(drawn.width() / 2, drawn.height() / 2);
  EXPECT_NE(middle, Theme::current().background);
  EXPECT_LT(std::abs(middle.red() - middle.blue()), 8) << "grey";

  // A name and a maker longer than the header are shortened with "…", whole
  // in the tooltip and for a reader, in both languages.
  const QString longText = QStringLiteral("Long ") + QString(75, QLatin1Char('x'));
  auto longer = open(item(R"("id":"cli1","displayName":")" + longText.toUtf8() + R"(","vendor":")" +
                          longText.toUtf8() + R"(","kind":"cli","identify":{})"),
                     true);
  for (const AppLanguage language : {AppLanguage::en, AppLanguage::zh}) {
    setLanguage(language);
    QCoreApplication::processEvents();
    for (const char* name : {"detailName", "detailVendor"}) {
      auto* label = find<Label>(longer.get(), name);
      EXPECT_TRUE(label->text().endsWith(QStringLiteral("…"))) << name << " " << label->text().toStdString();
      EXPECT_TRUE(wholeInView(label)) << name;
      EXPECT_EQ(label->toolTip(), label->fullText()) << name;
      EXPECT_EQ(label->accessibleName(), label->fullText()) << name;
    }
    auto* launch = find<PaintedButton>(longer.get(), "actionLaunch");
    EXPECT_TRUE(wholeInView(launch));
    EXPECT_TRUE(launch->accessibleName().endsWith(longText));
  }
}

TEST_F(DetailSheetTest, TheInformationCardAndTheRowUpdatesInPlace) {
  auto sheet = open(item(kCli, false));
  EXPECT_EQ(labelText(sheet.get(), "detailStatusValue"), "Guarded");
  EXPECT_EQ(labelText(sheet.get(), "detailRunningValue"), "Stopped");
  EXPECT_FALSE(shown(sheet.get(), "detailRestartSection"));
  // A launch is under way when the dashboard hands over the running row.
  click(sheet.get(), "actionLaunch");
  DashboardAgentItem running = item(kCli, true);
  running.isFaulted = true;
  running.isThrottled = true;
  running.bigStatusText = "Faulted";
  sheet->setItem(running);
  EXPECT_TRUE(sheet->isLaunching()) << "busy flags survive a new row";
  EXPECT_EQ(labelText(sheet.get(), "detailRunningValue"), "Faulted");
  EXPECT_EQ(labelText(sheet.get(), "detailStatusValue"), "Recovery paused");
  EXPECT_TRUE(shown(sheet.get(), "detailRestartSection"));
  EXPECT_EQ(buttonLabel(sheet.get(), "restartButton"), "Restart (issue detected)");
}

TEST_F(DetailSheetTest, TheLockSwitchShowsTheStoreAndTurningItOffAsksFirst) {
  auto stopped = open(item(kCli, false));
  auto* stoppedSwitch = find<QAbstractButton>(stopped.get(), "lockOnlineSwitch");
  EXPECT_FALSE(stoppedSwitch->isEnabled()) << "a stopped agent that is not locked cannot be locked here";
  EXPECT_NEAR(test::drawnSwitchOpacity(stoppedSwitch, false), 0.45, 0.05) << "drawn at 0.45";

  auto sheet = open(item(kCli, true), true);
  auto* lock = find<QAbstractButton>(sheet.get(), "lockOnlineSwitch");
  ASSERT_TRUE(lock->isEnabled());
  EXPECT_FALSE(lock->isChecked());
  lock->click();
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());
  EXPECT_TRUE(shown(sheet.get(), "detailHeaderLock"));
  EXPECT_TRUE(stoppedSwitch->isEnabled()) << "every open sheet follows the store";

  lock->click();  // off: only asks
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());
  answer(alert(sheet.get(), "lockOffConfirm"), "lockOffCancel");
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());

  lock->click();
  auto* confirm = alert<Alert>(sheet.get(), "lockOffConfirm");
  ASSERT_NE(confirm, nullptr);
  EXPECT_EQ(confirm->title(), "Turn off lock?");
  EXPECT_EQ(confirm->message(), "Future exits will no longer be auto-recovered.");
  answer(confirm, "lockOffConfirmButton");
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_FALSE(lock->isChecked());
  EXPECT_FALSE(QFile::exists(bin.recordPath("systemctl"))) << "an agent launchd does not run is not disabled";
}

TEST_F(DetailSheetTest, TheLockSwitchActsOnAnAssistiveToolsToggleAndTheKeyboard) {
  auto sheet = open(item(kCli, true), true);
  auto* lock = find<QAbstractButton>(sheet.get(), "lockOnlineSwitch");
  // A screen reader's "Toggle" locks the agent, as a click does.
  ASSERT_TRUE(assistiveToggle(lock));
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());
  EXPECT_TRUE(accessibleChecked(lock));

  // Toggled off, it only asks: the switch goes on showing the store.
  ASSERT_TRUE(assistiveToggle(lock));
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());
  EXPECT_TRUE(accessibleChecked(lock));
  answer(alert(sheet.get(), "lockOffConfirm"), "lockOffConfirmButton");
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_FALSE(lock->isChecked());

  // Space on the focused switch.
  lock->setFocus();
  QTest::keyClick(lock, Qt::Key_Space);
  EXPECT_TRUE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(lock->isChecked());

  // Another sheet changing the store moves this switch without acting.
  lockOnline.setLocked("cli1", false);
  EXPECT_FALSE(lock->isChecked());
  EXPECT_EQ(sheet->findChild<QDialog*>("lockOffConfirm"), nullptr);

  // A stopped, unlocked agent's switch refuses a toggle from anywhere.
  auto stopped = open(item(kCli, false));
  auto* stoppedLock = find<QAbstractButton>(stopped.get(), "lockOnlineSwitch");
  EXPECT_FALSE(assistiveToggle(stoppedLock)) << "a disabled switch offers no action";
  stoppedLock->toggle();
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_FALSE(stoppedLock->isChecked());
}

TEST_F(DetailSheetTest, TheRestartQuestionIsAThemedAlertSizedToItsTextThatKeepsTheCommandWhole) {
  const QByteArray json = withExtra(
      kCli, R"("restart":{"command":["openclaw-gateway-supervisor","--restart-all-channels","--wait-for-ready"]})");
  auto sheet = open(item(json, true));
  sheet->show();
  click(sheet.get(), "restartButton");
  auto* box = alert<Alert>(sheet.get(), "restartConfirm");
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(waitUntil([&] { return box->isVisible(); }));
  EXPECT_GE(box->width(), Alert::kMinWidth);
  EXPECT_LE(box->height(), 260) << "as tall as its text, no more";
  const QImage drawn = box->grab().toImage();
  EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, 3), Theme::current().background) << "painted in the theme";

  // The message wraps at word boundaries and never inside the command.
  auto* message = box->findChild<QLabel*>("alertMessage");
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->wordWrap());
  EXPECT_GE(message->height(), message->heightForWidth(message->width()));
  const QStringList lines = wrappedLines(message);
  EXPECT_GT(lines.size(), 1) << "the message is long enough to wrap";
  const QString command = "openclaw-gateway-supervisor --restart-all-channels --wait-for-ready";
  EXPECT_TRUE(std::any_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.contains(command); }))
      << lines.join(" | ").toStdString();
  EXPECT_EQ(message->accessibleName(),
            "Will run " + command + ". Channels briefly disconnect and auto-reconnect.");
  answer(box, "restartCancel");
}

TEST_F(DetailSheetTest, TurningOffTheLockOfAManagedAgentDisablesItsJobWithoutWaiting) {
  // A service manager that never answers.
  bin.add("systemctl", "echo \"$@\" >> '" + bin.recordPath("systemctl") + "'\nexec /bin/sleep 30\n");
  DashboardAgentItem row = item(withExtra(kCli, R"("launchdLabel":"com.example.cli1")"), true);
  row.isLaunchdManaged = true;
  lockOnline.setLocked("cli1", true);
  auto sheet = open(row, true);
  find<QAbstractButton>(sheet.get(), "lockOnlineSwitch")->click();
  answer(alert(sheet.get(), "lockOffConfirm"), "lockOffConfirmButton");
  // The lock is off at once; the disable runs without holding the window.
  EXPECT_FALSE(lockOnline.isLocked("cli1"));
  EXPECT_TRUE(waitUntil([&] {
    return readFile(bin.recordPath("systemctl")).contains("--user disable com.example.cli1.service");
  }));
}

TEST_F(DetailSheetTest, LaunchAndStopAreBusyUntilTheirDelayedCompletions) {
  auto sheet = open(item(kCli, false), true);
  auto* launch = find<SecondaryButton>(sheet.get(), "actionLaunch");
  launch->click();
  EXPECT_TRUE(launch->isBusy());
  EXPECT_FALSE(launch->isEnabled());
  launch->click();
  EXPECT_EQ(callbacks.count("launch"), 1) << "a second click while busy does nothing";
  callbacks.launches.takeFirst()(false);
  EXPECT_FALSE(launch->isBusy()) << "the Bool does not matter";
  EXPECT_TRUE(launch->isEnabled());

  sheet->setItem(item(kCli, true));
  auto* stop = find<SecondaryButton>(sheet.get(), "actionStop");
  stop->click();
  stop->click();
  EXPECT_EQ(callbacks.count("stop"), 1);
  EXPECT_TRUE(stop->isBusy());
  callbacks.stops.takeFirst()(true);
  EXPECT_FALSE(stop->isBusy());
}

// Stop or Launch pressed from the keyboard: the button keeps the focus
// while it is busy, and the one that replaces it takes it, so the next
// Return is never "Open config folder".
TEST_F(DetailSheetTest, AKeyboardStopOrLaunchLeavesTheFocusOnTheButtonThatTakesItsPlace) {
  const QByteArray withFolder = withExtra(kCli, R"("backup":{"discovery":{"primaryHomes":["~/.cli1"]}})");
  QDir().mkpath(home.path() + "/.cli1");
  QWidget window;
  window.resize(700, 700);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto sheet = std::make_unique<AgentDetailSheet>(item(withFolder, true), callbacks.make(), stores(), settings, &window);
  sheet->setDeleteOnDismiss(false);
  sheet->present();
  ASSERT_TRUE(shown(sheet.get(), "setupButton"));
  auto* stop = find<SecondaryButton>(sheet.get(), "actionStop");
  auto* launch = find<SecondaryButton>(sheet.get(), "actionLaunch");
  stop->setFocus(Qt::TabFocusReason);
  QTest::keyClick(stop, Qt::Key_Return);
  ASSERT_EQ(callbacks.count("stop"), 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(callbacks.count("setup"), 0) << "a second Return while it stops opens nothing";
  callbacks.stops.takeFirst()(true);
  sheet->setItem(item(withFolder, false));
  EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == launch; }))
      << QApplication::focusWidget()->objectName().toStdString();
  EXPECT_TRUE(launch->showsFocus());

  QTest::keyClick(launch, Qt::Key_Return);
  ASSERT_EQ(callbacks.count("launch"), 1);
  sheet->setItem(item(withFolder, true));
  callbacks.launches.takeFirst()(true);
  EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == stop; }))
      << QApplication::focusWidget()->objectName().toStdString();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(callbacks.count("stop"), 2);
  EXPECT_EQ(callbacks.count("setup"), 0);
}

TEST_F(DetailSheetTest, StoppingAManagedAgentBootsItOutDropsTheLockAndStopsLater) {
  DashboardAgentItem row = item(withExtra(kCli, R"("launchdLabel":"com.example.cli1")"), true);
  row.isLaunchdManaged = true;
  lockOnline.setLocked("cli1", true);
  auto sheet = open(row, true);
  click(sheet.get(), "actionStop");
  EXPECT_FALSE(lockOnline.isLocked("cli1")) << "no confirmation for a stop";
  EXPECT_EQ(callbacks.count("stop"), 0) << "the dashboard's stop waits for launchd";
  EXPECT_TRUE(sheet->isStopping());
  EXPECT_TRUE(waitUntil([&] { return readFile(bin.recordPath("systemctl")).contains("stop\ncom.example.cli1.service"); }));
  ASSERT_TRUE(waitUntil([&] { return callbacks.count("stop") == 1; }, std::chrono::seconds(5)));
  EXPECT_TRUE(sheet->isStopping());
  callbacks.stops.takeFirst()(true);
  EXPECT_FALSE(sheet->isStopping());
}

TEST_F(DetailSheetTest, TheConsoleRunsInATerminalAndAFailureIsExplained) {
  auto sheet = open(item(withExtra(kCli, R"("tuiCommand":["cli1","tui","--x=\"a b\""])"), true), true);
  click(sheet.get(), "actionOpenConsole");
  EXPECT_TRUE(waitUntil([&] { return readFile(bin.recordPath("x-terminal-emulator")).contains("cli1 tui --x=\"a b\""); }));

  // No terminal at all: the alert names the command.
  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(home.path() + "/empty-bin"));
  click(sheet.get(), "actionOpenConsole");
  // The terminal is looked for off the window thread.
  auto* box = alert<Alert>(sheet.get(), "terminalFailedAlert");
  qputenv("PATH", savedPath);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), "Cannot open a terminal");
  EXPECT_TRUE(box->message().startsWith("Tried to open a terminal to run `cli1 tui '--x=\"a b\"'` but failed."));
  EXPECT_EQ(box->findChild<QLabel*>("alertMessage")->textFormat(), Qt::PlainText);
  EXPECT_FALSE(box->findChild<QLabel*>("alertMessage")->text().contains(QLatin1Char('`'))) << "no literal marks";
  EXPECT_EQ(box->message().count(QStringLiteral("xfce4-terminal")), 1) << "the terminal programs named once";
  answer(box, "alertGotIt");

  // A dashboard no browser opens is said too, with its address to copy.
  bin.add("xdg-open", "exit 4\n");
  auto dashboard = open(item(withExtra(kCli, R"("tuiCommand":[],"dashboardUrl":"http://localhost:18789/")"), true), true);
  click(dashboard.get(), "actionOpenDashboard");
  auto* failed = alert<Alert>(dashboard.get(), "openFailedAlert");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->message(), "No program on this desktop opened it (xdg-open ended with status 4). "
                               "Select it below to copy it and open it yourself.");
  EXPECT_EQ(failed->findChild<QLineEdit*>("openFailedTarget")->text(), "http://localhost:18789/");
  answer(failed, "alertGotIt");
}

TEST_F(DetailSheetTest, TheAutomaticDoctorRunsOnceWithItsBannerAndCoolsDown) {
  const QByteArray json = withExtra(kCli, R"("doctor":{"command":["cli1","doctor"]})");
  auto first = open(item(json, true), true);
  ASSERT_EQ(callbacks.count("doctor"), 1);
  EXPECT_TRUE(shown(first.get(), "doctorRunningBanner"));
  EXPECT_EQ(labelText(first.get(), "doctorRunningText"), "Checking Cli One configuration…");

  // Closed and opened again while the run goes on: no second run, and the
  // banner still says it is checking.
  first.reset();
  auto second = open(item(json, true), true);
  EXPECT_EQ(callbacks.count("doctor"), 1);
  EXPECT_TRUE(shown(second.get(), "doctorRunningBanner"));

  callbacks.doctors.takeFirst()(doctorRun(1));
  EXPECT_FALSE(shown(second.get(), "doctorRunningBanner"));
  ASSERT_TRUE(shown(second.get(), "doctorResultBanner"));
  EXPECT_EQ(labelText(second.get(), "bannerTitle"), "Setup complete. Found 1 known issue");
  EXPECT_EQ(labelText(second.get(), "bannerSubtitle"), "Click to view details and fix");
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(second.get(), "bannerTitle"), "setup 完成，发现 1 个已知问题");
  setLanguage(AppLanguage::en);

  second.reset();
  now = now.addSecs(299);
  auto third = open(item(json, true), true);
  EXPECT_EQ(callbacks.count("doctor"), 1) << "cooling down: the stored result is shown";
  EXPECT_TRUE(shown(third.get(), "doctorResultBanner"));
  third.reset();
  now = now.addSecs(1);
  auto fourth = open(item(json, true), true);
  EXPECT_EQ(callbacks.count("doctor"), 2);
  callbacks.doctors.takeFirst()(doctorRun(2));
  EXPECT_EQ(labelText(fourth.get(), "bannerTitle"), "Setup complete. Found 2 known issues");

  // A doctor that never finished is no pass: the banner warns.
  fourth.reset();
  now = now.addSecs(300);
  auto fifth = open(item(json, true), true);
  AgentDoctor::Result stopped = doctorRun(0);
  stopped.exitCode = 143;
  stopped.timedOut = true;
  stopped.timeLimitSeconds = 120;
  callbacks.doctors.takeFirst()(stopped);
  EXPECT_EQ(labelText(fifth.get(), "bannerTitle"), "The check did not succeed");
  EXPECT_EQ(labelText(fifth.get(), "bannerSubtitle"), "Did not finish within 120 s · click to view the output");
  auto* symbol = fifth->findChild<QWidget*>("doctorResultBanner")->findChild<SymbolView*>("bannerSymbol");
  ASSERT_NE(symbol, nullptr);
  EXPECT_EQ(symbol->symbol(), "exclamationmark.triangle.fill");
  EXPECT_TRUE(test::drawsIn(symbol, Theme::current().warningSymbol)) << "the warning's symbol shade";
}

TEST_F(DetailSheetTest, RestartAsksFirstAndItsHintsFollowTheLanguage) {
  const QByteArray json = withExtra(
      kCli, R"("restart":{"command":["cli1","gateway","restart"]},"doctor":{"command":["cli1","doctor"]})");
  auto sheet = open(item(json, true));
  EXPECT_EQ(buttonLabel(sheet.get(), "restartButton"), "Restart Gateway");
  EXPECT_EQ(labelText(sheet.get(), "restartHint"), "Will run: cli1 gateway restart");
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(labelText(sheet.get(), "restartHint"), "将运行：cli1 gateway restart");
  EXPECT_EQ(labelText(sheet.get(), "doctorHint"), "将运行：cli1 doctor（只读，不修改任何东西）");
  EXPECT_EQ(monospaced(sheet.get(), "doctorHint"), QStringList{"cli1 doctor"}) << "the command reads apart";
  EXPECT_EQ(monospaced(sheet.get(), "restartHint"), QStringList{"cli1 gateway restart"});
  EXPECT_EQ(buttonLabel(sheet.get(), "doctorButton"), "诊断");
  setLanguage(AppLanguage::en);

  sheet->show();
  click(sheet.get(), "restartButton");
  auto* box = alert<Alert>(sheet.get(), "restartConfirm");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->title(), "Restart Cli One?");
  EXPECT_EQ(box->windowTitle(), "Restart Cli One?");
  EXPECT_EQ(box->message(), "Will run `cli1 gateway restart`. Channels briefly disconnect and auto-reconnect.");
  answer(box, "restartCancel");
  EXPECT_EQ(callbacks.count("restart"), 0);
  ASSERT_TRUE(waitUntil([&] { return sheet->findChild<Alert*>("restartConfirm") == nullptr; }));
  click(sheet.get(), "restartButton");
  answer(alert(sheet.get(), "restartConfirm"), "restartConfirmButton");
  EXPECT_EQ(callbacks.count("restart"), 1);
}

TEST_F(DetailSheetTest, TheManualDoctorOpensItsOutputAndStoresTheResultEvenAfterClosing) {
  const QByteArray json = withExtra(kCli, R"("doctor":{"command":["cli1","doctor"]})");
  doctorResults.setResult("cli1", doctorRun(0, 0.5));
  auto sheet = open(item(json, true));  // never shown, so no automatic run
  auto* button = find<SecondaryButton>(sheet.get(), "doctorButton");
  button->click();
  EXPECT_TRUE(sheet->isDoctorRunning());
  EXPECT_FALSE(button->isEnabled());
  EXPECT_EQ(button->label(), "Diagnosing…");
  button->click();
  EXPECT_EQ(callbacks.count("doctor"), 1);
  callbacks.doctors.takeFirst()(std::nullopt);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(sheet->doctorOutputSheet(), nullptr) << "no result opens nothing";
  EXPECT_TRUE(doctorResults.result("cli1")) << "the stored result stays";

  button->click();
  callbacks.doctors.takeFirst()(doctorRun(2, 3.0));
  ASSERT_NE(sheet->doctorOutputSheet(), nullptr);
  EXPECT_EQ(doctorResults.result("cli1")->elapsedSeconds, 3.0);

  // Closed while a run goes on: the result still reaches the store.
  button->click();
  sheet.reset();
  callbacks.doctors.takeFirst()(doctorRun(0, 4.0));
  EXPECT_EQ(doctorResults.result("cli1")->elapsedSeconds, 4.0);
}

TEST_F(DetailSheetTest, CompletionsAfterTheSheetClosedLandOnNothing) {
  DashboardAgentItem row = item(withExtra(kCli, R"("launchdLabel":"com.example.cli1")"), true);
  auto sheet = open(row, true);
  click(sheet.get(), "actionStop");
  sheet->setItem(item(kCli, false));
  click(sheet.get(), "actionLaunch");
  sheet.reset();
  callbacks.launches.takeFirst()(true);
  callbacks.stops.takeFirst()(true);

  // A managed agent's delayed stop still reaches the dashboard after closing.
  row.isLaunchdManaged = true;
  auto managed = open(row, true);
  click(managed.get(), "actionStop");
  managed.reset();
  ASSERT_TRUE(waitUntil([&] { return !callbacks.stops.isEmpty(); }, std::chrono::seconds(5)));
  callbacks.stops.takeFirst()(true);
}

// Every text the sheet draws reads at 4.5:1 in both schemes, as drawn: the
// banner, the cards, the action row, the outlined sections (a red
// Uninstall at 0.85 among them), the hints and every row of the history.
TEST_F(DetailSheetTest, EveryTextReadsInBothSchemes) {
  QDir(home.path()).mkpath(".cli1-config");
  const QByteArray full = withExtra(
      kCli, R"("backup":{"discovery":{"primaryHomes":["~/.cli1-config"]}},"doctor":{"command":["cli1","doctor"]},)"
            R"("restart":{"command":["cli1","restart"]},"uninstall":{"paths":["~/.cli1"]})");
  for (const AgentEventType type : {AgentEventType::started, AgentEventType::exitedAbnormal, AgentEventType::throttled})
    events.append(AgentEvent::make("cli1", type));
  doctorResults.setResult("cli1", doctorRun(2));
  auto running = open(item(full, true), true);
  expectReadableInBothSchemes(*running, "the detail sheet of a running agent");
  // Stopped and locked: the lock's hint, the lock mark.
  lockOnline.setLocked("cli1", true);
  auto locked = open(item(full, false), true);
  expectReadableInBothSchemes(*locked, "the detail sheet of a locked agent");
}

TEST_F(DetailSheetTest, SetupOffersTheCommandOrTheConfigurationFolder) {
  auto command = open(item(withExtra(kCli, R"("setupCommand":["cli1","setup-token"])")));
  ASSERT_TRUE(shown(command.get(), "detailSetupSection"));
  EXPECT_EQ(buttonLabel(command.get(), "setupButton"), "Configure agent");
  EXPECT_EQ(command->findChild<QLabel*>("setupHint")->accessibleName(),
            "Will run cli1 setup-token in a terminal — follow the prompts to complete one-time setup");
  EXPECT_FALSE(labelText(command.get(), "setupHint").contains(QLatin1Char('`')));
  click(command.get(), "setupButton");
  EXPECT_EQ(callbacks.calls, QStringList{"setup"});

  QDir(home.path()).mkpath(".cli1-config");
  const QByteArray folders = withExtra(kCli, R"("backup":{"discovery":{"primaryHomes":["~/.cli1-config"]}})");
  auto folder = open(item(folders));
  ASSERT_TRUE(shown(folder.get(), "detailSetupSection"));
  EXPECT_EQ(buttonLabel(folder.get(), "setupButton"), "Open config folder");
  EXPECT_EQ(labelText(folder.get(), "setupHint"), "Open ~/.cli1-config in your file manager");
  setLanguage(AppLanguage::zh);
  EXPECT_EQ(buttonLabel(folder.get(), "setupButton"), "打开配置目录");
  EXPECT_EQ(labelText(folder.get(), "setupHint"), "在文件管理器中打开 ~/.cli1-config");
  setLanguage(AppLanguage::en);

  EXPECT_FALSE(shown(open(item(kCli)).get(), "detailSetupSection"));
}

// Unlocked: outlined in red at 0.35 with its text in red at 0.85; locked: a
// faint grey outline, clearly fainter.
TEST_F(DetailSheetTest, TheUnlockedUninstallButtonIsOutlinedInRedTheLockedOneFaintly) {
  const QByteArray json = withExtra(kCli, R"("restart":{"command":["cli1","restart"]},"uninstall":{"paths":["~/.cli1"]})");
  auto sheet = open(item(json, true), true);
  const QColor back = Theme::current().background;
  // The outline's colour where it crosses the button's middle row, and how
  // far it stands from the sheet behind it.
  const auto edge = [&] { return find<SecondaryButton>(sheet.get(), "uninstallButton")->grab().toImage(); };
  const auto standout = [&](const QColor& c) {
    return std::abs(c.red() - back.red()) + std::abs(c.green() - back.green()) + std::abs(c.blue() - back.blue());
  };
  const auto outline = [&](const QImage& face) {
    QColor strongest = back;
    for (int x = 0; x < 4; ++x)
      if (const QColor c = face.pixelColor(x, face.height() / 2); standout(c) > standout(strongest)) strongest = c;
    return strongest;
  };
  const QImage unlocked = edge();
  const QColor red = Theme::destructive;
  const auto over = [&](qreal opacity) {
    return QColor::fromRgbF(back.redF() + (red.redF() - back.redF()) * opacity,
                            back.greenF() + (red.greenF() - back.greenF()) * opacity,
                            back.blueF() + (red.blueF() - back.blueF()) * opacity);
  };
  EXPECT_LT(standout(outline(unlocked)), standout(over(0.45))) << "red at 0.35, not filled or stronger";
  EXPECT_GT(standout(outline(unlocked)), standout(over(0.2)));
  EXPECT_GT(outline(unlocked).red(), outline(unlocked).green() + 30) << "red";
  const QColor middle = unlocked.pixelColor(unlocked.width() / 2, 2);
  EXPECT_LT(standout(middle), 8) << "no fill";
  lockOnline.setLocked("cli1", true);
  EXPECT_LT(standout(outline(edge())) * 2, standout(outline(unlocked))) << "the locked one is clearly fainter";
}

TEST_F(DetailSheetTest, UninstallIsOffWhileLockedAndItsDoneClosesTheSheet) {
  int built = 0;
  std::function<void()> done;
  const auto factory = [&](QWidget* parent, const AgentEntry& entry, std::function<void()> onClose,
                           std::function<void()> onDone) {
    ++built;
    EXPECT_EQ(entry.id, "cli1");
    done = std::move(onDone);
    auto* sheet = new Sheet(QSize(100, 100), parent);
    sheet->setOnClose(std::move(onClose));
    return sheet;
  };
  const QByteArray json =
      withExtra(kCli, R"("launchdLabel":"com.example.un","uninstall":{"preCommands":[["npm","rm","-g","cli1"]]})");
  lockOnline.setLocked("cli1", true);
  auto sheet = open(item(json, true), true);
  sheet->setUninstallSheetFactory(factory);
  ASSERT_TRUE(shown(sheet.get(), "detailUninstallSection"));
  auto* button = find<SecondaryButton>(sheet.get(), "uninstallButton");
  EXPECT_FALSE(button->isEnabled());
  EXPECT_TRUE(shown(sheet.get(), "uninstallLockHint"));
  EXPECT_EQ(labelText(sheet.get(), "uninstallLockHint"), "Turn off Locked-online to uninstall");

  lockOnline.setLocked("cli1", false);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(shown(sheet.get(), "uninstallLockHint"));
  button->click();
  ASSERT_EQ(built, 1);
  ASSERT_NE(sheet->uninstallSheet(), nullptr);
  done();
  EXPECT_EQ(callbacks.calls, QStringList{"close"});

  EXPECT_FALSE(shown(open(item(withExtra(kCli, R"("uninstall":{"paths":[]})"))).get(), "detailUninstallSection"));
}

TEST_F(DetailSheetTest, TheTwentyNewestEventsShowAsTimesOfDayWithTheirDates) {
  auto empty = open(item(kCli));
  EXPECT_TRUE(shown(empty.get(), "noEvents"));
  EXPECT_EQ(labelText(empty.get(), "noEvents"), "No events yet");

  const QTimeZone shanghai("Asia/Shanghai");
  const QDate today = QDateTime::currentDateTime().toTimeZone(shanghai).date();
  const QDate yesterday = today.addDays(-1);
  const QString dated = yesterday.toString(yesterday.year() == today.year() ? "MM-dd " : "yyyy-MM-dd ");
  for (int i = 0; i < 25; ++i) {
    const QDateTime at = QDateTime(yesterday, QTime(9, 5), shanghai).addSecs(i * 3600);
    events.append(AgentEvent{QUuid::createUuid(), "cli1",
                             i == 24 ? AgentEventType::hangDetected : AgentEventType::started,
                             double(at.toSecsSinceEpoch() - 978307200), std::nullopt});
  }
  EXPECT_FALSE(shown(empty.get(), "noEvents")) << "the history follows the log";
  const QList<QWidget*> rows = empty->findChildren<QWidget*>("eventRow");
  QList<QWidget*> visible;
  for (QWidget* r : rows)
    if (!r->isHidden()) visible << r;
  ASSERT_EQ(visible.size(), 20);
  EXPECT_EQ(labelText(visible[0], "eventTime"), "09:05") << "newest first: today, 24 hours after the first";
  EXPECT_EQ(labelText(visible[0], "eventText"), "Unresponsive too long");
  EXPECT_EQ(labelText(visible[19], "eventTime"), dated + "14:05") << "an earlier day's event gives its date";
  EXPECT_EQ(labelText(visible[12], "eventTime"), dated + "21:05");
  const QWidget* time = visible[19]->findChild<QWidget*>("eventTime");
  EXPECT_GE(time->width(), QFontMetrics(time->font()).horizontalAdvance(dated + "14:05")) << "the date is not cut";
  EXPECT_LE(empty->findChild<QWidget*>("eventsArea")->height(), 180);

  // The keyboard reaches the history, Tab showing every control on its way,
  // and the list scrolls with the keys.
  empty->show();
  empty->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(empty.get()));
  auto* area = find<QAbstractScrollArea>(empty.get(), "eventsArea");
  find<QWidget>(empty.get(), "detailCloseButton")->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < 30 && QApplication::focusWidget() != area; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(wholeInView(QApplication::focusWidget())) << QApplication::focusWidget()->accessibleName().toStdString();
  }
  ASSERT_EQ(QApplication::focusWidget(), area);
  // Named for a screen reader, its ring in room of its own around the
  // rows: never over a time's first digit nor across the top row.
  EXPECT_EQ(area->accessibleName(), "Recent events");
  const QRect view = area->viewport()->geometry();
  EXPECT_GE(view.left(), 3);
  EXPECT_GE(view.top(), 3);
  EXPECT_LE(view.bottom(), area->height() - 4);
  QScrollBar* bar = area->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  QTest::keyClick(area, Qt::Key_PageDown);
  EXPECT_GT(bar->value(), 0);
  QTest::keyClick(area, Qt::Key_End);
  EXPECT_EQ(bar->value(), bar->maximum());
  QTest::keyClick(area, Qt::Key_Up);
  EXPECT_LT(bar->value(), bar->maximum());
}

TEST_F(DetailSheetTest, TheDoctorOutputSheetOpensFromTheBannerAndRerunsThroughTheDashboard) {
  const QByteArray json = withExtra(kCli, R"("doctor":{"command":["cli1","doctor"]})");
  auto sheet = open(item(json, true), true);
  callbacks.doctors.takeFirst()(doctorRun(1, 2.0));
  click(sheet.get(), "doctorResultBanner");
  DoctorOutputSheet* output = sheet->doctorOutputSheet();
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->model().currentResult()->elapsedSeconds, 2.0);

  click(output, "issueFixButton");
  ASSERT_EQ(callbacks.fixes.size(), 1);
  callbacks.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  ASSERT_EQ(callbacks.doctors.size(), 1) << "a successful fix asks for a new run";
  callbacks.doctors.takeFirst()(doctorRun(0, 6.0));
  EXPECT_EQ(sheet->doctorResult()->elapsedSeconds, 6.0);
  EXPECT_EQ(output->model().currentResult()->elapsedSeconds, 6.0);
  EXPECT_EQ(doctorResults.result("cli1")->elapsedSeconds, 2.0) << "a re-run leaves the banner's result";
  EXPECT_TRUE(shown(output, "doctorAllFixedBanner"));
}
