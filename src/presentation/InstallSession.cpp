#include "presentation/InstallSession.h"

#include "core/installers/DependencyGuides.h"
#include "core/stores/SettingsStore.h"
#include "platform/OffMain.h"


#include <algorithm>

namespace tlr {
namespace {

QString text(const LocKey& key) { return SettingsStore::shared().text(key); }

}  // namespace

InstallSession::InstallSession(AgentEntry entry, QObject* parent, AgentInstaller installer)
    : QObject(parent), entry_(std::move(entry)), installer_(installer) {}

qsizetype InstallSession::failureCount() const {
  return std::count_if(allResults_.cbegin(), allResults_.cend(), [](const StepResult& r) { return !r.success; });
}

std::optional<QString> InstallSession::howToOpenExecutable() const {
  if (phase_ != Phase::done || failureCount() > 0) return std::nullopt;
  const auto& names = entry_.identify.executableNames;
  if (!names || names->isEmpty()) return std::nullopt;
  return names->first();
}

CommandList InstallSession::recipeCommands() const {
  return entry_.install ? entry_.install->commands.value_or(CommandList()) : CommandList();
}

QList<InstallSession::Requirement> InstallSession::recipeRequirements() const {
  return entry_.install ? entry_.install->requirements.value_or(QList<Requirement>()) : QList<Requirement>();
}

void InstallSession::start() { runCheck(); }

void InstallSession::recheck() {
  phase_ = Phase::checking;
  Q_EMIT changed();
  runCheck();
}

void InstallSession::runCheck() {
  // The lookups touch the file system; the answer comes back on the main
  // thread, and not at all once the session is gone.
  // So is the user's shell, whose start file the how-to-open text names.
  startOffMain(
      this,
      [requirements = recipeRequirements(), installer = installer_] {
        return Check{AgentInstaller::missingRequirements(requirements), installer.shellStartFile()};
      },
      [this](const Check& check) {
        shellStartFile_ = check.shellStartFile;
        continueAfterCheck(check.missing);
      });
}

void InstallSession::continueAfterCheck(const QList<Requirement>& missing) {
  if (!missing.isEmpty()) {
    missingReqs_ = missing;
    phase_ = Phase::missing;
    Q_EMIT changed();
    return;
  }
  if (entry_.install && entry_.install->useTerminal.value_or(false)) {
    startTerminalInstall();
    return;
  }
  phase_ = Phase::running;
  startInstall();
}

void InstallSession::startInstall() {
  executingSteps_.clear();
  Q_EMIT changed();
  installer_.executeCommands(
      this, entry_.localizedDisplayName(), recipeCommands(),
      [this](const StepResult& step) {
        executingSteps_.append(step);
        Q_EMIT changed();
      },
      [this](const QList<StepResult>& steps) {
        allResults_ = steps;
        phase_ = Phase::done;
        Q_EMIT changed();
      });
}

void InstallSession::startTerminalInstall() {
  phase_ = Phase::running;
  executingSteps_.clear();
  Q_EMIT changed();
  // The window's line names this user's program folders, which are looked
  // up off the window thread.
  startOffMain(
      this, [installer = installer_, commands = recipeCommands()] { return installer.openInTerminal(commands); },
      [this](bool ok) {
        const StepResult step = ok ? StepResult::make(LocKey::installSheetTerminalOpened(), true)
                                   : StepResult::make(LocKey::installSheetTerminalFailed(), false,
                                                      LocKey::installOsascriptFailed());
        executingSteps_ = {step};
        allResults_ = {step};
        phase_ = Phase::done;
        Q_EMIT changed();
      });
}

void InstallSession::bootstrapAndRetry(const Requirement& requirement) {
  const std::optional<CommandList> commands = DependencyGuides::bootstrapFor(requirement.command);
  if (!commands) return;
  phase_ = Phase::running;
  executingSteps_ = {StepResult::make(LocKey::installBootstrapLabel(requirement.command), true)};
  Q_EMIT changed();
  installer_.executeCommands(
      this, text(LocKey::installBootstrapAgentName(requirement.command)), *commands,
      [this](const StepResult& step) {
        executingSteps_.append(step);
        Q_EMIT changed();
      },
      [this](const QList<StepResult>&) { runCheck(); });
}

void InstallSession::runDependencyInTerminal(const CommandList& commands) {
  startOffMain(this, [installer = installer_,
                      filled = DependencyGuides::fillEchoPlaceholders(commands, SettingsStore::shared().language())] {
    static_cast<void>(installer.openInTerminal(filled));
  });
}

}  // namespace tlr
