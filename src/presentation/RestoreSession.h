#pragma once

#include "backup/BackupManifest.h"
#include "backup/EngineMessage.h"
#include "backup/RestoreReport.h"
#include "core/texts/LocKey.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tlr {

class RestoreEngine;

// What "Restore from backup" shows and does, without the window: the snapshot
// a restore would use (the newest that checks out, its machine and agents),
// whether a newer one was passed over as damaged, the restore of every agent
// or of one through the engine, and its outcome: the failure, or the
// success line "✓ Restored <agent>" / all, in the interface language; a
// restore that left parts of the backup out is no plain success: it says
// how many, and lists them.
// Nothing is offered while another backup, restore, export or import of
// this process uses the volume.
//
// Lives on the main thread; every change is announced through `changed`, a
// newly read snapshot also through `manifestChanged`. A restore started
// here goes on when the session is destroyed, and still announces the
// agents it brought back.
class RestoreSession final : public QObject {
  Q_OBJECT
 public:
  using AgentRestored = std::function<void(const QString& agentId)>;

  // `onAgentRestored` is called with each agent's id once its data is back.
  RestoreSession(RestoreEngine& engine, AgentRestored onAgentRestored, QObject* parent = nullptr);

  // ---- the snapshot ----
  const std::optional<BackupManifest>& manifest() const { return manifest_; }
  bool isLoading() const { return loading_; }
  // Why the snapshot could not be read (the volume may still hold one), and
  // whether that was the password (refused, or none given): load() asks for
  // it again.
  const std::optional<EngineMessage>& loadError() const { return loadError_; }
  bool loadNeedsPassword() const { return loadNeedsPassword_; }
  // The snapshot was made on another machine.
  bool isCrossDevice() const;
  // A newer snapshot is damaged; this is the newest that can be restored.
  bool newerIsDamaged() const;
  // There are snapshots, but every one is damaged: nothing can be restored.
  bool everyBackupDamaged() const;
  // The name an agent of the snapshot goes by (its id when it has none).
  std::optional<QString> agentName(const QString& agentId) const;
  // "2 skills · Memory 1.2 KB · 1 task · 3 KB" of one agent of the snapshot.
  static QString agentStats(const BackupManifest::AgentBackup& agent);

  // ---- the restore ----
  bool isRunning() const;
  QString stageText() const;
  // A backup, restore, export or import of this process uses the volume.
  bool volumeInUse() const;
  // Whether a restore of one agent, or of all of them, is offered.
  bool canRestoreAgent() const;
  bool canRestoreAll() const;
  // The last restore's failure, or its success line (empty when none): "✓
  // Restored …" when it was complete, else "Restored … except N parts…".
  const std::optional<EngineMessage>& failure() const { return failure_; }
  QString successText() const;
  // What the last restore that went through left out (see RestoreReport).
  const QList<RestoreGap>& leftOut() const { return leftOut_; }
  // The line saying one of them: the agent's name, `path` (the gap's
  // shownPath(), as the window fits it) and why.
  LocKey leftOutLine(const RestoreGap& gap, const QString& path) const;
  // A gap's shownPath() on one line (a line break in a name shown as "\n").
  static QString pathOf(const RestoreGap& gap);

  // Reads the snapshot a restore would use again (off the main thread; a
  // volume that is set up but not attached is attached for that moment,
  // asking for the password when none is stored, and detached again).
  void load();
  void restoreAll();
  void restoreAgent(const QString& agentId);

 Q_SIGNALS:
  void changed();
  void manifestChanged();

 private:
  void run(const std::optional<QString>& agentId);

  RestoreEngine& engine_;
  AgentRestored onAgentRestored_;
  std::optional<BackupManifest> manifest_;
  bool loading_ = false;
  std::optional<EngineMessage> loadError_;
  bool loadNeedsPassword_ = false;
  std::optional<EngineMessage> failure_;
  // The agent the last restore brought back, or all of them.
  std::optional<QString> restoredName_;
  bool restoredAll_ = false;
  QList<RestoreGap> leftOut_;
};

}  // namespace tlr
