#include "ui/shell/Alerts.h"

#include "core/stores/SettingsStore.h"
#include "presentation/ScanPause.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/ShieldArt.h"
#include "watcher/AgentLifecycleWatcher.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

namespace tlr {
namespace {

QString noMnemonic(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace

SelfGuardStore::AlertChoice presentAlert(const SelfGuardStore::AlertText& text, ScanPause& pause, QWidget* parent) {
  QMessageBox box(parent);
  box.setObjectName(QStringLiteral("alert"));
  box.setWindowTitle(QStringLiteral("Tollamere"));
  box.setTextFormat(Qt::PlainText);
  box.setText(text.message);
  box.setInformativeText(text.informative);
  box.setIconPixmap(QPixmap::fromImage(makeBrandIcon(QSizeF(48, 48))));
  QPushButton* first = box.addButton(noMnemonic(text.firstButton), QMessageBox::AcceptRole);
  first->setObjectName(QStringLiteral("alertFirstButton"));
  first->setAccessibleName(text.firstButton);
  QPushButton* second = nullptr;
  if (!text.secondButton.isEmpty()) {
    second = box.addButton(noMnemonic(text.secondButton), QMessageBox::RejectRole);
    second->setObjectName(QStringLiteral("alertSecondButton"));
    second->setAccessibleName(text.secondButton);
    box.setEscapeButton(second);
  }
  box.setDefaultButton(first);
  {
    ModalRun run(pause);
    box.exec();
  }
  return box.clickedButton() == first ? SelfGuardStore::AlertChoice::firstButton
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
