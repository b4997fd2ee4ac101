#pragma once

#include "verify/VerificationMode.h"

namespace tlr {

// The backup self-tests. Each runs on a worker thread while the main thread
// turns its event loop (the engines live there), writes its report in the
// verification-report form and passes only when every step was checked and
// held. None waits for a dialog or leaves a fixture or staging folder behind.
class BackupSelfTest {
 public:
  // "TLR_SELFTEST": a fixture agent backed up, changed, restored and compared
  // byte for byte, then removed.
  static VerificationResult run();
  // "TLR_BACKUP": the catalog's known agents backed up.
  static VerificationResult runRealBackup();
  // "TLR_BACKUP_REGISTRY": the registry's visible agents backed up.
  static VerificationResult runRegistryBackup();

  // The id the self-test registers its fixture under.
  static constexpr const char* kFixtureAgentId = "__selftest_agent__";
};

// "TLR_E2E": the registry's agents backed up, the newest manifest read back
// and the archive checked against it, and a test password sealed and opened
// with the vault's steps while ".pwd.vault" is left as it was.
class E2ETest {
 public:
  static VerificationResult run();
};

// "TLR_RESTORE_VERIFY": the vault opened, the volume mounted, the newest
// snapshot's archive checked against its manifest; unmounted again when this
// run mounted it.
class RestoreVerify {
 public:
  static VerificationResult run();
};

}  // namespace tlr
