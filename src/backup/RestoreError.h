#pragma once

#include <QString>

namespace tlr {

// Why a restore stopped. The descriptions exist in Chinese only.
struct RestoreError {
  enum class Case {
    unpackFailed,
    pathTraversal,
    unknownAgent,
    copyFailed,
    agentNotInBackup,
    noBackupFound,
    manifestCorrupted,
    sha256Mismatch,
    // An error of the file system, the volume or a process, passed on with
    // its own description (`payload`).
    passedOn,
  };

  Case kind = Case::passedOn;
  QString payload;

  static RestoreError of(Case kind, const QString& payload = {}) { return {kind, payload}; }
  static RestoreError passOn(const QString& description) { return {Case::passedOn, description}; }

  QString description() const;
  // The case name and its payload, for log lines ("sha256Mismatch").
  QString textualForm() const;

  friend bool operator==(const RestoreError&, const RestoreError&) = default;
};

}  // namespace tlr
