#pragma once

#include "backup/BackupEngine.h"
#include "backup/EngineMessage.h"
#include "core/texts/LocKey.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

namespace tlr {

// What "Backup & Restore" shows and does, without the window: the encrypted
// volume (its place, the space it takes and the host's free space), the last
// backup, a scan of what a backup of the installed agents would take, and
// the backup itself through the shared engine, with a short success flash
// and the engine's failure. While a backup, restore, export or import of
// this process uses the volume, none of them is offered.
//
// Lives on the main thread; every change is announced through `changed`.
// The scan and the volume's figures are read off the main thread. A backup
// started here goes on when the session is destroyed; its completion is
// dropped then.
class BackupSession final : public QObject {
  Q_OBJECT
 public:
  // How long the success flash lasts.
  static constexpr int kFlashMilliseconds = 2000;

  BackupSession(QList<AgentEntry> installedAgents, BackupEngine& engine, QObject* parent = nullptr);

  // ---- the volume ----
  // Whether the image is set up, and where (nothing when it is not).
  bool hasImage() const;
  std::optional<QString> imagePath() const;
  // The space the image takes and the host's free space, once read.
  std::optional<qint64> volumeUsed() const { return volumeUsed_; }
  std::optional<qint64> hostFree() const { return hostFree_; }

  // ---- the scan (0 until it finished) ----
  bool isScanning() const { return scanning_; }
  bool hasScanned() const { return scanned_; }
  int discoveredAgentCount() const { return discoveredAgents_; }
  int discoveredLocationCount() const { return discoveredLocations_; }
  qint64 estimateBytes() const { return estimateBytes_; }
  // The scan found no agent with data.
  bool nothingToBackUp() const;
  // What the installed agents' exclusions leave out of every backup (their
  // caches and the tools' own program files), agent by agent, in the
  // interface language; empty when no agent leaves anything out.
  QString exclusionsText() const;

  // ---- the backup ----
  const std::optional<BackupEngine::BackupRecord>& lastBackup() const { return engine_.lastBackup(); }
  bool isRunning() const { return engine_.isRunning(); }
  // The engine's stage while a backup runs, else empty.
  QString stageText() const;
  // Why the last backup failed, while none runs.
  std::optional<EngineMessage> failure() const;
  // What the last backup of this session did not store (links, FIFOs,
  // sockets inside the agents' folders; what could not be read; folders too
  // deep) or stored as it changed: one line each, how many and the first
  // few, after a line saying the backup is incomplete when the agents' data
  // is not all in it; nothing when nothing was left out, while a backup runs
  // and after a failed one.
  QList<LocKey> leftOut() const;
  // Those lines in the interface language, one per line.
  QString leftOutText() const;
  // For a moment after a backup succeeded.
  bool isFlashing() const { return flashTimer_.isActive(); }
  // A backup, restore, export or import of this process uses the volume:
  // no other is offered.
  bool volumeInUse() const;
  bool canBackUp() const;

  // The session's window is shown for the first time: reads the newest
  // snapshot of an attached volume (it may be newer than the one this process
  // knows of; this never mounts), the volume's figures, and scans.
  void open();
  // Scans the agents' data again.
  void scan();
  // Starts a backup of the installed agents.
  void backUpNow();
  // Shows the image in the file manager.
  void revealImage();
  // The first-time setup ended (the image may exist now).
  void setupEnded();

 Q_SIGNALS:
  void changed();
  // The desktop did not open the folder that holds the image.
  void revealFailed(const QString& folder, const tlr::LocKey& reason);

 private:
  void refreshVolume();

  QList<AgentEntry> agents_;
  BackupEngine& engine_;
  int discoveredAgents_ = 0;
  int discoveredLocations_ = 0;
  qint64 estimateBytes_ = 0;
  // The last successful run's record: what it left out.
  BackupEngine::BackupRecord ran_;
  bool scanned_ = false;
  bool scanning_ = false;
  std::optional<qint64> volumeUsed_;
  std::optional<qint64> hostFree_;
  QTimer flashTimer_;
};

}  // namespace tlr
