#pragma once

#include "registry/RegistryLoader.h"
#include "verify/VerificationMode.h"

namespace tlr {

// The "TLR_CONTRACT_TEST" mode: checks that the shipped registry holds what
// the rest of the application relies on — it decodes; the visible ids are
// unique and usable in file names; every supervised agent can be recognised;
// and every relaunch, install, uninstall, restart and doctor specification
// carries what the code that runs it reads. One report line per check
// ("✓ " or "✗ " and the check, a failure with its reason); success only when
// every check passed.
class ContractTest final {
 public:
  // The shipped registry. Synchronous; main thread.
  static VerificationResult runAll();
  // A registry as loaded.
  static VerificationResult run(const RegistryLoader::Result& loaded);
};

}  // namespace tlr
