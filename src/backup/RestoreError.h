#pragma once

#include "backup/EngineError.h"

namespace tlr {

// The cases of a restore's failure. The descriptions (log lines, reports)
// exist in Chinese only; a window shows each through its text key.
enum class RestoreErrorCase {
  unpackFailed,
  pathTraversal,
  unknownAgent,
  copyFailed,
  // Something stands where the restore would write (`payload` names it): a
  // link, which it never writes through; a folder where the backup holds a
  // file; a file where it holds a folder.
  linkInTheWay,
  folderInTheWay,
  fileInTheWay,
  // This user may not write where the restore would and cannot make it
  // writable (`payload` lists the places, each with the system's reason);
  // nothing was changed.
  notWritable,
  agentNotInBackup,
  noBackupFound,
  manifestCorrupted,
  sha256Mismatch,
  // The volume is in use by a backup, restore, export or import, in this
  // process or another.
  busy,
  // The disk filled up while the restore wrote to it: `payload` names the
  // folder written into; `bytes` (the room needed) and `freeBytes` when known.
  diskFull,
  // An error of the file system, the volume or a process, passed on with its
  // own description (`payload`).
  passedOn,
};

// Why a restore stopped.
using RestoreError = EngineError<RestoreErrorCase>;

QString describe(const RestoreError& error);
// The case name and its payload, for log lines ("sha256Mismatch").
QString formOf(const RestoreError& error);
EngineMessage shownAs(const RestoreError& error);

}  // namespace tlr
