#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <optional>

// The headless verification modes that an environment variable selects in
// place of the application.
namespace tlr {

// What a verification routine hands back: whether everything it checked
// held, and its report (several lines, no final newline).
struct [[nodiscard]] VerificationResult {
  bool success = false;
  QString report;
};

enum class VerificationMode {
  selfTest,        // "TLR_SELFTEST"
  contractTest,    // "TLR_CONTRACT_TEST"
  e2e,             // "TLR_E2E"
  restoreVerify,   // "TLR_RESTORE_VERIFY"
  restartDryRun,   // "TLR_RESTART_DRYRUN" (an agent id)
  backupRegistry,  // "TLR_BACKUP_REGISTRY"
  backup,          // "TLR_BACKUP"
};

struct SelectedMode {
  VerificationMode mode;
  // The agent id of the restart dry run; empty for the other modes.
  QString argument;
};

// The variable of each mode.
QString environmentVariable(VerificationMode mode);

// Tests the seven variables in their fixed order; the first that selects
// its mode wins. The report modes take exactly "1"; the dry run any
// non-empty id. Nothing selected means the normal application.
std::optional<SelectedMode> selectVerificationMode(const QProcessEnvironment& environment);

// The result of a mode that this build does not carry.
VerificationResult unavailableModeResult(VerificationMode mode);

}  // namespace tlr
