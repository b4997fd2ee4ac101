#pragma once

#include "platform/Expected.h"
#include "backup/SnapshotVolume.h"

#include <QString>

#include <memory>

namespace tlr {

// An encrypted image of a verification mode's own, in a temporary folder
// ("tlr-selftest-…" in the temporary directory) with its own random
// password, mount point, lock and staging place: what a test step backs up,
// restores or seals there never touches the user's backup volume, its
// snapshots, its password vault or its "last-backup.json". Everything it
// made is detached and removed when it is destroyed (and by remove()).
class ScratchVolume {
 public:
  // Makes the folder and the image; why not when it cannot.
  static Expected<std::shared_ptr<ScratchVolume>, QString> create();
  ~ScratchVolume();
  ScratchVolume(const ScratchVolume&) = delete;
  ScratchVolume& operator=(const ScratchVolume&) = delete;

  // The volume as the engines use it: mounting needs no prompt, and runs on
  // it are not the user's (nothing is recorded).
  SnapshotVolume access() const;
  // The temporary folder that holds everything.
  const QString& folder() const { return folder_; }
  QString mountPoint() const { return folder_ + QStringLiteral("/mnt"); }
  QString image() const { return folder_ + QStringLiteral("/image"); }
  // Detaches the image and removes the folder; true when nothing is left.
  [[nodiscard]] bool remove();
  // remove() for every scratch volume of the process (a mode ended by a
  // signal whose work did not wind down in time).
  static void removeAll();

 private:
  explicit ScratchVolume(QString folder, QString password)
      : folder_(std::move(folder)), password_(std::move(password)) {}

  QString folder_;
  QString password_;
};

}  // namespace tlr
