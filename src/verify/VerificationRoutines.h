#pragma once

#include "verify/VerificationMode.h"

#include <functional>

namespace tlr {

// How a selected mode runs: its routine, and whether it belongs on the main
// thread (synchronous routines) or on a worker (routines that wait on
// processes while the main thread keeps its event loop turning).
struct VerificationRoutine {
  bool onMainThread = true;
  std::function<VerificationResult()> run;
};

// The routine of each mode in this build. Modes whose engine this build
// lacks report so and fail: no mode reports a success it did not check.
VerificationRoutine verificationRoutine(const SelectedMode& selected);

}  // namespace tlr
