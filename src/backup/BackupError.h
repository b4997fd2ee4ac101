#pragma once

#include "backup/EngineMessage.h"

#include <QString>

#include <optional>

namespace tlr {

struct BackupVolumeError;

// Why a backup stopped. The descriptions exist in Chinese only; message()
// gives a window's text in either language.
struct BackupError {
  enum class Case {
    scanFailed,
    packFailed,
    writeFailed,
    oversize,
    noAgentsInstalled,
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
  // scanFailed "已有备份正在进行中": the volume is in use by another backup,
  // restore, export or import, in this process or another. Its description
  // is that text alone: nothing failed to scan.
  static BackupError busy();
  bool isBusy() const;

  QString description() const;
  // The case name and its payload, for the "[Backup] FAILED: " line.
  QString textualForm() const;
  EngineMessage message() const;

  friend bool operator==(const BackupError&, const BackupError&) = default;
};

}  // namespace tlr
