#pragma once

#include "registry/RegistryLoader.h"
#include "verify/VerificationMode.h"

#include <functional>
#include <memory>
#include <optional>

namespace tlr {

// The "TLR_RESTART_DRYRUN" mode: finds one visible agent by id and reports
// what a restart of it would do, without signalling a process or running a
// command.
class RestartDryRun final {
 public:
  // The dry-run restart of one entry: the report of the restarter's
  // restart(entry, dryRun: true), or nothing when this build carries no
  // restarter. Called off the main thread; may block.
  using Restart =
      std::function<std::optional<QString>(const AgentEntry& entry, std::shared_ptr<const AgentRegistry> registry)>;

  // The restart of this build.
  static Restart defaultRestart();

  // Loads the shipped registry and runs with defaultRestart().
  static VerificationResult run(const QString& agentId);
  // Success once a restart report exists, whatever the restart would have
  // done; failure when the registry did not load, the id names no visible
  // entry, or there is no restarter.
  static VerificationResult run(const QString& agentId, const RegistryLoader::Result& loaded,
                                const Restart& restart);
};

}  // namespace tlr
