#include "core/stores/DoctorResultStore.h"

namespace tlr {

DoctorResultStore& DoctorResultStore::shared() {
  static DoctorResultStore store;
  return store;
}

DoctorResultStore::DoctorResultStore(Clock clock, QObject* parent)
    : QObject(parent), clock_(std::move(clock)) {}

std::optional<DoctorResult> DoctorResultStore::result(const QString& agentId) const {
  const auto it = results_.constFind(agentId);
  if (it == results_.cend()) return std::nullopt;
  return *it;
}

void DoctorResultStore::setResult(const QString& agentId, std::optional<DoctorResult> result) {
  if (result) {
    results_.insert(agentId, std::move(*result));
  } else if (results_.remove(agentId) == 0) {
    return;
  }
  Q_EMIT resultsChanged(agentId);
}

void DoctorResultStore::setRunning(const QString& agentId, bool running) {
  if (running == runningIds_.contains(agentId)) return;
  if (running) {
    runningIds_.insert(agentId);
  } else {
    runningIds_.remove(agentId);
  }
  Q_EMIT runningIdsChanged();
}

std::optional<QDateTime> DoctorResultStore::lastAutoRunAt(const QString& agentId) const {
  const auto it = lastAutoRunAt_.constFind(agentId);
  if (it == lastAutoRunAt_.cend()) return std::nullopt;
  return *it;
}

void DoctorResultStore::noteAutoRunStarted(const QString& agentId) { lastAutoRunAt_.insert(agentId, clock_()); }

bool DoctorResultStore::shouldAutoRun(const QString& agentId) const {
  if (!results_.contains(agentId)) return true;
  const auto last = lastAutoRunAt(agentId);
  if (!last) return true;
  const double elapsed = static_cast<double>(last->msecsTo(clock_())) / 1000.0;
  return elapsed >= autoRunCooldownSec;
}

bool DoctorResultStore::beginAutoRun(const QString& agentId) {
  if (runningIds_.contains(agentId) || !shouldAutoRun(agentId)) return false;
  noteAutoRunStarted(agentId);
  setRunning(agentId, true);
  return true;
}

void DoctorResultStore::finishAutoRun(const QString& agentId, std::optional<DoctorResult> result) {
  setRunning(agentId, false);
  setResult(agentId, std::move(result));
}

}  // namespace tlr
