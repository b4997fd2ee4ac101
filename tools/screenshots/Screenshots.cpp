// Renders the real windows into PNG files, in the light and the dark scheme
// and in English and Chinese, so the pictures in the README stay true to
// the code. Runs on Qt's offscreen platform under a temporary HOME: it never
// reads or writes the user's own settings.
//
//   tlr_screenshots <output folder>
#include "core/NetworkLogger.h"
#include "core/SelfGuard.h"
#include "core/SettingsStore.h"
#include "platform/Paths.h"
#include "registry/RegistryLoader.h"
#include "service/VornelAppSDK.h"
#include "ui/dashboard/DashboardModel.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"
#include "ui/shell/LegalDocSheet.h"
#include "ui/shell/MainWindow.h"
#include "ui/shell/OnboardingWindow.h"
#include "ui/shell/SettingsSheet.h"

#include <QApplication>
#include <QDir>
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
  Appearance::shared();
  SelfGuardInstaller installer(QStringLiteral("/nowhere/build/tollamere"));
  SelfGuardStore selfGuard(installer);
  NetworkLogger networkLog(Paths::appSupport() + QStringLiteral("/network-log.json"));
  VornelAppSDK sdk(networkLog);

  bool ok = true;
  ok &= saveStatusImage(out + QStringLiteral("/status-item.png"));
  for (const AppearancePreference scheme : {AppearancePreference::light, AppearancePreference::dark}) {
    for (const AppLanguage language : {AppLanguage::en, AppLanguage::zh}) {
      settings.setAppearance(scheme);
      settings.setLanguage(language);
      const QString suffix = QLatin1Char('-') + rawValue(scheme) + QLatin1Char('-') + rawValue(language) +
                             QStringLiteral(".png");

      DashboardModel model(registry);
      MainWindowController controller(&model);
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

      OnboardingWindow onboarding(makeBrandIcon(QSizeF(48, 48), 2.0), OnboardingWindow::Home::tray);
      onboarding.show();
      ok &= save(onboarding, out + QStringLiteral("/onboarding") + suffix);
      onboarding.hide();
      controller.window()->hide();
    }
  }
  settings.setAppearance(AppearancePreference::system);
  return ok ? 0 : 1;
}
