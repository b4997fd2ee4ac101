#pragma once

#include "backup/EngineError.h"

namespace tlr {

// The cases of a backup's failure. The descriptions (log lines, reports)
// exist in Chinese only; a window shows each through its text key.
enum class BackupErrorCase {
  scanFailed,
  packFailed,
  writeFailed,
  oversize,  // `bytes`: the backup's size
  noAgentsInstalled,
  // The volume is in use by another backup, restore, export or import, in
  // this process or another: described as scanFailed "已有备份正在进行中"
  // (that text alone: nothing failed to scan).
  busy,
  // No agent yielded anything to store: scanFailed "所有 Agent 都没有可备份的内容".
  nothingToBackUp,
  // No image is set up: writeFailed "加密备份卷未初始化。…".
  notSetUp,
  // An error of the file system, the volume or a process, passed on with
  // its own description (`payload`).
  passedOn,
};

// Why a backup stopped.
using BackupError = EngineError<BackupErrorCase>;

QString describe(const BackupError& error);
// The case name and its payload, for the "[Backup] FAILED: " line.
QString formOf(const BackupError& error);
EngineMessage shownAs(const BackupError& error);

}  // namespace tlr
