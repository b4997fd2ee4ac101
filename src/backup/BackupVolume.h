#pragma once

#include <QString>

#include <optional>

namespace tlr {

// The encrypted backup image: where it lies, and whether it is attached at
// its mount point. All members are static; the state lives on disk, in the
// user defaults and in the mount table.
class BackupVolume {
 public:
  // The name of the attached volume (the last component of mountPoint()).
  static QString volumeName();
  // The defaults key that records the image's location.
  static QString locationKey();

  // The image's recorded location, or nothing when none is recorded. A
  // recorded "~/x" is read under the current home folder; a recorded path
  // that is not absolute counts as none.
  static std::optional<QString> imageURL();
  // Records `path` as the image's location (made absolute).
  static void setImageURL(const QString& path);
  // The place the first-time setup proposes: "TLR 备份.sparsebundle" in the
  // home folder.
  static QString defaultImagePath();
  // A location is recorded and something exists at it.
  static bool exists();

  // Where the image is attached: "TLR 备份" in Paths::volumesRoot().
  static QString mountPoint();
  // The image at the recorded location is attached at mountPoint(), by the
  // mount table. A folder that merely exists there does not count.
  static bool isMounted();
};

}  // namespace tlr
