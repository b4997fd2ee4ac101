#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QMenu;
class QAction;

namespace tlr {

class SettingsStore;

// The tray item: the drawn 18 × 19 shield, the tooltip "Tollamere"; a left
// click opens the main window, a right click offers one command, quitting
// ("Quit Tollamere" / "退出 Tollamere", in the language of the moment).
class StatusItemController final : public QObject {
  Q_OBJECT

 public:
  // The menu speaks the language of `settings`, which must outlive it.
  StatusItemController(const SettingsStore& settings, std::function<void()> openWindow, std::function<void()> onQuit,
                       QObject* parent = nullptr);
  ~StatusItemController() override;

  // Creates and shows the tray item. False, creating nothing, when the
  // desktop has no system tray: the caller then shows the main window.
  bool install();

  // What a click on the item does (the tray's activation reasons).
  void handleClick(QSystemTrayIcon::ActivationReason reason);
  // The one-item menu, its text in the current language. Owned here.
  QMenu* contextMenu();
  void quitClicked();

  // The image of the item at 1× and 2×.
  static QIcon shieldIcon();

 private:
  const SettingsStore& settings_;
  std::function<void()> openWindow_;
  std::function<void()> onQuit_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> menu_;
  QAction* openAction_ = nullptr;
  QAction* quitAction_ = nullptr;
};

}  // namespace tlr
