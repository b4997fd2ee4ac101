#include "platform/RemovableVolumes.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tlr;

namespace {

using tlr::test::writeBytes;

// A sysfs tree: <root>/devices/<devicePath>/<disk>[/<partition>] and the
// link <root>/dev/block/<majorMinor> to the partition (or the disk).
void addBlockDevice(const QString& sys, const QString& majorMinor, const QString& devicePath, bool removable,
                    bool partition) {
  const QString disk = sys + "/devices/" + devicePath;
  writeBytes(disk + "/removable", removable ? "1\n" : "0\n");
  QString node = disk;
  if (partition) {
    node = disk + "/" + QFileInfo(disk).fileName() + "1";
    writeBytes(node + "/partition", "1\n");
  }
  QDir().mkpath(sys + "/dev/block");
  ASSERT_TRUE(QFile::link("../../" + QDir(sys).relativeFilePath(node), sys + "/dev/block/" + majorMinor));
}

}  // namespace

TEST(RemovableVolumes, ListsWritableRemovableOrUsbVolumesBelowTheMountRoots) {
  QTemporaryDir dir;
  const QString sys = dir.path() + "/sys";
  const QString media = dir.path() + "/media/alice";
  const QString mnt = dir.path() + "/mnt";
  // A USB stick that does not call itself removable, a memory card, an
  // internal SATA disk, a removable disk mounted read-only, a removable disk
  // mounted outside the roots, and one whose mount point has a blank.
  addBlockDevice(sys, "8:17", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
                 false, true);
  addBlockDevice(sys, "179:1", "platform/soc/mmc_host/mmc0/mmc0:0001/block/mmcblk0", false, true);
  addBlockDevice(sys, "8:1", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", false, true);
  addBlockDevice(sys, "8:33", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdc", true, false);
  addBlockDevice(sys, "8:49", "pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0/block/sdd", true, true);
  for (const QString& p : {media + "/STICK", media + "/CARD", mnt + "/data", mnt + "/ro", media + "/MY DISK",
                           dir.path() + "/elsewhere"})
    QDir().mkpath(p);

  const QByteArray table =
      "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
      "30 1 8:17 / " + QFile::encodeName(media) + "/STICK rw,nosuid,nodev shared:1 - vfat /dev/sdb1 rw\n"
      "31 1 179:1 / " + QFile::encodeName(media) + "/CARD rw - exfat /dev/mmcblk0p1 rw\n"
      "32 1 8:1 / " + QFile::encodeName(mnt) + "/data rw - ext4 /dev/sda1 rw\n"
      "33 1 8:33 / " + QFile::encodeName(mnt) + "/ro ro,nosuid - vfat /dev/sdc rw\n"
      "34 1 8:49 / " + QFile::encodeName(dir.path()) + "/elsewhere rw - vfat /dev/sdd1 rw\n"
      "35 1 8:49 / " + QFile::encodeName(media) + "/MY\\040DISK rw - vfat /dev/sdd1 rw\n"
      "36 1 8:99 / " + QFile::encodeName(mnt) + "/nodevice rw - vfat /dev/sde1 rw\n"
      "garbage line\n";
  writeBytes(dir.path() + "/mountinfo", table);

  RemovableVolumes::Sources sources;
  sources.mountInfo = dir.path() + "/mountinfo";
  sources.sysRoot = sys;
  sources.mountRoots = {dir.path() + "/media/alice", dir.path() + "/media", mnt};
  EXPECT_EQ(RemovableVolumes::list(sources), (QStringList{media + "/STICK", media + "/CARD", media + "/MY DISK"}));

  sources.mountInfo = dir.path() + "/missing";
  EXPECT_TRUE(RemovableVolumes::list(sources).isEmpty());
}

TEST(RemovableVolumes, DefaultRootsAreTheDesktopMediaFolders) {
  EXPECT_EQ(RemovableVolumes::defaultMountRoots("bob"),
            (QStringList{"/media/bob", "/run/media/bob", "/media", "/mnt"}));
}
