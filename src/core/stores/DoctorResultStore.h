#pragma once

#include "core/stores/DoctorResult.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace tlr {

// The latest doctor result of each agent for the life of the process, the
// agents whose automatic doctor run is in progress, and when each agent's last
// automatic run started. Nothing is written to disk. Main thread only.
class DoctorResultStore : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;

  // Seconds between two automatic runs of one agent.
  static constexpr double autoRunCooldownSec = 300.0;

  // The process-wide store on the system clock, created on first use.
  static DoctorResultStore& shared();

  explicit DoctorResultStore(Clock clock = &QDateTime::currentDateTimeUtc, QObject* parent = nullptr);

  const QHash<QString, DoctorResult>& results() const { return results_; }
  std::optional<DoctorResult> result(const QString& agentId) const;
  // Stores the result, or removes the agent's entry when there is none.
  void setResult(const QString& agentId, std::optional<DoctorResult> result);

  const QSet<QString>& runningIds() const { return runningIds_; }
  void setRunning(const QString& agentId, bool running);

  std::optional<QDateTime> lastAutoRunAt(const QString& agentId) const;
  // Notes that an automatic run of the agent starts now.
  void noteAutoRunStarted(const QString& agentId);

  // Whether the detail sheet should start an automatic doctor run now: when
  // the agent has no result, or no automatic run yet, or its last automatic
  // run started at least 300 seconds ago (a clock set back waits the full
  // time again).
  bool shouldAutoRun(const QString& agentId) const;

  // Starts an automatic run of the agent when one is due and none is under
  // way: notes its start and marks the agent running. Returns whether the
  // caller should run it. A second request while the first still runs is
  // refused, so two runs never overlap and the first to end cannot take the
  // banner away from the other.
  bool beginAutoRun(const QString& agentId);
  // The automatic run has ended: the agent is no longer running; its result
  // is stored, or the stored one removed when none came.
  void finishAutoRun(const QString& agentId, std::optional<DoctorResult> result);

 Q_SIGNALS:
  void resultsChanged(const QString& agentId);
  void runningIdsChanged();

 private:
  Clock clock_;
  QHash<QString, DoctorResult> results_;
  QSet<QString> runningIds_;
  QHash<QString, QDateTime> lastAutoRunAt_;
};

}  // namespace tlr
