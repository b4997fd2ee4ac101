#pragma once

#include "backup/EngineMessage.h"
#include "platform/Expected.h"
#include "platform/DiskImage.h"

#include <QString>

#include <optional>

namespace tlr {

// Why the encrypted volume could not be created or attached. The
// descriptions exist in Chinese only.
struct BackupVolumeError {
  enum class Kind {
    createFailed,     // the image could not be made; `output` says why
    mountFailed,      // the image could not be attached; `output` says why
    alreadyExists,    // something already lies at the chosen location
    notInitialized,   // no image at the recorded location (or none recorded)
    passwordMissing,  // no stored password and the user gave none
    toolMissing,      // a program the volume needs (`tool`) is not installed
    detachFailed,     // the volume stays attached; `output` says why, `tool` when it is missing
    // This user may not use FUSE (/dev/fuse), which attaching needs; `output`
    // holds the tool's words.
    fuseNotPermitted,
  };
  Kind kind = Kind::mountFailed;
  // The tool's error output, or our own reason when the tool could not run.
  QString output;
  // A mountFailed because the image refused the password.
  bool wrongPassword = false;
  // The program that is not installed ("gocryptfs", "fusermount3").
  QString tool;

  // The error of an attach that failed so: fuseNotPermitted, or mountFailed
  // (wrongPassword when the image refused the password).
  static BackupVolumeError ofAttach(const DiskImage::ToolFailure& failure);

  // "创建加密卷失败：<output>", "挂载加密卷失败：<output>", ...
  QString localizedDescription() const;
  // The same for a window (its text key), the tool's output apart.
  EngineMessage message() const;
  bool operator==(const BackupVolumeError&) const = default;
};

// Why the password prompt asks, as the key of its message: to start a
// backup, or a restore.
enum class UnlockPurpose { backup, restore };
LocKey unlockReason(UnlockPurpose purpose);

// The encrypted backup image: where it lies, its creation, attaching it at
// its mount point and detaching it again. All members are static; the state
// lives on disk, in the user defaults and in the mount table. The calls that
// run a tool block until it ends (each has a deadline) and may run on any
// thread; tool runs are serialized. A volume this process attached is
// detached when the application quits.
class BackupVolume {
 public:
  using Result = Expected<QString, BackupVolumeError>;

  // Records `location` and makes the image exactly there, with `password`,
  // which is then sealed in the password vault. The image is built in a
  // hidden sibling folder and renamed into place only when complete, so a
  // failed create leaves nothing that counts as existing. Something already
  // at `location`: alreadyExists (with the location recorded, so that image
  // is used from then on). An empty password, or one with a line break or
  // NUL (the tool reads one line), is refused with createFailed, and so is an
  // empty location or one holding NUL (nothing is recorded then). Returns the
  // location.
  static Result create(const QString& location, const QString& password);

  // Attaches the recorded image at mountPoint() with `password` and returns
  // the mount point. Without gocryptfs or fusermount3 on PATH nothing is
  // tried: toolMissing. Already attached: returns at once, the password unused
  // (an attachment whose gocryptfs died is detached and made afresh).
  // No image: notInitialized. This user may not use FUSE: fuseNotPermitted.
  // Refused (among others a wrong password, then with wrongPassword set), or
  // the tool missing: mountFailed.
  static Result mount(const QString& password);

  // Like mount(), finding the password itself: the in-memory copy, else the
  // vault file, else the installed prompt (`reason` the key of its message),
  // asked on the main thread. A stored password the image refuses is
  // forgotten (memory and vault file) and the user is asked once; a typed
  // password is sealed only after it opened the volume. The user giving no
  // password: passwordMissing, or the refusal of the stored one when there
  // was one. Other failures are returned as they are, with the in-memory
  // copy cleared after a mountFailed.
  static Result mountInteractive(const LocKey& reason);

  // A program that attaching and detaching need is not installed (toolMissing
  // naming it and its package): nothing is attached without it, since a
  // volume that could not be detached again would stay open.
  static std::optional<BackupVolumeError> missingTool();

  // Detaches the image when it is attached; nothing runs otherwise. A volume
  // that refuses to detach stays attached, unless `whenBusy` says to take it
  // out of the file tree all the same (when this process ends, and its own
  // stopped work may still hold files there): detachFailed then, with the
  // missing tool named when that is why.
  static Expected<void, BackupVolumeError> detach(DiskImage::WhenBusy whenBusy = DiskImage::WhenBusy::fail);
  // The same where nothing more can be done about a refusal than the log
  // line it writes.
  static void unmount(DiskImage::WhenBusy whenBusy = DiskImage::WhenBusy::fail);
  // Whether the attached volume was attached by this process.
  static bool mountedByThisProcess();

  // Who attached the volume: every attach records its process (pid and
  // start time) in a small file beside the mount point, and a detach removes
  // it. Whether that process still runs; false when nothing is recorded.
  static bool ownerAlive();
  // The volume is attached, but whoever attached it is gone (killed during
  // a backup, say): this process records itself as its owner and returns
  // true, and detaches it when it is done with it like one it attached.
  // False when nothing is attached or its owner runs.
  static bool adoptOrphan();
  // At start-up: an orphaned attachment that no operation is using (its
  // lock is free) is detached. Blocks on the tool; off the main thread.
  static void detachOrphan();
  // The owner record's path, beside the mount point.
  static QString ownerRecordPath();

  // The device number of the attached volume's file system at this moment,
  // or nothing when it is not attached (a bare folder at the mount point,
  // on the file system of the folder around it, is not the volume).
  static std::optional<quint64> mountedDevice();
  // The lock file that keeps the operations on the image apart
  // (VolumeLock), beside the image.
  static QString lockPath();

  // Free bytes of the disk holding the image's folder, or nothing when it
  // cannot be asked.
  static std::optional<qint64> hostFreeSpace();
  // Sum of the sizes of everything below `path`, links not followed; 0 for a
  // missing path.
  static qint64 directorySize(const QString& path);

  // The name of the attached volume (the last component of mountPoint()).
  static QString volumeName();
  // The defaults key that records the image's location.
  static QString locationKey();

  // The image's location: the recorded one, else defaultImagePath(). A
  // recorded "~/x" is read under the current home folder; a recorded value
  // that is not an absolute path counts as none. (Always holds a path; the
  // optional is kept for callers written against "no location".)
  static std::optional<QString> imageURL();
  // Whether a location was recorded (by setImageURL or create).
  static bool hasRecordedLocation();
  // Records `path` as the image's location (made absolute).
  static void setImageURL(const QString& path);
  // Where the image lies until another place is recorded, and what the
  // first-time setup proposes: "TLR 备份.sparsebundle" in the home folder.
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
