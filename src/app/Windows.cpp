#include "app/Windows.h"

#include "app/BackupSheetsWiring.h"
#include "app/DashboardSheetWiring.h"
#include "core/stores/EventStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "core/system/SelfGuard.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "presentation/AgentActions.h"
#include "presentation/DashboardModel.h"
#include "presentation/ScanPause.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"
#include "ui/shell/Alerts.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/OnboardingWindow.h"
#include "ui/shell/StatusItemController.h"
#include "watcher/AgentLifecycleWatcher.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

namespace tlr {
namespace {

// Without a display (Qt's offscreen platform) nobody could see a window or
// answer a prompt: the supervisor then runs without them, and a modal
// prompt can never stall the scan.
bool hasDisplay() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

AppWindows::AppWindows(SettingsStore& settings, ScanPause& scanPause, std::function<void()> quit, QObject* parent)
    : QObject(parent), settings_(settings), appearance_(std::make_unique<Appearance>()), scanPause_(scanPause),
      quit_(std::move(quit)) {
  // Closing the main window only hides it; quitting is the tray's command.
  QApplication::setQuitOnLastWindowClosed(false);
  // The scheme follows the desktop and the appearance setting, painted into
  // the application palette (stock widgets such as scroll bars match); the
  // stored preference applies at once.
  appearance_->followDesktop();
  appearance_->setAppliesApplicationPalette(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr);
  settings_.setAppearanceHandler(
      [appearance = appearance_.get()](AppearancePreference preference) { appearance->setPreference(preference); });
  relayLanguageChanges(settings_);
  if (hasDisplay()) {
    SelfGuardStore::shared().setAlertPresenter(
        [this](const SelfGuardStore::AlertText& text) { return presentAlert(settings_, text, scanPause_); });
    connect(&SelfGuardStore::shared(), &SelfGuardStore::openFailed, this,
            [this](const QString& folder, const LocKey& reason) {
              Alert::presentOpenFailed(settings_, folder, reason, /*folder=*/true, QApplication::activeWindow());
            });
  } else
    log("[App] ", QStringLiteral("无显示 (%1) → 不显示窗口和首次提示").arg(QGuiApplication::platformName()));
  // Ctrl+Q quits from every window, also from a sheet or an alert in front.
  qApp->installEventFilter(this);
}

AppWindows::~AppWindows() { settings_.setAppearanceHandler({}); }

bool AppWindows::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Q && key->modifiers() == Qt::ControlModifier && !key->isAutoRepeat()) {
      if (quit_) quit_();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void AppWindows::setupModel(std::shared_ptr<const AgentRegistry> registry) {
  if (!registry) return;
  model_ = std::make_unique<DashboardModel>(
      std::move(registry), DashboardModel::Stores{&EventStore::shared(), &LockOnlineStore::shared(), &settings_});
  mainWindow_ = std::make_unique<MainWindowController>(model_.get(), settings_);
  mainWindow_->setDashboardFactory([](DashboardModel& model) {
    auto* dashboard = new DashboardView(model);
    installDashboardSheets(*dashboard);
    installBackupSheets(*dashboard);
    return dashboard;
  });
}

void AppWindows::setWatcher(AgentLifecycleWatcher& watcher) {
  // A setup or launch the user asked for that did not happen is told over
  // the window in front.
  if (hasDisplay())
    connect(&watcher, &AgentLifecycleWatcher::userActionFailed, this, [this](const UserActionFailure& failure) {
      QWidget* front = QApplication::activeModalWidget();
      if (!front && mainWindow_ && mainWindow_->window() && mainWindow_->window()->isVisible())
        front = mainWindow_->window();
      presentActionFailure(settings_, failure, front);
    });
  if (!model_) return;
  // The rows drop an exited process at once; the exit's event rebuilds them.
  connect(&watcher, &AgentLifecycleWatcher::processExited, model_.get(), &DashboardModel::forgetProcess);
  watcherActions_ = std::make_unique<LifecycleWatcherActions>(watcher);
  model_->setWatcher(watcherActions_.get());
}

void AppWindows::updateModel(const QList<AgentEntry>& installed, const QList<RunningAgent>& running) {
  if (model_) model_->update(installed, running);
}

void AppWindows::setupStatusItem() {
  statusItem_ = std::make_unique<StatusItemController>(
      settings_,
      [this] {
        if (mainWindow_) mainWindow_->show();
      },
      [this] {
        if (quit_) quit_();
      });
  if (hasDisplay()) {
    inTray_ = statusItem_->install();
    if (!inTray_) {
      log("[App] ", QStringLiteral("没有系统托盘 → 直接显示主窗口"));
      if (mainWindow_) mainWindow_->show();
    }
  }
  // The icon of the other windows (sheets, alerts, the onboarding window),
  // drawn off the window thread once a window shown at start has painted.
  afterFirstPaint([this] { withBrandIcon(this, {128}, [](const QIcon& icon) { QApplication::setWindowIcon(icon); }); });
}

void AppWindows::afterFirstPaint(std::function<void()> then) {
  MainWindow* window = mainWindow_ ? mainWindow_->window() : nullptr;
  if (!window || !window->isVisible() || window->hasPainted()) {
    then();
    return;
  }
  auto once = std::make_shared<std::function<void()>>(std::move(then));
  const auto run = [once] {
    if (!*once) return;
    const std::function<void()> call = std::exchange(*once, nullptr);
    call();
  };
  connect(window, &MainWindow::firstPainted, this, run, Qt::SingleShotConnection);
  QTimer::singleShot(kFirstPaintWaitMs, this, run);
}

void AppWindows::bringForward() {
  if (mainWindow_ && hasDisplay()) mainWindow_->show();
}

void AppWindows::showStatusItemOnboardingIfFirstRun() {
  if (!hasDisplay()) return;
  Defaults& defaults = Defaults::shared();
  if (defaults.boolean(QLatin1String(kOnboardingShownKey)).value_or(false)) return;
  // Written at once: shown at most once per user, even if we quit within
  // the next two seconds. A failed write is logged, and the flag holds for
  // this run.
  static_cast<void>(defaults.set(QLatin1String(kOnboardingShownKey), true));
  QTimer::singleShot(kFirstRunPromptDelayMs, Qt::PreciseTimer, this, [this] { runOnboardingWhenFree(); });
}

void AppWindows::runOnboardingWhenFree() {
  // The start-at-login question comes first; the window waits for it.
  if (scanPause_.isPaused()) {
    connect(&scanPause_, &ScanPause::resumed, this, &AppWindows::runOnboardingWhenFree, Qt::SingleShotConnection);
    return;
  }
  OnboardingWindow window(makeBrandIcon(QSizeF(48, 48), 2.0),
                          inTray_ ? OnboardingWindow::Home::tray : OnboardingWindow::Home::mainWindow, scanPause_,
                          settings_);
  window.raise();
  window.activateWindow();
  window.run();
}

}  // namespace tlr
