// The alert presenter the start-at-login question and its failure use.
#include "ui/shell/Alerts.h"

#include "core/stores/SettingsStore.h"
#include "presentation/ScanPause.h"
#include "support/TestSupport.h"
#include "support/gui/AssistiveTool.h"
#include "support/gui/ReadableTexts.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/shell/MainWindow.h"
#include "watcher/AgentLifecycleWatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QAccessible>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tlr;

namespace {

// Runs `act` on the alert once it is up.
void whenAlertShows(std::function<void(Alert&)> act) {
  QTimer::singleShot(0, [act] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* alert = qobject_cast<Alert*>(w); alert && alert->isVisible()) return act(*alert);
  });
}

}  // namespace

TEST(AlertPresenter, IsTheKitsAlertReturnsTheButtonChosenShowsPlainTextAndPausesTheScan) {
  const auto asIs = [](const char* text) { return LocKey::installStepAsIs(QString::fromUtf8(text)); };
  const SelfGuardStore::AlertText text{asIs("Enable <b>auto-start</b>?"), asIs("A & B"), asIs("Enable & Go"),
                                       asIs("Not now")};
  SettingsStore settings;
  settings.setLanguage(AppLanguage::en);
  ScanPause pause;
  bool paused = false;
  QString shownTitle, shownMessage, firstLabel, role;
  bool frameless = false;
  whenAlertShows([&](Alert& alert) {
    paused = pause.isPaused();
    shownTitle = alert.findChild<Label*>(QStringLiteral("alertTitle"))->text();
    shownMessage = alert.findChild<Label*>(QStringLiteral("alertMessage"))->text();
    frameless = alert.windowFlags().testFlag(Qt::FramelessWindowHint);
    if (QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&alert))
      role = a->role() == QAccessible::AlertMessage ? a->text(QAccessible::Name) : QStringLiteral("not an alert");
    auto* first = alert.findChild<QAbstractButton*>(QStringLiteral("alertFirstButton"));
    firstLabel = first->accessibleName();
    // Return presses the default, the first button.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&alert, &enter);
  });
  EXPECT_EQ(presentAlert(settings, text, pause), SelfGuardStore::AlertChoice::firstButton);
  EXPECT_TRUE(paused);
  EXPECT_FALSE(pause.isPaused());
  EXPECT_EQ(shownTitle, QStringLiteral("Enable <b>auto-start</b>?")) << "shown as it is, never as markup";
  EXPECT_EQ(shownMessage, QStringLiteral("A & B"));
  EXPECT_TRUE(frameless);
  EXPECT_EQ(role, shownTitle) << "an alert to assistive tools, named by its question";
  EXPECT_EQ(firstLabel, QStringLiteral("Enable & Go"));

  whenAlertShows([](Alert& alert) { alert.findChild<QAbstractButton*>(QStringLiteral("alertSecondButton"))->click(); });
  EXPECT_EQ(presentAlert(settings, text, pause), SelfGuardStore::AlertChoice::secondButton);
  // Closed with Esc: the second button's answer.
  whenAlertShows([](Alert& alert) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&alert, &escape);
  });
  EXPECT_EQ(presentAlert(settings, text, pause), SelfGuardStore::AlertChoice::secondButton);
}

// The start-at-login store hands its alerts over by key; they read in the
// window's language.
TEST(AlertPresenter, SaysTheStoresKeysInTheWindowsLanguage) {
  SettingsStore settings;
  ScanPause pause;
  for (const AppLanguage language : {AppLanguage::zh, AppLanguage::en}) {
    settings.setLanguage(language);
    QString title, second;
    whenAlertShows([&](Alert& alert) {
      title = alert.findChild<Label*>(QStringLiteral("alertTitle"))->text();
      auto* button = alert.findChild<QAbstractButton*>(QStringLiteral("alertSecondButton"));
      second = button->accessibleName();
      button->click();
    });
    EXPECT_EQ(presentAlert(settings, SelfGuardStore::enableFailedAlertText(), pause),
              SelfGuardStore::AlertChoice::secondButton);
    EXPECT_EQ(title, language == AppLanguage::zh ? QStringLiteral("无法开启自启动") : QStringLiteral("Couldn't enable auto-start"));
    EXPECT_EQ(second, language == AppLanguage::zh ? QStringLiteral("我知道了") : QStringLiteral("Got it"));
  }
}

TEST(ActionFailureAlert, TellsAFailedLaunchInTheWindowsLanguageOverTheWindow) {
  MainWindow window;
  window.resize(680, 560);
  auto* content = new PrimaryButton(QStringLiteral("content"), QString(), &window);
  window.show();
  UserActionFailure failure;
  failure.action = UserActionFailure::Action::launch;
  failure.displayName = QStringLiteral("Fake <b>Agent</b>");
  failure.result = AgentRecover::Result::couldNotOpen(AgentRecover::Result::Unopened::terminal, QStringLiteral("x"),
                                                      QStringLiteral("fake --go"), QStringLiteral("no terminal"));
  SettingsStore settings;
  settings.setLanguage(AppLanguage::en);
  QPointer<Alert> alert = presentActionFailure(settings, failure, &window);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->objectName(), QStringLiteral("actionFailedAlert"));
  EXPECT_TRUE(alert->isVisible());
  EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
  EXPECT_FALSE(test::reachableInTree(&window, content)) << "the window's content is out of an assistive tool's reach";
  EXPECT_EQ(alert->title(), QStringLiteral("Cannot launch Fake <b>Agent</b>"));
  EXPECT_TRUE(alert->message().startsWith(QStringLiteral("Tried to open a terminal to run `fake --go` but failed.")));
  EXPECT_TRUE(alert->message().endsWith(QStringLiteral("Error: no terminal")));
  auto* gotIt = alert->findChild<QAbstractButton*>(QStringLiteral("alertGotIt"));
  ASSERT_NE(gotIt, nullptr);
  EXPECT_EQ(gotIt->accessibleName(), QStringLiteral("Got it"));
  test::expectReadableInBothSchemes(*alert, "an action's failure alert");
  // The open-failed alert, with its address to copy.
  QPointer<Alert> unopened = Alert::presentOpenFailed(settings, QStringLiteral("https://example.org/a"),
                                                      LocKey::alertOpenerFailed(3), /*folder=*/false, &window);
  ASSERT_TRUE(unopened);
  test::expectReadableInBothSchemes(*unopened, "an address that could not be opened");
  unopened->findChild<QAbstractButton*>(QStringLiteral("alertGotIt"))->click();
  gotIt->click();
  EXPECT_TRUE(tlr::test::waitUntil([&] { return alert.isNull(); })) << "it closes and goes";
  EXPECT_TRUE(test::reachableInTree(&window, content)) << "and back in reach";

  settings.setLanguage(AppLanguage::zh);
  failure.action = UserActionFailure::Action::setup;
  alert = presentActionFailure(settings, failure, nullptr);
  EXPECT_EQ(alert->title(), QStringLiteral("无法打开终端配置 Fake <b>Agent</b>"));
  alert->findChild<QAbstractButton*>(QStringLiteral("alertGotIt"))->click();
}
