#include "backup/BackupCatalog.h"

#include "platform/Paths.h"

#include <QHash>

#include <mutex>

namespace tlr {
namespace {

struct DynamicRegistry {
  std::mutex mutex;
  QHash<QString, QStringList> folders;
};

DynamicRegistry& dynamicRegistry() {
  static DynamicRegistry registry;
  return registry;
}

std::optional<QStringList> registered(const QString& agentId) {
  DynamicRegistry& r = dynamicRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.folders.constFind(agentId);
  if (it == r.folders.constEnd()) return std::nullopt;
  return *it;
}

}  // namespace

QStringList BackupCatalog::codexUserAssets() {
  return {".codex/skills",      ".codex/memories",         ".codex/rules",    ".codex/ambient-suggestions",
          ".codex/automations", ".codex/archived_sessions", ".codex/AGENTS.md"};
}

QStringList BackupCatalog::claudeUserAssets() {
  return {".claude/tasks", ".claude/scheduled-tasks", ".claude/sessions"};
}

QStringList BackupCatalog::knownAgentIds() {
  return {"codex",           "codex-cli", "codex-desktop", "claude-code", "claude-code-cli", "claude-code-desktop",
          "openclaw",        "aider",     "windsurf",      "gemini-cli"};
}

QStringList BackupCatalog::dataPaths(const QString& agentId) {
  if (registered(agentId)) return {};
  if (agentId == "codex" || agentId == "codex-cli" || agentId == "codex-desktop") return codexUserAssets();
  if (agentId == "claude-code" || agentId == "claude-code-cli" || agentId == "claude-code-desktop") {
    return claudeUserAssets();
  }
  if (agentId == "openclaw") return {".openclaw"};
  if (agentId == "aider") return {".aider"};
  if (agentId == "windsurf") return {".windsurf"};
  if (agentId == "gemini-cli") return {".gemini"};
  return {};
}

QStringList BackupCatalog::dataDirectories(const QString& agentId) {
  if (const std::optional<QStringList> folders = registered(agentId)) return *folders;
  const QString home = Paths::home();
  QStringList out;
  for (const QString& relative : dataPaths(agentId)) out << home + '/' + relative;
  return out;
}

void BackupCatalog::registerAgent(const QString& agentId, const QStringList& directories) {
  DynamicRegistry& r = dynamicRegistry();
  std::lock_guard lock(r.mutex);
  r.folders.insert(agentId, directories);
}

}  // namespace tlr
