#pragma once

#include "backup/BackupVolume.h"
#include "backup/EngineMessage.h"

#include <QString>

#include <optional>

namespace tlr {

// Why an operation of an engine stopped (a backup, a restore, a migration
// export or import), as a typed value matched by its case, never by its
// wording. The engines share this one shape and differ only in their cases
// (`Cases`: an enumeration with at least `busy` and `passedOn`) and in what
// each case says, which the engine's own unit gives through three functions
// found for its cases:
//
//   QString describe(const EngineError<Cases>&);      the Chinese text the log
//                                                      lines and reports write
//   QString formOf(const EngineError<Cases>&);        the case and its value
//   EngineMessage shownAs(const EngineError<Cases>&); how a window shows it
//
// (BackupError.h, RestoreError.h, USBMigration.h).
template <class Cases>
struct EngineError {
  using Case = Cases;

  Case kind = Case::passedOn;
  QString payload;
  // How a window shows it where the failure knows better than its case (a
  // volume error passed on, a copy that met an image already there).
  std::optional<EngineMessage> passed;
  // A byte count the case names: the size of an oversize backup, the room a
  // restore needed when the disk filled up; and the room that was free then.
  std::optional<qint64> bytes;
  std::optional<qint64> freeBytes;
  // A volume error passed on: the image refused the password, or none was
  // given.
  bool passwordProblem = false;

  static EngineError of(Case kind, const QString& payload = {}) {
    EngineError error;
    error.kind = kind;
    error.payload = payload;
    return error;
  }
  // An error of the file system, a tool or the volume, passed on with its
  // own description.
  static EngineError passOn(const QString& description) { return of(Case::passedOn, description); }
  static EngineError passOn(const BackupVolumeError& error) {
    EngineError passed = passOn(error.localizedDescription());
    passed.passed = error.message();
    passed.passwordProblem = (error.kind == BackupVolumeError::Kind::mountFailed && error.wrongPassword) ||
                             error.kind == BackupVolumeError::Kind::passwordMissing;
    return passed;
  }
  // Another backup, restore, export or import uses the volume.
  static EngineError busy() { return of(Case::busy); }
  bool isBusy() const { return kind == Case::busy; }

  QString description() const { return describe(*this); }
  // For log lines: the case and its value ("sha256Mismatch", "scanFailed(\"…\")").
  QString textualForm() const { return formOf(*this); }
  EngineMessage message() const { return passed ? *passed : shownAs(*this); }

  friend bool operator==(const EngineError&, const EngineError&) = default;
};

// "<name>(\"<payload>\")", or the name alone without a payload.
inline QString namedCase(const char* name, const QString& payload) {
  return payload.isEmpty() ? QString::fromLatin1(name)
                           : QString::fromLatin1(name) + QStringLiteral("(\"") + payload + QStringLiteral("\")");
}

}  // namespace tlr
