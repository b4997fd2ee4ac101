#include "backup/EngineState.h"

namespace tlr {

void EngineState::begin(const LocKey& firstStage) {
  setRunning(true);
  lastFailure_.reset();
  setLastError(std::nullopt);
  setStage(std::optional<LocKey>(firstStage));
}

void EngineState::setStage(const LocKey& key) { setStage(std::optional<LocKey>(key)); }

void EngineState::end() {
  setRunning(false);
  setStage(std::optional<LocKey>());
}

void EngineState::end(const QString& description, const EngineMessage& shown) {
  end();
  lastFailure_ = shown;
  setLastError(description);
}

void EngineState::setRunning(bool running) {
  if (isRunning_ == running) return;
  isRunning_ = running;
  Q_EMIT isRunningChanged(running);
}

void EngineState::setStage(std::optional<LocKey> stage) {
  if (stage_ == stage) return;
  stage_ = std::move(stage);
  Q_EMIT stageChanged();
}

void EngineState::setLastError(std::optional<QString> error) {
  if (lastError_ == error) return;
  lastError_ = std::move(error);
  Q_EMIT lastErrorChanged();
}

}  // namespace tlr
