#include "app/App.h"

#include "core/texts/LocTexts.h"

#include "app/Windows.h"

#include "backup/BackupStaging.h"
#include "backup/BackupVolume.h"
#include "backup/OperationStop.h"
#include "backup/RestoreEngine.h"
#include "backup/VolumeLock.h"
#include "core/agents/AgentDataDiscovery.h"
#include "core/netlog/NetworkLogger.h"
#include "core/stores/EventStore.h"
#include "platform/Defaults.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "core/system/SelfGuard.h"
#include "core/texts/Lang.h"
#include "platform/ChildProcess.h"
#include "platform/ChildReaper.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/Notifier.h"
#include "platform/BackgroundThreads.h"
#include "platform/OffMain.h"
#include "platform/MemoryArenas.h"
#include "platform/OpenFileLimit.h"
#include "platform/Paths.h"
#include "platform/QuitDeadline.h"
#include "platform/SessionBus.h"
#include "platform/XDisplay.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "registry/RegistryLoader.h"
#include "service/VornelAppSDK.h"
#include "ui/kit/ShieldArt.h"
#include "ui/shell/UpdateAnnouncement.h"
#include "verify/ScratchVolume.h"
#include "verify/VerificationRoutines.h"
#include "watcher/AgentLifecycleWatcher.h"
#include "watcher/AgentRecover.h"
#include "watcher/HangWatcher.h"
#include "watcher/ProcessScanner.h"
#include "watcher/ScanLoop.h"
#include "watcher/ResourceMonitor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcessEnvironment>

#include <algorithm>
#include <atomic>
#include <optional>
#include <cstdlib>
#include <vector>

#include <unistd.h>

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
    if (!hasDisplay() && !platformChosen())
      runHeadless();
    else
      point();
  }
  // The start goes on without the display it was given (it cannot be
  // reached, or does not answer): headless, as without one.
  void runHeadless() {
    storage_.emplace_back("-platform");
    storage_.emplace_back("offscreen");
    point();
  }
  int& argc() { return argc_; }
  char** argv() { return pointers_.data(); }
  // The platform the toolkit is told to use; empty when it picks its own.
  QString chosenPlatform() const {
    for (std::size_t i = 0; i + 1 < storage_.size(); ++i)
      if (storage_[i] == "-platform") return QString::fromLocal8Bit(storage_[i + 1]);
    return QString::fromLocal8Bit(qgetenv("QT_QPA_PLATFORM"));
  }

 private:
  static bool hasDisplay() { return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty(); }
  bool platformChosen() const {
    return !qgetenv("QT_QPA_PLATFORM").isEmpty() ||
           std::any_of(storage_.cbegin(), storage_.cend(), [](const QByteArray& a) { return a == "-platform"; });
  }

  // The argument vector the toolkit is handed, over `storage_`.
  void point() {
    pointers_.clear();
    for (QByteArray& arg : storage_) pointers_.push_back(arg.data());
    pointers_.push_back(nullptr);
    argc_ = static_cast<int>(storage_.size());
  }

  std::vector<QByteArray> storage_;
  std::vector<char*> pointers_;
  int argc_ = 0;
};

using QuitClock = std::chrono::steady_clock;
// From the quit request: how long work still running off the main thread
// (its children already stopped) may take to end, and when the process ends
// whatever still holds it (a stuck thread, a toolkit teardown that waits).
constexpr auto kQuitWorkGrace = std::chrono::milliseconds(1300);
constexpr auto kQuitDeadline = std::chrono::milliseconds(1800);

// Ends the process at `deadline` unless it has ended by then. The lock and
// everything else of ours go with it; stores are written as they change.
void armQuitDeadline(QuitClock::time_point deadline) {
  QuitDeadline::arm(deadline, [] {
    static const char line[] = "[App] 退出超时 → 立即结束进程\n";
    (void)!::write(STDOUT_FILENO, line, sizeof line - 1);
    ::_exit(0);
  });
}
// Set once `main` has its own way to the end, which ends our threads itself.
std::atomic<bool> mainEnds{false};

// The toolkit may end the process from inside its event loop: when the
// connection to the display breaks (a logout, the X server gone) it calls
// exit(1). Static objects then go while the pool's threads still work with
// them (a pool thread drawing an icon was seen to crash in the font code so).
// Registered once the toolkit's objects exist, so that it runs before they
// go: ends our threads first, and ends the process at once when they do not
// end in time.
void endThreadsBeforeStatics() {
  if (mainEnds.load()) return;
  if (!BackgroundThreads::endAll(QuitClock::now() + kQuitWorkGrace)) ::_exit(1);
}

// The toolkit says this just before it ends the process with exit(1), when
// the connection to the display has broken: our threads end first, while
// every object they use still exists. (The exit handler above comes too
// late for objects made after it was registered.)
QtMessageHandler toolkitHandler = nullptr;
void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (toolkitHandler) toolkitHandler(type, context, message);
  if (type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke"))) endThreadsBeforeStatics();
}

const QString kVornelAppId = QStringLiteral("R8WQ2M5KXD.com.tollamere.app");

QStringList sortedIds(const QList<RunningAgent>& agents) {
  QStringList ids;
  for (const RunningAgent& agent : agents) ids << agent.entry.id;
  ids.sort();
  return ids;
}

void writeReport(const VerificationResult& result) { errWrite((result.report + '\n').toUtf8()); }

// A mode's report once a signal ended it: a failed step names the signal,
// and the verdict is FAIL whatever the steps before said.
VerificationResult interruptedResult(const VerificationResult& result, const QString& mode, int signal) {
  const QString line = QStringLiteral("✗ interrupted: ") + signalName(signal);
  QStringList lines = result.report.split('\n');
  if (!lines.isEmpty() && (lines.last() == QLatin1String("PASS") || lines.last() == QLatin1String("FAIL"))) {
    lines.last() = line;
  } else if (lines.isEmpty() || lines.first() != mode) {
    lines = {mode, line};
  } else {
    lines << line;
  }
  lines << QStringLiteral("FAIL");
  return {false, lines.join('\n')};
}

// How long a mode ended by a signal has to wind down the way a failure does
// before what it attached and staged is cleared here all the same.
constexpr auto kStopDeadline = std::chrono::seconds(10);

// Runs one verification mode while the main thread turns its event loop,
// then ends with 0 (success) or 1. No window, lock or scan loop exists.
// SIGTERM, SIGINT and SIGHUP stop the mode's work: its running tools are
// ended at once (a mount under way too, with what it mounted), the engines
// stop between steps and wind down as after any failure (the tools that
// wind down, a detach, still run), what the mode attached is detached and
// what it staged removed, its report keeps the steps it did, and it exits
// with 1. Work that does not wind down within the deadline is cut off.
int runVerificationMode(const SelectedMode& selected, int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const VerificationRoutine routine = verificationRoutine(selected);
  const QString modeName = environmentVariable(selected.mode);
  std::optional<VerificationResult> outcome;
  std::optional<int> interrupted;
  const auto finish = [&] {
    writeReport(interrupted ? interruptedResult(*outcome, modeName, *interrupted) : *outcome);
    QCoreApplication::exit(outcome->success && !interrupted ? 0 : 1);
  };
  // Winds a stopped mode down: the tools its work ran could not detach once
  // stopped, so what this process attached is detached here.
  const auto windDown = [&](bool workEnded) {
    // Still stuck: nothing of it starts again, and what it runs is stopped.
    if (!workEnded) OffMainPool::shared().cancel();
    if (BackupVolume::mountedByThisProcess()) BackupVolume::unmount(DiskImage::WhenBusy::detachLazily);
    ScratchVolume::removeAll();
    if (workEnded) {
      finish();
      return;
    }
    // Still stuck: its staging goes too, and the process ends without it.
    if (VolumeActivity::shared().busy()) BackupStaging::removeLeftovers(Paths::home());
    writeReport(interruptedResult({false, QString()}, modeName, *interrupted));
    std::_Exit(1);
  };
  TerminationSignals signals;
  QTimer stopping;
  stopping.setInterval(50);
  QuitClock::time_point signalledAt;
  QObject::connect(&stopping, &QTimer::timeout, &application, [&] {
    const QuitClock::time_point now = QuitClock::now();
    if (!outcome && now < signalledAt + kStopDeadline) return;
    stopping.stop();
    // Whether the work wound down by itself, and how long it took, or was
    // cut off: the one sign of a stop that waited for something it need not.
    if (outcome) {
      const double seconds = std::chrono::duration<double>(now - signalledAt).count();
      log("[App] ", QStringLiteral("验证模式已停下：收到信号后 %1 秒").arg(seconds, 0, 'f', 1));
    } else {
      log("[App] ", QStringLiteral("验证模式 %1 秒内未停下 → 强行清理并结束")
                        .arg(std::chrono::duration_cast<std::chrono::seconds>(kStopDeadline).count()));
    }
    windDown(outcome.has_value());
  });
  QObject::connect(&signals, &TerminationSignals::received, &application, [&](int signal) {
    if (interrupted) return;
    interrupted = signal;
    signalledAt = QuitClock::now();
    log("[App] ", QStringLiteral("收到 %1，停止验证模式").arg(signalName(signal)));
    OperationStop::request();
    stopRunningChildren();
    stopping.start();
  });
  QTimer::singleShot(0, &application, [&] {
    if (routine.onMainThread) {
      outcome = routine.run();
      finish();
      return;
    }
    // Not the usual startOffMain: the result must come back even when a
    // signal cancelled the pool meanwhile, since the mode's report (marked
    // interrupted) is still written from it. Everything it refers to lives
    // until the event loop ends.
    OffMainPool::shared().start([&routine, &outcome, &interrupted, &finish] {
      VerificationResult result = routine.run();
      runOnMain([&, result] {
        outcome = result;
        if (!interrupted) finish();
      });
    });
  });
  const int status = QCoreApplication::exec();
  // The routine has handed over its result; its thread is on its way out,
  // and every other thread of ours ends too before the objects of the
  // process go.
  OffMainPool::shared().waitForIdle(QuitClock::now() + std::chrono::seconds(5));
  BackgroundThreads::endAll(QuitClock::now() + std::chrono::seconds(5));
  return status;
}

}  // namespace

int App::main(int argc, char** argv) {
  MemoryArenas::limitForFewThreads();
  makeStdioUnbuffered();
  quietToolkitNotices();
  toolkitHandler = qInstallMessageHandler(&onToolkitMessage);
  // Nothing we start leaves our tree: a process whose parent ends (a double
  // fork, a command that killed its keeper) becomes our child, is reaped,
  // and is ended with its command.
  if (!ChildReaper::adoptOrphans())
    log("[App] ", QStringLiteral("无法成为所启动进程的收养者（PR_SET_CHILD_SUBREAPER）：失去父进程的子进程将交给 init"));
  // Every watched process holds a descriptor; programs we start get the old
  // limit back.
  OpenFileLimit::raiseToHardLimit();
  // A reader of our output that went away must not end supervision.
  TerminationSignals::ignoreBrokenPipe();
  if (const auto selected = selectVerificationMode(QProcessEnvironment::systemEnvironment()))
    return runVerificationMode(*selected, argc, argv);

  ApplicationArguments arguments(argc, argv);
  // The X server is asked, within a bound, before the toolkit would wait
  // for its answer without one. A display that cannot be reached (its
  // server gone, a DISPLAY left from an ended session) would end the start
  // in the toolkit with an abort, and a hung server would hold it for good:
  // either way supervision goes on headless, said.
  if (XDisplay::usedByToolkit(arguments.chosenPlatform())) {
    const QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    const auto seconds = [](std::chrono::milliseconds t) { return std::chrono::duration<double>(t).count(); };
    const XDisplay::Finding found = XDisplay::probe(display, XDisplay::kPatience, XDisplay::kDeadline, [&] {
      log("[App] ", QStringLiteral("X 显示 %1 %2 秒未应答，最多再等 %3 秒")
                        .arg(display)
                        .arg(seconds(XDisplay::kPatience))
                        .arg(seconds(XDisplay::kDeadline - XDisplay::kPatience)));
    });
    QString line;
    if (found.state == XDisplay::State::unanswered)
      line = QStringLiteral("[App] X 显示 %1 %2 秒未应答 → 无窗口运行，只做监管").arg(display).arg(seconds(XDisplay::kDeadline));
    else if (found.state == XDisplay::State::unreachable)
      line = QStringLiteral("[App] 无法连接 X 显示 %1（%2）→ 无窗口运行，只做监管").arg(display, found.reason);
    if (!line.isEmpty()) {
      logLine(line);
      errLine(line);
      arguments.runHeadless();
    }
  }
  // The session's bus is asked, within a bound, before the toolkit would
  // wait for it without one (or start a bus of its own).
  SessionBus sessionBus;
  std::optional<Paths::RuntimeFolderForToolkit> runtimeFolder(std::in_place);
  QApplication application(arguments.argc(), arguments.argv());
  runtimeFolder.reset();
  sessionBus.connectToolkit();
  // Meanwhile the lock, the registry and the model are set up here.
  prepareFontsOffMain();
  std::atexit(endThreadsBeforeStatics);
  QCoreApplication::setApplicationVersion(QStringLiteral(TLR_VERSION));
  int status = 0;
  {
    App app;
    app.sessionBusLine_ = sessionBus.unusedLine();
    // The Dock setting ("TLR.showInDock") is applied here once the windows
    // exist; start-up applies the settings store's reading again later.
    QTimer::singleShot(0, &app, &App::applicationDidFinishLaunching);
    status = QApplication::exec();
    mainEnds = true;
    // Work that does not end after its children were stopped must not hold
    // the process: it ends here, without the teardown. Every thread of ours
    // ends before the objects of the process go: the pool's first, their
    // thread-local data (the font caches of those that drew) with them,
    // which must not go while the application object goes; then the
    // settings' writer, the network log's and the reaper, which would
    // otherwise still run while the static objects they use are destroyed.
    if (!BackgroundThreads::endAll(app.quitStartedAt_.value_or(QuitClock::now()) + kQuitWorkGrace)) {
      log("[App] ", QStringLiteral("%1 个后台任务未结束 → 直接退出").arg(OffMainPool::shared().busyCount()));
      ::_exit(status);
    }
  }
  // The watchers' threads ended with the objects that own them.
  if (const QStringList left = BackgroundThreads::stillRunning(std::chrono::milliseconds(200)); !left.isEmpty())
    log("[App] ", QStringLiteral("退出时仍有线程在跑：") + left.join(QStringLiteral(", ")));
  // A sanitized build checks for leaks here, where the quit's deadline waits
  // for the check instead of ending the process in the middle of it.
  QuitDeadline::checkLeaks();
  return status;
}

App::App() : terminationSignals_(std::make_unique<TerminationSignals>()) {
  scanTimer_.setInterval(kScanIntervalMs);
  scanTimer_.setTimerType(Qt::CoarseTimer);
  connect(&scanTimer_, &QTimer::timeout, this, &App::refreshRunningAgents);
  // No scan while a modal prompt holds the user's attention.
  connect(&scanPause_, &ScanPause::paused, this, [this] { scanTimer_.stop(); });
  connect(&scanPause_, &ScanPause::resumed, this, [this] { scanTimer_.start(); });
  connect(terminationSignals_.get(), &TerminationSignals::received, this, &App::quitOnSignal);
  connect(qApp, &QCoreApplication::aboutToQuit, this, &App::prepareToQuit);
}

void App::quitOnSignal(int signal) {
  log("[App] ", QStringLiteral("收到 %1，退出").arg(signalName(signal)));
  quit();
}

void App::quit() {
  // Not quit(): that first asks every window to close, and an open sheet
  // refuses. Also ends a modal loop that runs.
  QCoreApplication::exit(0);
}

void App::prepareToQuit() {
  quitStartedAt_ = QuitClock::now();
  armQuitDeadline(*quitStartedAt_ + kQuitDeadline);
  scanTimer_.stop();
  // The update check of the start may still be under way: aborted and freed.
  if (remoteServicesStarted_) VornelAppSDK::shared().stop();
  // Running commands are stopped, their results dropped, and no new one
  // starts; the volume this process attached is detached by its own hook
  // (connected later, so it runs after this).
  OffMainPool::shared().cancel();
  NetworkLogger::shared().flush();
  // The settings and the event log: what is still on its way to the file.
  static_cast<void>(Defaults::shared().flush());
  // Removes the bring-forward socket.
  instanceChannel_.reset();
}

App::~App() = default;

void App::applicationDidFinishLaunching() {
  if (isAnotherInstanceRunning()) {
    if (unreachedInstance_) {
      // Starting again is how the user reaches a running copy: when that
      // fails, the desktop says so, since this copy shows no window.
      log("[App] ", QStringLiteral("已有实例在跑，但无法请它前置（%1）→ 退出本实例").arg(*unreachedInstance_));
      showDesktopNotification(QStringLiteral("Tollamere"),
                              LocTexts::text(Lang::current(), LocKey::statusRunningUnreached()));
      QCoreApplication::exit(1);
      return;
    }
    log("[App] ", QStringLiteral("已有实例在跑，前置已有窗口并退出本实例"));
    QCoreApplication::exit(0);
    return;
  }
  if (const OpenFileLimit::Change files = OpenFileLimit::raiseToHardLimit(); files.after != files.before)
    log("[App] ", QStringLiteral("打开文件数上限 %1 → %2").arg(files.before).arg(files.after));
  loadRegistry();
  setupModel();
  setupWatcher();
  setupStatusItem();
  startWatchers();
  startScanLoop();
  askSelfGuardIfNeeded();
  // Setting up the network costs some tens of milliseconds: a window shown
  // at start paints first.
  windows_->afterFirstPaint([this] { setupRemoteServices(); });
  applyActivationPolicy();
  showStatusItemOnboardingIfFirstRun();
  // Neither is needed for the first paint: they wait for it (and run at once
  // without a window).
  windows_->afterFirstPaint([this] {
    // Again now that the windows have drawn: the toolkit's objects made
    // since (the font engines') go after it too.
    std::atexit(endThreadsBeforeStatics);
    runDiscoverySelfCheck();
    tidyBackupLeftovers();
  });
  // Windows may exist from here on: the main thread no longer waits for
  // systemctl, whose answers are refreshed on threads of their own.
  ProcessScanner::setMainThreadMayWait(false);
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
      if (sessionBusLine_) log("[App] ", *sessionBusLine_);
      instanceChannel_ = std::make_unique<InstanceChannel>();
      connect(instanceChannel_.get(), &InstanceChannel::messageReceived, this, [this](const QByteArray& message) {
        if (message == InstanceChannel::kBringForward) bringToFront();
      });
      if (const Expected<void, QString> listening = instanceChannel_->listen(folder); !listening)
        log("[App] ", QStringLiteral("前置通道不可用（%1）：再次启动 Tollamere 将无法把本实例带到前面")
                          .arg(listening.error()));
      return false;
    case SingleInstanceLock::Outcome::heldByAnother: {
      log("[App] ", QStringLiteral("单实例锁被持有 → 已有 TLR 在跑"));
      const InstanceChannel::Sent sent = InstanceChannel::notifyRunningInstance(folder, InstanceChannel::kBringForward);
      if (sent.outcome != InstanceChannel::Delivery::delivered) unreachedInstance_ = sent.reason;
      return true;
    }
  }
  return false;
}

void App::bringToFront() {
  log("[App] ", QStringLiteral("另一实例请求前置 → 显示主窗口"));
  if (windows_) windows_->bringForward();
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
  windows_ = std::make_unique<AppWindows>(SettingsStore::shared(), scanPause_, [this] {
    log("[App] ", QStringLiteral("用户选择退出"));
    quit();
  });
  if (!registry_) return;
  windows_->setupModel(registry_);
  scanner_ = std::make_shared<const ProcessScanner>(registry_);
  scanLoop_ = std::make_unique<ScanLoop>(scanner_, [this](const ScanLoop::Round& round) { takeScan(round); });
}

void App::setupWatcher() {
  if (!registry_) return;
  RestoreEngine::shared().setRegistry(registry_);
  LockOnlineStore::shared().initializeDefaults(registry_->visibleAgents());
  watcher_ = std::make_unique<AgentLifecycleWatcher>(registry_, std::make_shared<const AgentRecover>());
  watcher_->setScanner(scanner_);
  windows_->setWatcher(*watcher_);
  hangWatcher_ = std::make_unique<HangWatcher>(EventStore::shared());
  hangWatcher_->updateRegistry(*registry_);
  resourceMonitor_ = std::make_unique<ResourceMonitor>(EventStore::shared());
  resourceMonitor_->start();
}

void App::startWatchers() {
  // Their threads (the exit watch, the reports folder's watch) and the
  // reports folder's listing wait for a window shown at start to paint; the
  // first scan, whose processes the exit watch follows, comes after them.
  windows_->afterFirstPaint([this] {
    if (watcher_) watcher_->start();
    if (hangWatcher_) hangWatcher_->start();
  });
}

void App::setupStatusItem() {
  windows_->setupStatusItem();
}

void App::startScanLoop() {
  // A window shown at start paints before the first scan (a walk of /proc
  // and of the program folders); without one the scan runs at once.
  // npm and pipx are asked only then too: their start competes with the
  // paint. The first scan looked only in the folders known without them;
  // once they answer, agents installed through them show at once.
  windows_->afterFirstPaint([this] {
    refreshRunningAgents();
    if (scanner_) ProcessScanner::whenToolFoldersKnown(this, [this] { refreshRunningAgents(); });
  });
  scanTimer_.start();
}

void App::refreshRunningAgents() {
  // The scan reads the process table and the program folders: off the
  // window thread, which takes the result when it is in.
  if (scanLoop_) scanLoop_->refresh();
}

void App::takeScan(const ScanLoop::Round& round) {
  const QList<AgentEntry>& installed = round.installed;
  const QList<RunningAgent>& all = round.all;
  const QList<RunningAgent> running = ProcessScanner::firstOfEachAgent(all);

  // Every process: when one of an agent's processes ends, the others still
  // show it running until the next scan.
  if (windows_) windows_->updateModel(installed, all);
  // Said when what runs changes, and again when, while agents run, the
  // number installed does: a round that began before npm named its folder
  // counts an agent there as running but not installed, the next one as
  // both.
  const std::pair<QStringList, qsizetype> before = lastSummary_;
  lastSummary_ = {sortedIds(running), installed.size()};
  if (before.first != lastSummary_.first || (!running.isEmpty() && before.second != lastSummary_.second)) {
    QStringList names;
    for (const RunningAgent& agent : running) names << agent.entry.displayName;
    log("[Scanner] ", QStringLiteral("%1 Agent 在跑 / %2 已装 / %3 pid 全部: %4")
                          .arg(running.size())
                          .arg(installed.size())
                          .arg(all.size())
                          .arg(names.join(QStringLiteral(", "))));
  }
  if (registry_ && resourceMonitor_) resourceMonitor_->setAgents(running, *registry_);
  if (watcher_) {
    // Command-line processes embedded in a desktop agent are left to it.
    QList<RunningAgent> current;
    for (const RunningAgent& agent : all) {
      if (!agent.parentAgentId) current << agent;
    }
    watcher_->tick(current);
  }
}

void App::askSelfGuardIfNeeded() {
  SelfGuardStore& store = SelfGuardStore::shared();
  // A development copy logs that it skips the question, at once.
  if (!SelfGuardInstaller::shared().isProductionApp()) {
    store.askAtStartupIfNeeded();
    return;
  }
  if (store.asked()) return;
  // The question is shown through the store's alert presenter, which the
  // user interface provides.
  QTimer::singleShot(AppWindows::kFirstRunPromptDelayMs, Qt::PreciseTimer, this,
                     [] { SelfGuardStore::shared().askAtStartupIfNeeded(); });
}

void App::setupRemoteServices() {
  const QString version = QCoreApplication::applicationVersion();
  VornelAppSDK& client = VornelAppSDK::shared();
  // Each time the application becomes active the client checks again (at
  // most once a minute, which the client itself enforces).
  connect(qGuiApp, &QGuiApplication::applicationStateChanged, &client, [&client](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) client.appDidBecomeActive();
  });
  client.start(kVornelAppId, version.isEmpty() ? QStringLiteral("0.0.0") : version,
               QUrl(QString::fromLatin1(VornelAppSDK::kDefaultEndpoint)), QStringLiteral("official"));
  client.setOnUpdateAvailable(&announceUpdate);
  remoteServicesStarted_ = true;
}

void App::applyActivationPolicy() { SettingsStore::shared().applyActivationPolicy(); }

void App::showStatusItemOnboardingIfFirstRun() {
  windows_->showStatusItemOnboardingIfFirstRun();
}

void App::tidyBackupLeftovers() {
  // What a killed backup or restore left: plain copies of agent data in the
  // home folder, and the decrypted volume still attached. Only while no
  // backup, restore, export or import (of a verification mode, say) uses
  // the volume; off the window's thread, since a detach runs a tool.
  startOffMain(this, [home = Paths::home()] {
    // Without an image nothing can be using them, and no lock file is made
    // beside a place where no image lies.
    if (!BackupVolume::exists()) {
      BackupStaging::removeLeftovers(home);
    } else if (const std::optional<VolumeLock> lock = VolumeLock::tryAcquire(BackupVolume::lockPath())) {
      BackupStaging::removeLeftovers(home);
    }
    BackupVolume::detachOrphan();
  });
}

void App::runDiscoverySelfCheck() {
  if (!registry_) return;
  const QString homePath = QDir::homePath();
  const QString homeString = Paths::home();
  const QByteArray homeVariable = qgetenv("HOME");
  QStringList lines{
      QStringLiteral("===== DISCOVERY SELF-CHECK ====="),
      QStringLiteral("FileManager.home = ") + homePath,
      QStringLiteral("NSHomeDirectory = ") + homeString,
      QStringLiteral("env HOME = ") +
          (qEnvironmentVariableIsSet("HOME") ? QString::fromLocal8Bit(homeVariable) : QStringLiteral("(unset)")),
  };
  for (const QString& path : {QStringLiteral("/Users/ulvenor/.claude"), QStringLiteral("/Users/ulvenor/.codex"),
                              homeString + QStringLiteral("/.claude"), homePath + QStringLiteral("/.claude")}) {
    lines << QStringLiteral("  fileExists(%1) = %2")
                 .arg(path, QFileInfo::exists(path) ? QStringLiteral("true") : QStringLiteral("false"));
  }
  // The discovery walks project folders: it runs off the main thread, and
  // the whole check is written at once when it is done.
  startOffMain(this, [registry = registry_, lines]() mutable {
    for (const AgentEntry& entry : registry->visibleAgents()) {
      const QList<DiscoveredPath> found = AgentDataDiscovery::discover(entry);
      lines << QStringLiteral("  ") + entry.id + QStringLiteral(": found=") + QString::number(found.size());
      for (qsizetype i = 0; i < std::min<qsizetype>(2, found.size()); ++i)
        lines << QStringLiteral("    + ") + found[i].path();
    }
    lines << QStringLiteral("===== END SELF-CHECK =====");
    for (QString& line : lines) line = oneLine(line);
    errWrite((lines.join('\n') + '\n').toUtf8());
  });
}

}  // namespace tlr
