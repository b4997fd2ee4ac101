#include "core/system/SelfGuard.h"

#include "core/stores/SettingsStore.h"
#include "core/system/DesktopOpen.h"
#include "core/texts/LocKey.h"
#include "platform/ChildProcess.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/LoginItem.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/ServiceManager.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tlr {
namespace {

constexpr const char* kTag = "[SelfGuard] ";


// ["a", "b"]
QString userTarget(const char* domain) {
  return QStringLiteral("%1/%2/%3").arg(QLatin1String(domain)).arg(::getuid()).arg(
      QLatin1String(SelfGuardInstaller::kLabel));
}

}  // namespace

// ---- SelfGuardInstaller ----------------------------------------------------

SelfGuardInstaller& SelfGuardInstaller::shared() {
  static SelfGuardInstaller instance(LoginItem::currentExecutable());
  return instance;
}

SelfGuardInstaller::SelfGuardInstaller(QString executablePath)
    : executablePath_(std::move(executablePath)) {}

bool SelfGuardInstaller::isProductionApp() const {
  return LoginItem::isProductionCopy(executablePath_);
}

QString SelfGuardInstaller::legacyPlistPath() const { return Paths::legacyLaunchAgentFile(); }

bool SelfGuardInstaller::install() {
  if (!isProductionApp()) {
    log(kTag, QStringLiteral("dev 模式跳过安装（exe=%1）")
                  .arg(executablePath_.isEmpty() ? QStringLiteral("nil") : executablePath_));
    return false;
  }
  migrateLegacyPlistIfNeeded();
  runLaunchctl({QStringLiteral("enable"), userTarget("user")});
  if (const Expected<void, QString> registered = LoginItem::registerApp(executablePath_); !registered) {
    log(kTag, QStringLiteral("SMAppService register FAIL: ") + registered.error());
    return false;
  }
  log(kTag, QStringLiteral("SMAppService registered, status=%1")
                .arg(static_cast<int>(LoginItem::status())));
  return true;
}

bool SelfGuardInstaller::uninstall() {
  if (const Expected<void, QString> unregistered = LoginItem::unregisterApp(); !unregistered) {
    log(kTag, QStringLiteral("SMAppService.mainApp unregister failed: ") + unregistered.error());
    return false;
  }
  log(kTag, QStringLiteral("SMAppService.mainApp unregistered"));
  return true;
}

void SelfGuardInstaller::migrateLegacyPlistIfNeeded() {
  const QString legacy = legacyPlistPath();
  if (!QFile::exists(legacy)) return;
  runLaunchctl({QStringLiteral("bootout"), userTarget("gui")});
  QFile::remove(legacy);
  runLaunchctl({QStringLiteral("enable"), userTarget("gui")});
  log(kTag, QStringLiteral("migrated: legacy plist removed (%1)").arg(legacy));
}

void SelfGuardInstaller::runLaunchctl(const QStringList& args) {
  // The exit status is not looked at: without a user manager the calls
  // fail, which only means the unit is not managed. Only a missing program
  // is worth a line.
  const QString verb = args.value(0);
  const QString label = args.value(1).section('/', -1);
  if (findExecutable(QStringLiteral("systemctl"), currentPath()).isEmpty()) {
    // Named as what would have run: the user manager's systemctl.
    log(kTag, QStringLiteral("systemctl --user %1 %2 failed: systemctl: %3")
                  .arg(verb == QLatin1String("bootout") ? QStringLiteral("stop") : verb, ServiceManager::unitName(label),
                       QString::fromLocal8Bit(std::strerror(ENOENT))));
    return;
  }
  if (verb == QLatin1String("enable"))
    static_cast<void>(ServiceManager::enable(label));
  else if (verb == QLatin1String("disable"))
    static_cast<void>(ServiceManager::disable(label));
  else
    static_cast<void>(ServiceManager::bootout(label));
}

// ---- SelfGuardStore --------------------------------------------------------

SelfGuardStore& SelfGuardStore::shared() {
  // Owned by the application object, so it goes before Qt shuts down.
  static SelfGuardStore* instance =
      new SelfGuardStore(SelfGuardInstaller::shared(), QCoreApplication::instance());
  return *instance;
}

SelfGuardStore::SelfGuardStore(SelfGuardInstaller& installer, QObject* parent)
    : QObject(parent), installer_(installer), worker_(QStringLiteral("TLR.SelfGuard")) {
  Defaults& defaults = Defaults::shared();
  asked_ = defaults.boolean(kAskedKey).value_or(false);
  enabled_ = defaults.boolean(kEnabledKey).value_or(false);
  if (enabled_ && LoginItem::status() != LoginItem::Status::enabled) {
    log(kTag, QStringLiteral("state mismatch: enabled=true but plist 不存在 → 校准成 false"));
    enabled_ = false;
    static_cast<void>(defaults.set(kEnabledKey, false));  // a failed write is logged; the check runs each start
  }
}

SelfGuardStore::~SelfGuardStore() = default;  // the worker finishes what it started

void SelfGuardStore::storeEnabled(bool value) {
  static_cast<void>(Defaults::shared().set(kEnabledKey, value));  // a failed write is logged; it holds for this run
  if (enabled_ == value) return;
  enabled_ = value;
  Q_EMIT enabledChanged();
}

void SelfGuardStore::setEnabled(bool wanted) { applyEnabled(wanted, {}); }

void SelfGuardStore::applyEnabled(bool wanted, std::function<void()> done) {
  // On the store's own worker rather than the pool: a switch on and off
  // again must reach the user manager in the order given.
  SelfGuardInstaller* installer = &installer_;
  worker_.post([installer, wanted, applied = whileAlive(this, [this, wanted, done = std::move(done)](bool ok) {
                  if (ok)
                    storeEnabled(wanted);
                  else
                    showSelfGuardEnableFailedAlert();
                  if (done) done();
                  Q_EMIT setEnabledFinished();
                })] {
    // Turning it off goes through whatever the unregistering did; its
    // failure is in the log.
    applied(wanted ? installer->install() : (static_cast<void>(installer->uninstall()), true));
  });
}

void SelfGuardStore::askAtStartupIfNeeded() {
  if (!installer_.isProductionApp()) {
    log(kTag, QStringLiteral("dev 模式，跳过首次询问"));
    return;
  }
  if (asked_ || !presenter_) return;
  // Never asked again, whatever the answer.
  asked_ = true;
  static_cast<void>(Defaults::shared().set(kAskedKey, true));  // a failed write is logged; it holds for this run
  Q_EMIT askedChanged();
  if (presenter_(startupQuestionText()) == AlertChoice::firstButton) {
    // Said once the installer has answered, whatever it answered.
    applyEnabled(true, [] { log(kTag, QStringLiteral("用户首次启动选择：开启")); });
  } else {
    log(kTag, QStringLiteral("用户首次启动选择：暂不开启"));
  }
}

void SelfGuardStore::showSelfGuardEnableFailedAlert() {
  if (!presenter_) return;
  if (presenter_(enableFailedAlertText()) != AlertChoice::firstButton) return;
  const QString folder = LoginItem::settingsFolder();
  DesktopOpen::folder(folder, this, [this, folder](const LocKey& reason) { Q_EMIT openFailed(folder, reason); });
}

SelfGuardStore::AlertText SelfGuardStore::enableFailedAlertText() {
  return {LocKey::selfGuardEnableFailedTitle(), LocKey::selfGuardEnableFailedBody(), LocKey::selfGuardOpenLoginItems(),
          LocKey::alertGotIt()};
}

SelfGuardStore::AlertText SelfGuardStore::startupQuestionText() {
  return {LocKey::selfGuardFirstAlertTitle(), LocKey::selfGuardFirstAlertBody(), LocKey::selfGuardFirstAlertConfirm(),
          LocKey::selfGuardFirstAlertCancel()};
}

}  // namespace tlr
