#include "ui/shell/Alerts.h"

#include "core/stores/SettingsStore.h"
#include "presentation/ScanPause.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/ShieldArt.h"
#include "watcher/AgentLifecycleWatcher.h"

#include <QAbstractButton>
#include <QEventLoop>

namespace tlr {

SelfGuardStore::AlertChoice presentAlert(const SettingsStore& settings, const SelfGuardStore::AlertText& text,
                                         ScanPause& pause, QWidget* parent) {
  // The kit's alert, like every other question: the second button (when
  // there is one) is its cancel, the first its default.
  auto* alert = new Alert(settings.text(text.message), settings.text(text.informative), parent);
  alert->setObjectName(QStringLiteral("alert"));
  if (text.secondButton)
    alert->addButton(settings.text(*text.secondButton), Alert::Role::cancel, QStringLiteral("alertSecondButton"));
  PaintedButton* first =
      alert->addButton(settings.text(text.firstButton), Alert::Role::confirm, QStringLiteral("alertFirstButton"));
  alert->setDefaultButton(first);
  QEventLoop loop;
  QAbstractButton* chosen = nullptr;
  QObject::connect(alert, &Alert::answered, &loop, [&](QAbstractButton* button) {
    chosen = button;
    loop.quit();
  });
  {
    ModalRun run(pause);
    alert->present();
    loop.exec();
  }
  return chosen && chosen == first ? SelfGuardStore::AlertChoice::firstButton
                                   : SelfGuardStore::AlertChoice::secondButton;
}

Alert* presentActionFailure(const SettingsStore& settings, const UserActionFailure& failure, QWidget* parent) {
  // A command stays whole on its line.
  QStringList keep;
  if (!failure.result.command.isEmpty()) keep << failure.result.command;
  auto* alert = new Alert(settings.text(failure.title()), settings.text(failure.message()), parent, keep);
  alert->setObjectName(QStringLiteral("actionFailedAlert"));
  alert->addButton(settings.text(LocKey::alertGotIt()), Alert::Role::cancel, QStringLiteral("alertGotIt"));
  alert->present();
  return alert;
}

}  // namespace tlr
