#include "ui/shell/StatusItemController.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/ShieldArt.h"

#include <QAction>
#include <QMenu>
#include <QPixmap>

namespace tlr {

StatusItemController::StatusItemController(const SettingsStore& settings, std::function<void()> openWindow,
                                           std::function<void()> onQuit, QObject* parent)
    : QObject(parent), settings_(settings), openWindow_(std::move(openWindow)), onQuit_(std::move(onQuit)) {}

StatusItemController::~StatusItemController() = default;

QIcon StatusItemController::shieldIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(makeShieldImage(1.0)));
  icon.addPixmap(QPixmap::fromImage(makeShieldImage(2.0)));
  return icon;
}

bool StatusItemController::install() {
  if (tray_) return true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  tray_ = std::make_unique<QSystemTrayIcon>(shieldIcon());
  tray_->setToolTip(QStringLiteral("Tollamere"));
  tray_->setContextMenu(contextMenu());
  connect(tray_.get(), &QSystemTrayIcon::activated, this, &StatusItemController::handleClick);
  tray_->show();
  return true;
}

void StatusItemController::handleClick(QSystemTrayIcon::ActivationReason reason) {
  // The context menu itself comes up through the tray (setContextMenu); any
  // other click, with or without a modifier, opens the window.
  if (reason == QSystemTrayIcon::Context) {
    contextMenu();
    return;
  }
  if (openWindow_) openWindow_();
}

QMenu* StatusItemController::contextMenu() {
  if (!menu_) {
    menu_ = std::make_unique<QMenu>();
    menu_->setObjectName(QStringLiteral("statusItemMenu"));
    // The click's own action first: a desktop whose tray opens this menu on
    // a left click reaches the window here.
    openAction_ = menu_->addAction(QString());
    openAction_->setObjectName(QStringLiteral("openAction"));
    connect(openAction_, &QAction::triggered, this, [this] {
      if (openWindow_) openWindow_();
    });
    quitAction_ = menu_->addAction(QString());
    quitAction_->setObjectName(QStringLiteral("quitAction"));
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitAction_, &QAction::triggered, this, &StatusItemController::quitClicked);
    // The text follows the language each time the menu opens.
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { contextMenu(); });
  }
  const auto menuText = [this](const LocKey& key) {
    QString text = settings_.text(key);
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  };
  openAction_->setText(menuText(LocKey::statusBarOpen()));
  quitAction_->setText(menuText(LocKey::statusBarQuit()));
  return menu_.get();
}

void StatusItemController::quitClicked() {
  if (onQuit_) onQuit_();
}

}  // namespace tlr
