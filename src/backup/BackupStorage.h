#pragma once

#include "platform/Expected.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// Why a snapshot folder could not be made. The descriptions exist in
// Chinese only.
struct StorageError {
  enum class Kind {
    volumeNotMounted,  // the encrypted volume is not attached
    invalidLabel,      // the name given is not a time label
    fileSystem,        // the folder could not be created; `detail` says why
  };
  Kind kind = Kind::volumeNotMounted;
  QString detail;

  QString localizedDescription() const;
  bool operator==(const StorageError&) const = default;
};

// The snapshots on the attached backup volume: one folder per snapshot,
// named by its time label ("2025-03-01_09-15-00"), in the folder "snapshots"
// of the volume. Nothing here mounts the volume or looks inside a snapshot.
// All members are static and may run on any thread.
//
// Each operation comes in two forms: one on the attached volume, and one
// ("...In") on a given snapshots folder.
class BackupStorage {
 public:
  // The snapshots folder of the attached volume (created when missing), or
  // nothing when the volume is not attached; nothing is created then.
  static std::optional<QString> rootURL();

  // "yyyy-MM-dd_HH-mm-ss" of `date` in the current time zone.
  static QString timestampLabel(const QDateTime& date);
  // Whether `name` has exactly the form of a time label.
  static bool isTimestampLabel(const QString& name);

  // The folder for a new snapshot named `timestamp` (the label of the
  // present moment when none is given), created when missing; an existing
  // folder of that name is returned as it is.
  static Expected<QString, StorageError> newSnapshotDirectory(const std::optional<QString>& timestamp = {});
  static Expected<QString, StorageError> newSnapshotDirectoryIn(const QString& root,
                                                                const std::optional<QString>& timestamp = {});

  // The snapshot folders, newest first by name. Only folders (not links)
  // whose whole name is a time label count; anything else in the root is
  // never listed and never deleted. Empty when nothing is attached.
  static QStringList listSnapshots();
  static QStringList listSnapshotsIn(const QString& root);

  // Deletes every snapshot folder but the first one listed. Removal
  // failures are skipped; the next prune tries again.
  static void pruneOldSnapshots();
  static void pruneOldSnapshotsIn(const QString& root);

  // Deletes every snapshot folder but the one named `keepLabel`, whatever
  // the order of the names: a snapshot written just after the clock went
  // back sorts below older ones and must still survive. When no snapshot of
  // that name exists, nothing is deleted.
  static void pruneSnapshots(const QString& keepLabel);
  static void pruneSnapshotsIn(const QString& root, const QString& keepLabel);
};

}  // namespace tlr
