#pragma once

#include "registry/AgentEntry.h"
#include "watcher/ProcessScanner.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

namespace tlr {

// One round of the application's scan: which agents are installed and every
// recognised process. The round reads /proc and the program folders, so it
// runs on a pool thread; its result is handed to the window thread, which
// never waits for it. Rounds never overlap: one asked for while another runs
// follows it.
class ScanLoop final : public QObject {
 public:
  struct Round {
    QList<AgentEntry> installed;
    QList<RunningAgent> all;  // ProcessScanner::scanAll()
  };
  using Scan = std::function<Round()>;
  // Called on the window thread with each round's result.
  using Scanned = std::function<void(const Round&)>;

  // Rounds of `scanner`.
  ScanLoop(std::shared_ptr<const ProcessScanner> scanner, Scanned scanned, QObject* parent = nullptr);
  ScanLoop(Scan scan, Scanned scanned, QObject* parent = nullptr);

  // Starts a round, or one more after the round under way.
  void refresh();
  bool isScanning() const { return scanning_; }

 private:
  Scan scan_;
  Scanned scanned_;
  bool scanning_ = false;
  bool again_ = false;
};

}  // namespace tlr
