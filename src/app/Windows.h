#pragma once

#include "registry/AgentRegistry.h"
#include "watcher/ProcessScanner.h"

#include <QObject>

#include <functional>
#include <memory>

namespace tlr {

class AgentActions;
class AgentLifecycleWatcher;
class Appearance;
class DashboardModel;
class MainWindowController;
class ScanPause;
class SettingsStore;
class StatusItemController;

// The windows' side of start-up: the dashboard model, the main window
// controller, the tray item, the alert presenter, the onboarding window and
// bringing the window forward, and the look: the colour scheme `settings`
// asks for painted into the application palette, and its language changes
// delivered to every window. Each window is handed the settings and what
// else it uses. Modal prompts hold `scanPause` while they run. Ctrl+Q in any
// window of ours, and the tray's Quit, call `quit`. Owned by App for the
// life of the process.
class AppWindows final : public QObject {
  Q_OBJECT

 public:
  // The first-run prompts wait this long after start, never less: a
  // coarse timer of this length may fire a twentieth early.
  static constexpr int kFirstRunPromptDelayMs = 2000;
  static constexpr const char* kOnboardingShownKey = "TLR.hasShownStatusItemOnboarding";

  AppWindows(SettingsStore& settings, ScanPause& scanPause, std::function<void()> quit, QObject* parent = nullptr);
  ~AppWindows() override;

  // The dashboard model and the main window controller; nothing without a
  // registry.
  void setupModel(std::shared_ptr<const AgentRegistry> registry);
  // Gives the model the watcher's actions.
  void setWatcher(AgentLifecycleWatcher& watcher);
  // One scan's lists for the model.
  void updateModel(const QList<AgentEntry>& installed, const QList<RunningAgent>& running);
  // The tray item (also without a registry). Without a system tray the main
  // window is shown at once instead.
  void setupStatusItem();
  // A later copy asked for us: show the main window.
  void bringForward();
  // Once per user: 2 s after start, the onboarding window.
  void showStatusItemOnboardingIfFirstRun();
  // Runs `then` once the main window shown at start has painted (or at the
  // latest after kFirstPaintWaitMs), at once when none is shown.
  void afterFirstPaint(std::function<void()> then);
  static constexpr int kFirstPaintWaitMs = 2000;

  DashboardModel* model() const { return model_.get(); }
  MainWindowController* mainWindow() const { return mainWindow_.get(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void runOnboardingWhenFree();

  SettingsStore& settings_;
  std::unique_ptr<Appearance> appearance_;
  ScanPause& scanPause_;
  std::function<void()> quit_;
  std::unique_ptr<DashboardModel> model_;
  std::unique_ptr<AgentActions> watcherActions_;
  std::unique_ptr<MainWindowController> mainWindow_;
  std::unique_ptr<StatusItemController> statusItem_;
  // Whether the tray item is shown (a desktop without a tray has none).
  bool inTray_ = false;
};

}  // namespace tlr
