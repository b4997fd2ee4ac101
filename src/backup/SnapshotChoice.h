#pragma once

#include "backup/BackupManifest.h"
#include "platform/Expected.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// Which snapshot a restore uses and the windows show: the newest whose
// "manifest.json" reads and decodes and whose "backup.tar.gz" is a plain
// file of the size that manifest records, and, when asked to verify, whose
// SHA-256 is the one the manifest records (a restore checks it as it
// unpacks, and passes over to the next one the same way). Newer snapshots
// that do not check out are listed as damaged, so a damaged newest snapshot
// never hides an older good one. Every read of a snapshot's files is
// bounded: plain files only (never a FIFO or a device), no link followed, a
// size limit.
struct SnapshotChoice {
  enum class Damage {
    missing,          // "manifest.json" or "backup.tar.gz" is not there
    unreadable,       // the manifest is not a plain file, too large or unreadable
    corrupted,        // the manifest does not decode
    archiveMismatch,  // the archive is not a plain file of the recorded size and digest
  };
  struct Damaged {
    QString folder;
    Damage damage = Damage::missing;
    QString reason;
  };

  QString folder;  // the chosen snapshot; empty when none checks out
  std::optional<BackupManifest> manifest;
  QList<Damaged> damaged;  // the newer snapshots that did not, newest first

  bool found() const { return manifest.has_value(); }

  // Chooses among snapshot folders given newest first; with
  // `verifyArchives`, each archive is read whole and its digest compared
  // (off the window's thread: that takes a while).
  static SnapshotChoice choose(const QStringList& snapshotsNewestFirst, bool verifyArchives = false);
  // A snapshot passed over because its archive's digest is not the
  // manifest's.
  static Damaged digestMismatch(const QString& snapshot);

  // A snapshot's manifest, read the bounded way and decoded; why not.
  static Expected<BackupManifest, Damaged> readManifest(const QString& snapshot);
  static constexpr qint64 kManifestLimit = 64 << 20;
};

}  // namespace tlr
