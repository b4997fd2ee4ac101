#pragma once

#include "backup/EngineMessage.h"

#include <QString>

#include <optional>

namespace tlr {

struct BackupVolumeError;

// Why a backup stopped, as a typed value matched by its case. The
// descriptions (log lines, reports) exist in Chinese only; message() gives
// the key of a window's text and the details apart.
struct BackupError {
  enum class Case {
    scanFailed,
    packFailed,
    writeFailed,
    oversize,
    noAgentsInstalled,
    // The volume is in use by another backup, restore, export or import, in
    // this process or another: described as scanFailed "已有备份正在进行中"
    // (that text alone: nothing failed to scan).
    busy,
    // No agent yielded a file: scanFailed "所有 Agent 都没有可备份的内容".
    nothingToBackUp,
    // No image is set up: writeFailed "加密备份卷未初始化。…".
    notSetUp,
    // An error of the file system, the volume or a process, passed on with
    // its own description (`payload`).
    passedOn,
  };

  Case kind = Case::passedOn;
  QString payload;
  qint64 bytes = 0;  // the byte count of `oversize`
  // How a window shows a passed-on error that knows it (a volume error).
  std::optional<EngineMessage> passed;

  static BackupError of(Case kind, const QString& payload = {}) { return {kind, payload, 0, {}}; }
  static BackupError passOn(const QString& description) { return {Case::passedOn, description, 0, {}}; }
  static BackupError passOn(const BackupVolumeError& error);
  static BackupError oversizeOf(qint64 bytes) { return {Case::oversize, {}, bytes, {}}; }
  static BackupError busy() { return of(Case::busy); }
  bool isBusy() const { return kind == Case::busy; }

  QString description() const;
  // The case name and its payload, for the "[Backup] FAILED: " line.
  QString textualForm() const;
  EngineMessage message() const;

  friend bool operator==(const BackupError&, const BackupError&) = default;
};

}  // namespace tlr
