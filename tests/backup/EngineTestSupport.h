#pragma once

#include "backup/SnapshotVolume.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace tlr::test {

// A backup volume that is a plain folder: "mounting" makes its snapshot
// folder reachable, and it counts mounts and unmounts. The engines call it
// from their worker threads too.
struct FolderVolume {
  QString folder;
  std::atomic<bool> exists = true;
  std::atomic<bool> mounted = false;
  std::atomic<int> mounts = 0;
  std::atomic<int> unmounts = 0;
  std::optional<QString> mountError;

  SnapshotVolume access();
  QString snapshots() const { return folder + "/snapshots"; }
};

void writeFile(const QString& path, const QByteArray& data);
QByteArray readAll(const QString& path);
// Names in a folder, hidden ones too, sorted.
QStringList entries(const QString& folder);

}  // namespace tlr::test

