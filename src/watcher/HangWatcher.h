#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>

#include <memory>

namespace tlr {

class AgentRegistry;
class DirectoryWatcher;
class EventStore;

// Records a `hangDetected` event when the system leaves a hang report for an
// agent's process in the reports folder (Paths::diagnosticReports()). A hang
// report is a file whose name contains "-hang"; its first non-empty line
// holds "procName": "<name>", which is matched against the registry's
// executable names regardless of case. It only records: nothing is
// relaunched or killed. Lives on the main thread.
class HangWatcher final {
 public:
  // `eventStore` is held weakly: once it is gone, hangs are only logged.
  explicit HangWatcher(EventStore& eventStore);
  HangWatcher(EventStore& eventStore, QString reportsFolder);
  ~HangWatcher();
  HangWatcher(const HangWatcher&) = delete;
  HangWatcher& operator=(const HangWatcher&) = delete;

  // Rebuilds the table of process names from the visible entries.
  void updateRegistry(const AgentRegistry& registry);
  // Begins watching; reports already there are never inspected. Does nothing
  // when already watching; after a failure a later call tries again.
  void start();
  bool isWatching() const { return source_ != nullptr; }
  const QString& reportsFolder() const { return diagnosticReportsDir_; }

 private:
  QSet<QString> currentHangFiles() const;
  void handleDirChange();
  // Records the report's hang; false when the report is not complete yet
  // (empty, or cut before its process name), so it is looked at again.
  bool inspectHangFile(const QString& path);

  QHash<QString, QString> processNameToAgentId_;  // lower-cased name -> agent id
  std::unique_ptr<DirectoryWatcher> source_;
  QPointer<EventStore> eventStore_;
  QSet<QString> seenFiles_;
  // Reports not complete at their last look, with the size and time they had.
  QHash<QString, QString> incompleteFiles_;
  QString diagnosticReportsDir_;
};

}  // namespace tlr
