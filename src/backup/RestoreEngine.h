#pragma once

#include "backup/BackupManifest.h"
#include "backup/RestoreError.h"
#include "backup/RestoreReport.h"
#include "backup/EngineState.h"
#include "backup/SnapshotVolume.h"
#include "core/texts/LocKey.h"
#include "platform/Expected.h"
#include "registry/AgentRegistry.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace tlr {

// Puts agents' data back from the newest snapshot that checks out on the
// encrypted backup volume: mounts the volume when needed, reads the archive
// once, hashing it as it streams into tar, which unpacks the wanted agents
// into ".tollamere-restore-tmp" in the home folder; checks the archive's
// SHA-256 against the manifest, refuses the whole restore when anything
// unpacked is a link, a special file or a ".." path, and only then puts each
// agent's files back into their places, with the permission bits and
// modification times the archive records (never set-id bits): a folder whose
// place is free is moved there whole, files into a folder that stands are
// merged one by one. Nothing outside the staging folder is touched before
// the checksum and the whole-tree check passed. What a restore that goes
// through cannot put back (a root no place on this machine is named for,
// one the archive lacks) is in its result (RestoreReport), never only in
// the log. A run holds the volume's
// lock (VolumeLock): while a backup, export or import uses the image, it is
// refused with `busy`.
//
// Lives on the main thread; everything else of a run (the mount and unmount
// too) runs on a worker thread, the password prompt alone coming back to the
// main thread. The published state changes only on the main thread and
// announces every change.
class RestoreEngine final : public EngineState {
  Q_OBJECT

 public:
  // Called once on the main thread: what a restore that went through left
  // out (nothing: it is complete; also for a request refused because a run
  // is under way, which is answered at once, inside the call), else why it
  // stopped (always after the call returned).
  using Completion = std::function<void(const Expected<RestoreReport, RestoreError>&)>;
  // Called once on the main thread when a reading of the snapshot ended.
  using Inspected = std::function<void(const Expected<void, RestoreError>&)>;

  static constexpr const char* kStagingDirName = ".tollamere-restore-tmp";

  static RestoreEngine& shared();
  explicit RestoreEngine(SnapshotVolume volume = SnapshotVolume::standard(), QObject* parent = nullptr);

  // Main thread. Restore every agent of the newest snapshot, or one. Return
  // false, calling `done` with no error at once, when a run is under way.
  [[nodiscard]] bool restoreAll(Completion done);
  [[nodiscard]] bool restoreAgent(const QString& agentId, Completion done);

  // Main thread. The manifest of the snapshot a restore would use (the
  // newest that checks out, see SnapshotChoice), also kept as
  // `currentManifest`; never mounts (nothing when the volume is not mounted).
  std::optional<BackupManifest> loadManifest();

  // Main thread. Reads the manifest of the snapshot a restore would use into
  // `currentManifest` off the main thread, attaching the volume for that
  // moment when it is set up but not attached (the password prompt comes to
  // the main thread) and detaching it again; holds the volume's lock while
  // it does. `done` is called on the main thread with why it could not
  // (success when the reading went through, also when there is no image or
  // no snapshot: `currentManifest` is empty then).
  void inspect(Inspected done);

  // The loaded registry; set once at start-up.
  void setRegistry(std::shared_ptr<const AgentRegistry> registry) { registry_ = std::move(registry); }
  std::shared_ptr<const AgentRegistry> registry() const { return registry_; }

  const std::optional<BackupManifest>& currentManifest() const { return currentManifest_; }
  // How many snapshots newer than `currentManifest`'s were passed over as
  // damaged by the last loadManifest().
  qsizetype damagedNewerCount() const { return damagedNewer_; }

  // Where one backed-up agent's roots go back: the registry entry's
  // `includePaths` when it has them, else the catalog's folders of the id.
  static QStringList targetsFor(const QString& agentId, const AgentRegistry* registry);

  // What a restore of every agent of `manifest` would leave out on this
  // machine for want of a place (RestoreGap::Reason::noPlace, outsideHome),
  // decided as a restore decides it. May read the disk (the registry's
  // discovery): never on the main thread.
  static QList<RestoreGap> unplaced(const BackupManifest& manifest, const AgentRegistry* registry);

 Q_SIGNALS:
  void currentManifestChanged();

 private:

  // `wanted`: the agent asked for, or empty for all.
  bool runRestore(std::function<bool(const BackupManifest::AgentBackup&)> filter, const QString& wanted,
                  Completion done);
  void finish(const Expected<RestoreReport, RestoreError>& result);

  SnapshotVolume volume_;
  std::shared_ptr<const AgentRegistry> registry_;
  std::optional<BackupManifest> currentManifest_;
  qsizetype damagedNewer_ = 0;
};

}  // namespace tlr
