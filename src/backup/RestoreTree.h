#pragma once

#include "backup/RestoreError.h"

#include <QString>

#include <optional>

namespace tlr {

// The steps of a restore that look at and move the unpacked snapshot: the
// safety check of the whole unpacked tree and the merge of one backed-up
// root into its place. Stateless; any thread.
class RestoreTree {
 public:
  // Checks everything below `root` before anything is put back: a symbolic
  // link, a device, FIFO or socket, or a path with "/.." refuses the restore
  // (`pathTraversal`). Nothing is changed.
  static std::optional<RestoreError> validate(const QString& root);

  // Puts one backed-up root back at `target`. A folder is merged file by
  // file: each of its regular files replaces the file at the same relative
  // path with the permission bits and modification time it has in `source`,
  // files only in the target stay; a folder missing at the target is made
  // with the permission bits it has in `source`, an existing one keeps its
  // own. A
  // single file replaces the file at `target`; a folder standing there is
  // `copyFailed`. Every file is written under a temporary name beside its
  // place and renamed over it, so an interrupted restore leaves either the
  // old or the new file, never neither. With `consume`, files may be moved
  // out of `source` rather than copied (it is not read again). Set-id and
  // sticky bits never reach the target.
  static std::optional<RestoreError> restore(const QString& source, const QString& target, bool consume);
};

}  // namespace tlr
