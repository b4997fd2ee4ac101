#include "verify/RestartDryRun.h"

#include "watcher/AgentRecover.h"
#include "watcher/AgentRestarter.h"
#include "watcher/ProcessScanner.h"

namespace tlr {

RestartDryRun::Restart RestartDryRun::defaultRestart() {
  return [](const AgentEntry& entry, std::shared_ptr<const AgentRegistry> registry) -> std::optional<QString> {
    const AgentRestarter restarter(std::make_shared<const ProcessScanner>(std::move(registry)),
                                   std::make_shared<const AgentRecover>());
    return restarter.restart(entry, /*dryRun=*/true).report;
  };
}

VerificationResult RestartDryRun::run(const QString& agentId) {
  return run(agentId, RegistryLoader::load(), defaultRestart());
}

VerificationResult RestartDryRun::run(const QString& agentId, const RegistryLoader::Result& loaded,
                                      const Restart& restart) {
  const auto* registry = std::get_if<std::shared_ptr<const AgentRegistry>>(&loaded);
  if (!registry) return {false, QStringLiteral("registry 加载失败")};

  const std::optional<AgentEntry> entry = (*registry)->lookup(agentId);
  if (!entry) return {false, QStringLiteral("找不到 agent id=") + agentId};

  std::optional<QString> report = restart(*entry, *registry);
  if (!report)
    return {false, environmentVariable(VerificationMode::restartDryRun) +
                       QStringLiteral(": the restarter is not available in this build")};
  return {true, std::move(*report)};
}

}  // namespace tlr
