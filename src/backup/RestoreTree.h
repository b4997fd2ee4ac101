#pragma once

#include "backup/RestoreError.h"
#include "platform/Expected.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// The steps of a restore that look at and move the unpacked snapshot: the
// safety check of the whole unpacked tree, the check of the places it goes
// to, and the merge of one backed-up root into its place. Names below a
// root are carried byte for byte; everything below a folder is reached
// through the folder opened once, never through a link. Stateless; any
// thread.
class RestoreTree {
 public:
  // Checks everything below the folder open as `folderFd` (`shown` names it
  // in texts) before anything is put back: a symbolic link, a device, FIFO
  // or socket, or a ".." component (PathNames) refuses the restore
  // (`pathTraversal`). On the way it readies the tree for being put in
  // place, changing nothing outside it: set-id and sticky bits are cleared,
  // a folder its owner could not enter or change is opened to them (so
  // nothing below escapes the check). `movable` (when given) tells whether
  // folders of the tree may be moved into place as they are: no folder had
  // to be opened.
  static Expected<void, RestoreError> validate(int folderFd, const QString& shown, bool* movable = nullptr);
  static Expected<void, RestoreError> validate(const QString& root, bool* movable = nullptr);

  // Whether putting the backed-up root `source` (below the folder open as
  // `baseFd`; AT_FDCWD: a path) at `target` can go ahead, before anything is
  // written: a restore never writes through a symbolic link it finds below
  // the target (a folder of the agent's replaced by a link to one elsewhere),
  // nor puts a file where a folder stands or a folder where a file stands
  // (copyFailed naming the path), nor starts where it may not write: every
  // folder it would write into that this user may not write is named
  // (notWritableError), or added to `unwritable` when given. Changes
  // nothing.
  static Expected<void, RestoreError> check(int baseFd, const QString& source, const QString& target,
                                            QStringList* unwritable = nullptr);
  // The restore refused because it may not write into `places` ("<folder>:
  // <reason>"), before it changed anything.
  static RestoreError notWritableError(const QStringList& places);

  // Puts the backed-up root `source` (below the folder open as `baseFd`;
  // AT_FDCWD: a path) back at `target`. A folder is merged file by file: each
  // of its regular files replaces the file at the same relative path with
  // the permission bits, modification time and holes it has in `source`,
  // files only in the target stay; a folder missing at the target, empty
  // ones too, is made with the permission bits (`folderModes`, when given,
  // holds the recorded ones of folders whose bits in `source` were opened to
  // their owner, by inode number) and the modification time it has in
  // `source`, an existing one keeps its own. A single file replaces the file
  // at `target`. Every file is written under a temporary name beside its
  // place and renamed over it, so an interrupted restore leaves either the
  // old or the new file, never neither. With `consume`, files may be moved
  // out of `source` rather than copied (it is not read again), and with
  // `wholeFolders` too, a folder whose place is free is moved there in one
  // rename, as it stands (the caller checked it with validate(), which found
  // it movable). Set-id and sticky bits never reach the target. A target
  // that is itself a link to a folder is merged into (the user's own
  // arrangement); a link found below it stops the restore (copyFailed naming
  // it), and a full disk is `diskFull` naming the folder written into.
  static Expected<void, RestoreError> restore(int baseFd, const QString& source, const QString& target, bool consume,
                                              bool wholeFolders = false,
                                              const QHash<quint64, unsigned>* folderModes = nullptr);
  static Expected<void, RestoreError> restore(const QString& source, const QString& target, bool consume,
                                              bool wholeFolders = false);
};

}  // namespace tlr
