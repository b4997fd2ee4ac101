#include "verify/VerificationRoutines.h"

#include "verify/BackupModes.h"
#include "verify/ContractTest.h"
#include "verify/RestartDryRun.h"

namespace tlr {

VerificationRoutine verificationRoutine(const SelectedMode& selected) {
  switch (selected.mode) {
    case VerificationMode::contractTest:
      return {true, [] { return ContractTest::runAll(); }};
    case VerificationMode::restartDryRun:
      return {false, [id = selected.argument] { return RestartDryRun::run(id); }};
    // The backup modes wait on the engines, which live on the main thread.
    case VerificationMode::selfTest:
      return {false, [] { return BackupSelfTest::run(); }};
    case VerificationMode::e2e:
      return {false, [] { return E2ETest::run(); }};
    case VerificationMode::restoreVerify:
      return {false, [] { return RestoreVerify::run(); }};
    case VerificationMode::backupRegistry:
      return {false, [] { return BackupSelfTest::runRegistryBackup(); }};
    case VerificationMode::backup:
      return {false, [] { return BackupSelfTest::runRealBackup(); }};
  }
  return {true, [mode = selected.mode] { return unavailableModeResult(mode); }};
}

}  // namespace tlr
