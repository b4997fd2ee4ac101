#include "verify/VerificationRoutines.h"

#include "verify/ContractTest.h"
#include "verify/RestartDryRun.h"

namespace tlr {

VerificationRoutine verificationRoutine(const SelectedMode& selected) {
  switch (selected.mode) {
    case VerificationMode::contractTest:
      return {true, [] { return ContractTest::runAll(); }};
    case VerificationMode::restartDryRun:
      return {false, [id = selected.argument] { return RestartDryRun::run(id); }};
    case VerificationMode::selfTest:
    case VerificationMode::e2e:
    case VerificationMode::restoreVerify:
    case VerificationMode::backupRegistry:
    case VerificationMode::backup:
      break;
  }
  return {true, [mode = selected.mode] { return unavailableModeResult(mode); }};
}

}  // namespace tlr
