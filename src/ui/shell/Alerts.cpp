#include "ui/shell/Alerts.h"

#include "ui/kit/ShieldArt.h"
#include "ui/shell/ModalRun.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

namespace tlr {
namespace {

QString noMnemonic(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace

SelfGuardStore::AlertChoice presentAlert(const SelfGuardStore::AlertText& text, QWidget* parent) {
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
    ModalRun run;
    box.exec();
  }
  return box.clickedButton() == first ? SelfGuardStore::AlertChoice::firstButton
                                      : SelfGuardStore::AlertChoice::secondButton;
}

}  // namespace tlr
