// The tray item, the main window, the onboarding window and the update
// announcement.
#include "core/stores/SettingsStore.h"
#include "presentation/ScanPause.h"
#include "service/VornelAppSDK.h"
#include "support/TestSupport.h"
#include "support/gui/ApplicationLook.h"
#include "ui/kit/Controls.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/OnboardingWindow.h"
#include "ui/shell/ShellTestSupport.h"
#include "ui/shell/StatusItemController.h"
#include "ui/shell/UpdateAnnouncement.h"

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>

#include <QWindow>

#include <gtest/gtest.h>

using namespace tlr;
using tlr::test::child;

namespace {

// A temporary HOME and settings of the test's own in `language`, whose
// changes reach the windows.
struct LanguageScope {
  test::TempHome home;
  SettingsStore settings;
  explicit LanguageScope(AppLanguage language) {
    settings.setLanguage(language);
    relayLanguageChanges(settings);
  }
};

}  // namespace

// The menu opens the window (for trays that show it on a left click) and
// quits, in the current language; clicks other than the menu's open the window.
TEST(StatusItem, MenuOpensAndQuitsInTheCurrentLanguageAndClicksOpenTheWindow) {
  LanguageScope scope(AppLanguage::en);
  int opened = 0, quits = 0;
  StatusItemController item(scope.settings, [&] { ++opened; }, [&] { ++quits; });
  QMenu* menu = item.contextMenu();
  ASSERT_EQ(menu->actions().size(), 2);
  QAction* open = menu->actions().first();
  QAction* quit = menu->actions().last();
  EXPECT_EQ(open->text(), QStringLiteral("Open Tollamere"));
  EXPECT_EQ(quit->text(), QStringLiteral("Quit Tollamere"));
  EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

  scope.settings.setLanguage(AppLanguage::zh);
  Q_EMIT menu->aboutToShow();
  EXPECT_EQ(open->text(), QStringLiteral("打开 Tollamere"));
  EXPECT_EQ(quit->text(), QStringLiteral("退出 Tollamere"));
  open->trigger();
  EXPECT_EQ(opened, 1);
  opened = 0;

  item.handleClick(QSystemTrayIcon::Trigger);      // left click
  item.handleClick(QSystemTrayIcon::DoubleClick);
  item.handleClick(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(opened, 3);
  item.handleClick(QSystemTrayIcon::Context);      // right click: the menu, not the window
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(quits, 0);
  quit->trigger();
  EXPECT_EQ(quits, 1);
}

TEST(StatusItem, WithoutASystemTrayNothingIsInstalled) {
  // The offscreen platform has no tray: install() says so and the caller
  // shows the main window instead.
  SettingsStore settings;
  StatusItemController item(settings, [] {}, [] {});
  EXPECT_EQ(item.install(), QSystemTrayIcon::isSystemTrayAvailable());
  const QIcon icon = StatusItemController::shieldIcon();
  EXPECT_TRUE(icon.availableSizes().contains(QSize(18, 19)));
  EXPECT_TRUE(icon.availableSizes().contains(QSize(36, 38)));
}

TEST(MainWindowController, OneWindowTitledTollamereThatCloseOnlyHides) {
  test::TempHome home;
  SettingsStore settings;
  MainWindowController controller(nullptr, settings);
  EXPECT_EQ(controller.window(), nullptr) << "no window before the first show";
  controller.show();
  MainWindow* window = controller.window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Tollamere"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window) << "a frame, not a filler";
  EXPECT_EQ(window->minimumSize(), QSize(680, 560));
  EXPECT_EQ(window->size(), QSize(680, 560));
  window->resize(500, 400);
  EXPECT_EQ(window->size(), QSize(680, 560)) << "never smaller than 680 × 560";

  window->resize(900, 700);
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
  controller.show();
  EXPECT_EQ(controller.window(), window) << "the same window comes back";
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(900, 700)) << "at its last size";
}

TEST(MainWindowController, HostsTheDashboardAndFollowsTheDockSetting) {
  test::TempHome home;
  SettingsStore settings;
  MainWindowController controller(nullptr, settings);
  auto* dashboard = new QWidget();
  dashboard->setObjectName(QStringLiteral("dashboard"));
  controller.setDashboard(dashboard);
  ASSERT_NE(controller.window(), nullptr);
  EXPECT_EQ(controller.window()->body(), dashboard);
  EXPECT_EQ(dashboard->parentWidget(), controller.window());
  controller.show();
  // Only a hint to the window manager: the window stays the same normal one
  // (what the window manager does with it is seen on a display).
  QWindow* native = controller.window()->windowHandle();
  settings.setShowInDock(false);
  EXPECT_FALSE(controller.window()->isShownInTaskbar()) << "out of the task bar";
  EXPECT_EQ(controller.window()->windowType(), Qt::Window);
  EXPECT_EQ(controller.window()->windowHandle(), native) << "not recreated";
  EXPECT_TRUE(controller.window()->isVisible());
  settings.setShowInDock(true);
  EXPECT_TRUE(controller.window()->isShownInTaskbar());
}

TEST(Onboarding, WithoutASystemTrayItSaysTheMainWindowIsWhereTollamereLives) {
  LanguageScope scope(AppLanguage::en);
  ScanPause pause;
  OnboardingWindow window(QImage(48, 48, QImage::Format_ARGB32_Premultiplied), OnboardingWindow::Home::mainWindow,
                          pause, scope.settings);
  EXPECT_EQ(child<Label>(window, "onboardingBody")->text(),
            QStringLiteral("This desktop has no system tray, so I live in my main window."));
  EXPECT_EQ(child<Label>(window, "onboardingStep2")->text(),
            QStringLiteral("Start Tollamere again and the window comes to the front"));
  test::expectReadableInBothSchemes(window, "the onboarding window without a tray");
  scope.settings.setLanguage(AppLanguage::zh);
  EXPECT_EQ(child<Label>(window, "onboardingBody")->text(), QStringLiteral("这个桌面没有系统托盘，所以我常驻在主窗口里。"));
}

TEST(Onboarding, TextsInBothLanguagesAndEveryWayOutEndsTheModalRun) {
  LanguageScope scope(AppLanguage::en);
  ScanPause pause;
  OnboardingWindow window(QImage(48, 48, QImage::Format_ARGB32_Premultiplied), OnboardingWindow::Home::tray, pause,
                          scope.settings);
  EXPECT_EQ(child<Label>(window, "onboardingTitle")->text(), QStringLiteral("Tollamere is running 👋"));
  EXPECT_EQ(child<Label>(window, "onboardingBody")->text(), QStringLiteral("I live in the system tray of your desktop's panel."));
  EXPECT_EQ(window.okButton()->label(), QStringLiteral("Got it"));
  EXPECT_EQ(window.width(), 460);
  // Frameless like an alert, named by its title.
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tollamere is running 👋"));
  test::expectReadableInBothSchemes(window, "the onboarding window");
  scope.settings.setLanguage(AppLanguage::zh);
  EXPECT_EQ(child<Label>(window, "onboardingTitle")->text(), QStringLiteral("Tollamere 已启动 👋"));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tollamere 已启动 👋"));
  EXPECT_EQ(child<Label>(window, "onboardingStep1")->text(), QStringLiteral("先退出一些不用的托盘程序，腾出空间"));
  EXPECT_EQ(window.okButton()->accessibleName(), QStringLiteral("我知道了"));

  // The button, Return, and a close by the window manager each end run();
  // the scan is paused only while it runs.
  const std::vector<std::function<void(OnboardingWindow&)>> ways{
      [](OnboardingWindow& w) { test::click(w.okButton()); },
      [](OnboardingWindow& w) { QTest::keyClick(&w, Qt::Key_Return); },
      [](OnboardingWindow& w) { w.close(); },
  };
  for (const auto& way : ways) {
    OnboardingWindow modal(QImage(48, 48, QImage::Format_ARGB32_Premultiplied), OnboardingWindow::Home::tray, pause,
                          scope.settings);
    bool pausedInside = false;
    QTimer::singleShot(0, &modal, [&] {
      pausedInside = pause.isPaused();
      way(modal);
    });
    modal.run();
    EXPECT_TRUE(pausedInside);
    EXPECT_FALSE(pause.isPaused());
    EXPECT_EQ(modal.result(), QDialog::Accepted);
    EXPECT_FALSE(modal.isVisible());
  }
}

// The address from the network went raw into the body, which notification
// servers read as markup: a link to a local file could be clicked.
TEST(UpdateAnnouncement, TitleAndBodyReachNotifySendAsTwoArgumentsWhateverTheyHoldAndTheBodyAsText) {
  test::TempHome home;
  test::FakeBin bin;
  bin.addRecorder("notify-send");
  VornelUpdate update;
  update.latest_version =
      QStringLiteral("9.9\" with title \"x\" do shell script \"touch /tmp/tlr-pwned; $(id) `id`\n\x1b[31mred\u2028");
  update.download_url = QStringLiteral("https://evil.example/a'b\"c;rm -rf ~ <a href=\"file:///etc/passwd\">x</a> & <img src=x>");
  update.force = false;
  announceUpdate(update);
  const QString record = bin.recordPath("notify-send");
  ASSERT_TRUE(test::waitUntil([&] { return test::readFile(record).endsWith("--\n"); }));
  EXPECT_EQ(test::readFile(record),
            QStringLiteral("Tollamere 9.9\" with title \"x\" do shell script \"touch /tmp/tlr-pwned; $(id) `id`[31mred 可用\n"
                           "下载：https://evil.example/a'b&quot;c;rm -rf ~ &lt;a href=&quot;file:///etc/passwd&quot;&gt;x&lt;/a&gt; "
                           "&amp; &lt;img src=x&gt;\n--\n"));
  EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/tlr-pwned")));
  update.force = true;
  EXPECT_EQ(updateAnnouncementTitle(update, AppLanguage::zh), QStringLiteral("Tollamere 必须更新到 ") + update.latest_version);
  // In the English interface, in English.
  update.latest_version = "2.0 {1}";
  EXPECT_EQ(updateAnnouncementTitle(update, AppLanguage::en), "Tollamere must be updated to 2.0 {1}");
  update.force = false;
  EXPECT_EQ(updateAnnouncementTitle(update, AppLanguage::en), "Tollamere 2.0 {1} is available");
  update.download_url = "https://example.com/get";
  EXPECT_EQ(updateAnnouncementBody(update, AppLanguage::en), "Download: https://example.com/get");
}
