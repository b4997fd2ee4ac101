#pragma once

#include "backup/BackupVolume.h"
#include "backup/EngineState.h"
#include "backup/SnapshotVolume.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

namespace tlr::test {

// A backup volume that is a plain folder: "mounting" makes its snapshot
// folder reachable, and it counts mounts and unmounts. The engines call it
// from their worker threads too.
struct FolderVolume {
  QString folder;
  std::atomic<bool> exists = true;
  std::atomic<bool> mounted = false;
  // Mounted by a process that is gone: the next run takes it over.
  std::atomic<bool> orphaned = false;
  std::atomic<int> mounts = 0;
  std::atomic<int> unmounts = 0;
  std::optional<BackupVolumeError> mountError;
  // Set: detaching fails with it, and the volume stays mounted.
  std::optional<BackupVolumeError> unmountError;
  // Run while "mounting", on the engine's thread that mounts, before the
  // mount succeeds.
  std::function<void()> whileAttaching;
  // Where runs stage their plain copies; the home folder when empty.
  QString workFolder;

  SnapshotVolume access();
  QString snapshots() const { return folder + "/snapshots"; }
  QString lockFile() const { return folder + "/.lock"; }
};

void writeFile(const QString& path, const QByteArray& data);
QByteArray readAll(const QString& path);
// Names in a folder, hidden ones too, sorted.
QStringList entries(const QString& folder);
// An engine's stage as the Chinese window writes it; empty between runs.
QString stageText(const EngineState& engine);

}  // namespace tlr::test

