// Renders the real windows into PNG files, in the light and the dark scheme
// and in English and Chinese, so the pictures in the README and docs/ stay true to
// the code. Runs on Qt's offscreen platform under a temporary HOME: it never
// reads or writes the user's own settings.
//
//   tlr_screenshots <output folder>
#include "core/netlog/NetworkLogger.h"

#include "core/texts/LocTexts.h"
#include "core/stores/DoctorResultStore.h"
#include "core/stores/EventStore.h"
#include "core/stores/LockOnlineStore.h"
#include "core/stores/SettingsStore.h"
#include "core/system/SelfGuard.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "presentation/DashboardModel.h"
#include "presentation/ScanPause.h"
#include "registry/RegistryCodec.h"
#include "registry/RegistryLoader.h"
#include "service/VornelAppSDK.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/detail/AgentDetailSheet.h"
#include "ui/detail/DoctorOutputSheet.h"
#include "ui/kit/Alert.h"
#include "ui/kit/DetailsDisclosure.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"
#include "ui/sheets/AddAgentSheet.h"
#include "ui/sheets/InstallSheet.h"
#include "ui/sheets/UninstallSheet.h"
#include "ui/shell/LegalDocSheet.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/OnboardingWindow.h"
#include "ui/shell/SettingsSheet.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <variant>

using namespace tlr;

namespace {

// Lets queued paints and layouts settle before a picture is taken.
void settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

bool save(QWidget& widget, const QString& path) {
  settle();
  const QPixmap picture = widget.grab();
  const bool ok = picture.save(path, "PNG");
  std::fprintf(stdout, "%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), picture.width(),
               picture.height());
  return ok;
}

// Runs the event loop until `done` or 20 s have passed.
bool waitFor(const std::function<bool()>& done) {
  QDeadlineTimer deadline(20000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

AgentEntry entry(const QByteArray& json) { return RegistryCodec::decodeEntry(json).value(); }

// A file of `bytes` under the home folder.
void homeFile(const QString& relative, int bytes) {
  const QString path = QDir::homePath() + QLatin1Char('/') + relative;
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(QByteArray(bytes, 'x'));
}

// The status item image, drawn large enough to see.
bool saveStatusImage(const QString& path) {
  QImage small = makeShieldImage(8.0);
  small.setDevicePixelRatio(1.0);  // shown at its pixel size: 144 × 152
  QImage canvas(small.size() + QSize(32, 32), QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter(&canvas).drawImage(QPoint(16, 16), small);
  const bool ok = canvas.save(path, "PNG");
  std::fprintf(stdout, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tlr_screenshots <output folder>\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  // A home of our own before anything reads the environment.
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
    qunsetenv(name);
  qputenv("HOME", home.path().toLocal8Bit());
  QDir(home.path()).mkpath(QStringLiteral("run"));
  QFile::setPermissions(home.path() + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", (home.path() + QStringLiteral("/run")).toLocal8Bit());
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  QApplication::setApplicationVersion(QStringLiteral(TLR_VERSION));
  QDir().mkpath(out);

  auto loaded = RegistryLoader::load();
  if (std::holds_alternative<RegistryLoadError>(loaded)) {
    std::fprintf(stderr, "no registry: %s\n", qPrintable(std::get<RegistryLoadError>(loaded).description()));
    return 1;
  }
  const auto registry = std::get<std::shared_ptr<const AgentRegistry>>(std::move(loaded));
  // Every agent of the registry installed, the first two running, so the
  // rows show both lights.
  const QList<AgentEntry> installed = registry->visibleAgents();
  QList<RunningAgent> running;
  for (int i = 0; i < std::min<qsizetype>(2, installed.size()); ++i) {
    RunningAgent agent;
    agent.entry = installed[i];
    agent.pid = 4000 + i;
    running << agent;
  }

  SettingsStore& settings = SettingsStore::shared();
  Appearance appearance;
  appearance.setAppliesApplicationPalette(true);
  settings.setAppearanceHandler([&appearance](AppearancePreference preference) { appearance.setPreference(preference); });
  relayLanguageChanges(settings);
  SelfGuardInstaller installer(QStringLiteral("/nowhere/build/tollamere"));
  SelfGuardStore selfGuard(installer);
  NetworkLogger networkLog(Paths::appSupport() + QStringLiteral("/network-log.json"));
  VornelAppSDK sdk(networkLog);
  ScanPause scanPause;

  bool ok = true;
  ok &= saveStatusImage(out + QStringLiteral("/status-item.png"));
  for (const AppearancePreference scheme : {AppearancePreference::light, AppearancePreference::dark}) {
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::zh}) {
      settings.setAppearance(scheme);
      settings.setLanguage(language);
      const QString suffix = QLatin1Char('-') + rawValue(scheme) + QLatin1Char('-') + rawValue(language) +
                             QStringLiteral(".png");

      DashboardModel model(registry, {&EventStore::shared(), &LockOnlineStore::shared(), &settings});
      MainWindowController controller(&model, settings);
      controller.setDashboardFactory([](DashboardModel& m) { return new DashboardView(m); });
      controller.show();
      model.update(installed, running);
      ok &= save(*controller.window(), out + QStringLiteral("/main-window") + suffix);

      SettingsSheet sheet({&settings, &selfGuard, &sdk, false}, controller.window());
      sheet.show();
      ok &= save(sheet, out + QStringLiteral("/settings") + suffix);
      // Scrolled to its end: the About card.
      if (auto* scroll = sheet.findChild<QScrollArea*>(QStringLiteral("settingsScroll"))) {
        settle();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        ok &= save(sheet, out + QStringLiteral("/settings-about") + suffix);
      }
      sheet.hide();

      LegalDocSheet privacy(settings, LegalDocKind::privacy, controller.window());
      privacy.show();
      ok &= save(privacy, out + QStringLiteral("/privacy") + suffix);
      privacy.hide();

      OnboardingWindow onboarding(makeBrandIcon(QSizeF(48, 48), 2.0), OnboardingWindow::Home::tray, scanPause,
                                  settings);
      onboarding.show();
      ok &= save(onboarding, out + QStringLiteral("/onboarding") + suffix);
      onboarding.hide();
      OnboardingWindow noTray(makeBrandIcon(QSizeF(48, 48), 2.0), OnboardingWindow::Home::mainWindow,
                              scanPause, settings);
      noTray.show();
      ok &= save(noTray, out + QStringLiteral("/onboarding-no-tray") + suffix);
      noTray.hide();

      QSet<QString> someInstalled;
      for (const RunningAgent& agent : running) someInstalled << agent.entry.id;
      AddAgentSheet add(registry, someInstalled, {}, {}, settings, controller.window());
      add.show();
      ok &= save(add, out + QStringLiteral("/sheet-add-agent") + suffix);
      add.hide();

      // Requirements missing on this machine: a known one and an unknown one.
      InstallSheet missing(entry(R"({"id":"tlr-demo","displayName":"Tlr Demo","vendor":"v","kind":"cli",)"
                                 R"("identify":{"executableNames":["tlr-demo"]},"install":{"requires":[)"
                                 R"({"command":"pipx","hintUrl":"https://pipx.pypa.io/"},)"
                                 R"({"command":"tlr-helper","hintUrl":"https://example.org/tlr-helper"}],)"
                                 R"("commands":[["pipx","install","tlr-demo"]]}})"),
                           {}, {}, settings, controller.window());
      missing.show();
      waitFor([&] { return missing.findChild<QWidget*>(QStringLiteral("installBody:missing")) != nullptr; });
      ok &= save(missing, out + QStringLiteral("/sheet-install-missing") + suffix);
      missing.hide();

      // An install that fails: the row says how, npm's words are behind Details.
      InstallSheet failed(entry(R"({"id":"tlr-demo","displayName":"Tlr Demo","vendor":"v","kind":"cli",)"
                                R"("identify":{"executableNames":["tlr-demo"]},"install":{"commands":[["sh","-c",)"
                                R"("echo 'npm ERR! code E404' >&2; echo 'npm ERR! 404 Not Found - GET https://registry.npmjs.org/tlr-demo' >&2; )"
                                R"(echo 'npm ERR! A complete log of this run can be found in: ~/.npm/_logs/debug.log' >&2; exit 1"]]}})"),
                          {}, {}, settings, controller.window());
      failed.show();
      waitFor([&] { return failed.findChild<QWidget*>(QStringLiteral("installBody:done")) != nullptr; });
      for (DetailsDisclosure* details : failed.findChildren<DetailsDisclosure*>()) details->setExpanded(true);
      ok &= save(failed, out + QStringLiteral("/sheet-install-failed") + suffix);
      failed.hide();

      homeFile(QStringLiteral(".tlr-demo/bin/tlr-demo"), 4'000);
      homeFile(QStringLiteral(".tlr-demo-cache/blob"), 300'000);
      homeFile(QStringLiteral(".tlr-demo-data/memory.md"), 40'000);
      const AgentEntry uninstalled = entry(
          R"({"id":"tlr-demo","displayName":"Tlr Demo","vendor":"v","kind":"cli","identify":{},)"
          R"("uninstall":{"preCommands":[["sh","-c","echo 'npm ERR! could not remove tlr-demo: EACCES' >&2; exit 243"]],)"
          R"("paths":["~/.tlr-demo","~/.tlr-demo-cache","~/.tlr-demo-gone","/usr/local/lib/node_modules/tlr-demo"],)"
          R"("userDataPaths":["~/.tlr-demo-data"]}})");
      UninstallSheet preview(uninstalled, {}, {}, settings, controller.window());
      preview.show();
      waitFor([&] { return preview.session().isMeasured(); });
      preview.session().setChecked(UninstallSession::Group::userData, QStringLiteral("~/.tlr-demo-data"), true);
      preview.session().setChecked(UninstallSession::Group::standard, QStringLiteral("~/.tlr-demo-cache"), false);
      ok &= save(preview, out + QStringLiteral("/sheet-uninstall-preview") + suffix);
      preview.session().setChecked(UninstallSession::Group::userData, QStringLiteral("~/.tlr-demo-data"), false);
      preview.session().start();
      waitFor([&] { return preview.session().phase() == UninstallSession::Phase::done; });
      for (DetailsDisclosure* details : preview.findChildren<DetailsDisclosure*>()) details->setExpanded(true);
      ok &= save(preview, out + QStringLiteral("/sheet-uninstall-done") + suffix);
      preview.hide();

      // The detail sheet of a running agent, its doctor output and the restart question.
      AgentDetailCallbacks callbacks;
      callbacks.onRestart = [] {};
      callbacks.onSetup = [] {};
      callbacks.onDoctor = [](AgentActions::DoctorCompletion) {};
      callbacks.onLaunch = [](AgentActions::LaunchCompletion) {};
      callbacks.onStop = [](AgentActions::StopCompletion) {};
      const DashboardAgentItem first = model.dashboardItems().first();
      AgentDetailSheet::Stores detailStores;
      detailStores.lockOnline = &LockOnlineStore::shared();
      detailStores.events = &EventStore::shared();
      detailStores.doctorResults = &DoctorResultStore::shared();
      AgentDetailSheet detail(first, callbacks, detailStores, settings, controller.window());
      detail.show();
      ok &= save(detail, out + QStringLiteral("/detail-sheet") + suffix);

      // Its history with one event of each kind (a relaunch, a failed one,
      // the user's launch and stop among them), English in the light scheme
      // and Chinese in the dark one: the top of the list, its middle and its end.
      if ((scheme == AppearancePreference::light) == (language == AppLanguage::en)) {
        const QString id = first.entry.id;
        const auto stored = [](const LocKey& key) { return LocTexts::text(AppLanguage::en, key); };
        const QList<std::pair<AgentEventType, std::optional<QString>>> history{
            {AgentEventType::started, std::nullopt},
            {AgentEventType::exitedAbnormal, std::nullopt},
            {AgentEventType::recovered, QStringLiteral("pid 4242")},
            {AgentEventType::exitedAbnormal, stored(LocKey::evDetailRelaunchDidNotLast(3))},
            {AgentEventType::throttled, stored(LocKey::evDetailNoRecoveryStrategy())},
            {AgentEventType::recovered, stored(LocKey::evDetailUserLaunch())},
            {AgentEventType::hangDetected, std::nullopt},
            {AgentEventType::runawayDetected, stored(LocKey::resourceRunawayDetails(QStringLiteral("CPU"), 97))},
            {AgentEventType::killedByOOM, std::nullopt},
            {AgentEventType::oomRecovered, std::nullopt},
            {AgentEventType::lockOnlineEnabled, std::nullopt},
            {AgentEventType::lockOnlineDisabled, std::nullopt},
            {AgentEventType::restarted, stored(LocKey::evDetailUserRestart(4343))},
            {AgentEventType::exitedNormal, std::nullopt},
            {AgentEventType::restarted, stored(LocKey::evDetailUserStop())},
        };
        // A log of its own, in a file of its own under the temporary home.
        Defaults historyFile(home.path() + QStringLiteral("/history-") + rawValue(language) + QStringLiteral(".json"));
        EventStore events(historyFile);
        double at = AgentEvent::now() - 3 * 3600;
        for (const auto& [type, details] : history) {
          AgentEvent event = AgentEvent::make(id, type, details);
          event.timestamp = at += 11 * 60;
          events.append(event);
        }
        AgentDetailSession::Stores stores = AgentDetailSession::Stores::shared();
        stores.events = &events;
        AgentDetailSheet withHistory(first, callbacks, stores, settings, controller.window());
        withHistory.show();
        settle();
        // The sheet's body scrolled to its end, where the history is.
        for (QScrollArea* area : withHistory.findChildren<QScrollArea*>())
          if (area->objectName() != QStringLiteral("eventsArea"))
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        ok &= save(withHistory, out + QStringLiteral("/detail-history-1") + suffix);
        if (auto* list = withHistory.findChild<QScrollArea*>(QStringLiteral("eventsArea"))) {
          for (const int part : {2, 3}) {
            list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() * (part - 1) / 2);
            ok &= save(withHistory, out + QStringLiteral("/detail-history-%1").arg(part) + suffix);
          }
        }
        withHistory.hide();
      }

      AgentDoctor::Result result;
      result.entryDisplayName = first.entry.localizedDisplayName();
      result.command = {QStringLiteral("openclaw"), QStringLiteral("doctor")};
      result.exitCode = 1;
      result.elapsedSeconds = 2.4;
      result.stdOut = QStringLiteral("Checking gateway…\nERROR: gateway token expired\nWARN: port 18789 busy\n");
      AgentDoctor::KnownIssue token;
      token.id = QStringLiteral("token-expired");
      token.title = language == AppLanguage::en ? QStringLiteral("Gateway token expired")
                                                : QStringLiteral("网关令牌已过期");
      token.fix.title = language == AppLanguage::en ? QStringLiteral("Refresh token") : QStringLiteral("刷新令牌");
      AgentDoctor::KnownIssue port = token;
      port.id = QStringLiteral("port-busy");
      port.title = language == AppLanguage::en ? QStringLiteral("Port 18789 is busy") : QStringLiteral("端口 18789 被占用");
      port.fix.title = language == AppLanguage::en ? QStringLiteral("Free the port") : QStringLiteral("释放端口");
      result.detectedIssues = {{token, QStringLiteral("ERROR: gateway token expired")},
                               {port, QStringLiteral("WARN: port 18789 busy")}};
      DoctorOutputSheet doctor(result, {}, [](const AgentDoctor::KnownIssue&, DoctorOutputModel::FixCompletion) {},
                               {}, settings, &detail);
      doctor.show();
      ok &= save(doctor, out + QStringLiteral("/doctor-output") + suffix);
      doctor.hide();

      Alert restart(language == AppLanguage::en ? QStringLiteral("Restart OpenClaw?") : QStringLiteral("重启 OpenClaw？"),
                    SettingsStore::shared().text(LocKey::restartConfirmGateway(QStringLiteral("openclaw gateway restart"))),
                    &detail, {QStringLiteral("openclaw gateway restart")});
      restart.setAttribute(Qt::WA_DeleteOnClose, false);
      restart.addButton(SettingsStore::shared().text(LocKey::restartConfirmCancel()), Alert::Role::cancel);
      restart.addButton(SettingsStore::shared().text(LocKey::restartConfirmConfirm()), Alert::Role::destructive);
      restart.present();
      ok &= save(restart, out + QStringLiteral("/restart-alert") + suffix);
      restart.hide();
      detail.hide();

      controller.window()->hide();
    }
  }
  settings.setAppearance(AppearancePreference::system);
  settings.setAppearanceHandler({});
  return ok ? 0 : 1;
}
