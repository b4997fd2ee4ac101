#pragma once

#include "backup/EngineMessage.h"
#include "core/texts/LocKey.h"

#include <QObject>
#include <QString>

#include <optional>

namespace tlr {

// What the backup and restore engines publish for the windows: whether a run
// is under way, its stage (a text key, which the windows write in their
// language) and the last run's failure, both as its description (the
// engine's Chinese text, as the log writes it) and as a window shows it.
// Changes only on the main thread, and announces every change.
class EngineState : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
  Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)

 public:
  bool isRunning() const { return isRunning_; }
  // The stage of the run under way; nothing between runs.
  const std::optional<LocKey>& stage() const { return stage_; }
  const std::optional<QString>& lastError() const { return lastError_; }
  QString lastErrorText() const { return lastError_.value_or(QString()); }
  // The last run's failure as a window shows it; set with `lastError`.
  const std::optional<EngineMessage>& lastFailure() const { return lastFailure_; }

 Q_SIGNALS:
  void isRunningChanged(bool running);
  void stageChanged();
  void lastErrorChanged();

 protected:
  explicit EngineState(QObject* parent) : QObject(parent) {}

  // A run starts at `firstStage`, the last one's failure forgotten.
  void begin(const LocKey& firstStage);
  void setStage(const LocKey& key);
  // The run ended; with a failure, its description and how a window shows it.
  void end();
  void end(const QString& description, const EngineMessage& shown);

 private:
  void setRunning(bool running);
  void setStage(std::optional<LocKey> stage);
  void setLastError(std::optional<QString> error);

  bool isRunning_ = false;
  std::optional<LocKey> stage_;
  std::optional<QString> lastError_;
  std::optional<EngineMessage> lastFailure_;
};

}  // namespace tlr
