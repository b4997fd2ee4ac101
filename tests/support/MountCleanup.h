#pragma once

#include "platform/DiskImage.h"

#include <QDir>
#include <QString>
#include <QStringList>

namespace tlr::test {

// Detaches every file system mounted below `root` (an encrypted volume whose
// test failed half-way or was killed, a dead mount stacked under a live
// one), topmost first; one still busy goes lazily. Shared by the temporary
// HOME's end and the guard that outlives a killed test (tlr_mount_guard).
inline void detachMountsBelow(const QString& root) {
  const QString prefix = QDir::cleanPath(root) + "/";
  for (int round = 0; round < 8; ++round) {
    QStringList points;
    for (const DiskImage::MountEntry& e : DiskImage::readMountInfo()) {
      if (e.mountPoint.startsWith(prefix)) points.prepend(e.mountPoint);
    }
    if (points.isEmpty()) return;
    // A mount that still stays is what the next look at the mount table finds.
    for (const QString& point : points) static_cast<void>(DiskImage::detach(point, DiskImage::WhenBusy::detachLazily));
  }
}

}  // namespace tlr::test
