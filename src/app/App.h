#pragma once

#include "presentation/ScanPause.h"
#include "registry/AgentRegistry.h"
#include "watcher/ScanLoop.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

namespace tlr {

class AgentLifecycleWatcher;
class AppWindows;
class HangWatcher;
class InstanceChannel;
class ProcessScanner;
class ResourceMonitor;
class TerminationSignals;

// The running application: chooses between a verification mode and the
// supervisor, and in the latter takes the single-instance lock, builds the
// object graph, runs the 4-second scan loop and prints the discovery
// self-check. Owns what it builds for the life of the process. SIGTERM,
// SIGINT and SIGHUP quit it like its own quit command (the tray's Quit,
// Ctrl+Q), within two seconds whatever runs: the scan loop stops, running
// commands are stopped and their results dropped, queued writes are
// finished, the bring-forward channel is removed and the process ends.
class App final : public QObject {
  Q_OBJECT

 public:
  // The process entry: a verification mode when one of the seven variables
  // selects one (its report on standard error, then exit status 0 or 1),
  // otherwise the application's event loop. Returns the exit status.
  static int main(int argc, char** argv);

  App();
  ~App() override;

  // The start-up sequence; runs once, inside the event loop.
  void applicationDidFinishLaunching();

  static constexpr int kScanIntervalMs = 4000;

 private:
  bool isAnotherInstanceRunning();
  void loadRegistry();
  void setupModel();
  void setupWatcher();
  void startWatchers();
  void setupStatusItem();
  void startScanLoop();
  void refreshRunningAgents();
  // A scan round's result, on the window thread.
  void takeScan(const ScanLoop::Round& round);
  void askSelfGuardIfNeeded();
  void setupRemoteServices();
  void applyActivationPolicy();
  void showStatusItemOnboardingIfFirstRun();
  void runDiscoverySelfCheck();
  void tidyBackupLeftovers();
  // A later copy asked this one to come forward.
  void bringToFront();
  // A termination signal arrived: one log line, then a normal quit (exit 0).
  void quitOnSignal(int signal);
  // Ends the event loop, also a modal one, whatever windows are open.
  static void quit();
  // Runs as the event loop ends, whatever ended it. Code that must undo
  // something at quit (a mounted image) joins QCoreApplication::aboutToQuit.
  void prepareToQuit();

  std::shared_ptr<const AgentRegistry> registry_;
  // The dashboard model and the main window controller join here; until
  // they do, the scan loop keeps the ids it last saw running itself, and
  // how many agents were installed.
  std::pair<QStringList, qsizetype> lastSummary_;
  std::shared_ptr<const ProcessScanner> scanner_;
  std::unique_ptr<ScanLoop> scanLoop_;
  std::unique_ptr<AgentLifecycleWatcher> watcher_;
  QTimer scanTimer_;
  // Holds the scan timer stopped while a modal prompt runs.
  ScanPause scanPause_;
  std::unique_ptr<HangWatcher> hangWatcher_;
  std::unique_ptr<ResourceMonitor> resourceMonitor_;
  std::unique_ptr<InstanceChannel> instanceChannel_;
  // Why the running copy could not be asked to come forward, when it could not.
  std::optional<QString> unreachedInstance_;
  bool remoteServicesStarted_ = false;
  std::unique_ptr<TerminationSignals> terminationSignals_;
  // The windows: dashboard model, main window, tray item, first-run prompts.
  std::unique_ptr<AppWindows> windows_;
  // When the quit began (the event loop ended).
  std::optional<std::chrono::steady_clock::time_point> quitStartedAt_;
  // Why no session bus is used, said once the lock is ours.
  std::optional<QString> sessionBusLine_;
};

}  // namespace tlr
