#pragma once

#include "backup/EngineMessage.h"

#include <QString>

#include <optional>

namespace tlr {

struct BackupVolumeError;

// Why a restore stopped, as a typed value matched by its case. The
// descriptions (log lines, reports) exist in Chinese only; message() gives
// the key of a window's text and the details apart.
struct RestoreError {
  enum class Case {
    unpackFailed,
    pathTraversal,
    unknownAgent,
    copyFailed,
    // Something stands where the restore would write (`payload` names it):
    // a link, which it never writes through; a folder where the backup
    // holds a file; a file where it holds a folder.
    linkInTheWay,
    folderInTheWay,
    fileInTheWay,
    // This user may not write where the restore would (`payload` lists the
    // places, each with the system's reason); nothing was changed.
    notWritable,
    agentNotInBackup,
    noBackupFound,
    manifestCorrupted,
    sha256Mismatch,
    // The volume is in use by a backup, restore, export or import, in this
    // process or another.
    busy,
    // The disk filled up while the restore wrote to it: `payload` names the
    // folder written into; `neededBytes` and `freeBytes` when known.
    diskFull,
    // An error of the file system, the volume or a process, passed on with
    // its own description (`payload`).
    passedOn,
  };

  Case kind = Case::passedOn;
  QString payload;
  // How a window shows a passed-on error that knows it (a volume error).
  std::optional<EngineMessage> passed;
  std::optional<qint64> neededBytes;
  std::optional<qint64> freeBytes;
  // The volume refused the password, or none was given.
  bool passwordProblem = false;

  static RestoreError of(Case kind, const QString& payload = {}) { return {kind, payload, {}, {}, {}, false}; }
  static RestoreError passOn(const QString& description) { return {Case::passedOn, description, {}, {}, {}, false}; }
  // The disk holding `folder` is full.
  static RestoreError diskFull(const QString& folder) { return of(Case::diskFull, folder); }
  static RestoreError passOn(const BackupVolumeError& error);

  QString description() const;
  // The case name and its payload, for log lines ("sha256Mismatch").
  QString textualForm() const;
  EngineMessage message() const;

  friend bool operator==(const RestoreError&, const RestoreError&) = default;
};

}  // namespace tlr
