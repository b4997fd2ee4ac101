#pragma once

#include <QString>

namespace tlr {

// Why a backup stopped. The descriptions exist in Chinese only.
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

  static BackupError of(Case kind, const QString& payload = {}) { return {kind, payload, 0}; }
  static BackupError passOn(const QString& description) { return {Case::passedOn, description, 0}; }
  static BackupError oversizeOf(qint64 bytes) { return {Case::oversize, {}, bytes}; }

  QString description() const;
  // The case name and its payload, for the "[Backup] FAILED: " line.
  QString textualForm() const;

  friend bool operator==(const BackupError&, const BackupError&) = default;
};

}  // namespace tlr
