#pragma once

#include <QString>
#include <QStringList>

// Mounted removable volumes (USB sticks, memory cards) that can take a
// migration package.
namespace tlr::RemovableVolumes {

// Where the facts come from. The defaults read this machine; tests feed
// their own trees.
struct Sources {
  QString mountInfo = QStringLiteral("/proc/self/mountinfo");
  QString sysRoot = QStringLiteral("/sys");
  // Folders a removable volume is mounted below. Empty: /media/<user>/,
  // /run/media/<user>/, /media/ and /mnt/ for the current user.
  QStringList mountRoots;
};

// The folders below which desktops mount removable media for `userName`.
QStringList defaultMountRoots(const QString& userName);

// Mount points, in mount-table order, that lie below one of the mount roots,
// whose block device (through <sysRoot>/dev/block/<major>:<minor>, walked up
// to its disk) is removable or sits on a USB or MMC bus, that are not
// mounted read-only, and that this user can write.
QStringList list(const Sources& sources = {});

}  // namespace tlr::RemovableVolumes
