#include "presentation/UninstallSession.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/texts/ByteSizeText.h"
#include "platform/OffMain.h"
#include "watcher/AgentRecover.h"


namespace tlr {

UninstallSession::RunningAgent UninstallSession::systemRunningAgent() {
  return {[](const AgentEntry& entry) { return AgentRecover::processesWithHelpers(entry); },
          [](const AgentEntry& entry) {
            const AgentRecover::Result stopped = AgentRecover().stopWithHelpers(entry);
            const LocKey label = LocKey::uninstallStepStop(entry.localizedDisplayName());
            if (stopped.kind != AgentRecover::Result::Kind::failed) return StepResult::make(label, true);
            return StepResult::make(label, false, stopped.why.value_or(LocKey::installStepAsIs(stopped.reason)));
          }};
}

UninstallSession::UninstallSession(AgentEntry entry, QObject* parent, AgentUninstaller uninstaller,
                                   RunningAgent running)
    : QObject(parent), entry_(std::move(entry)), uninstaller_(uninstaller), runningAgent_(std::move(running)) {
  uninstaller_.setAgentId(entry_.id);
  if (entry_.uninstall) {
    commands_ = entry_.uninstall->preCommands.value_or(CommandList());
    standardPaths_ = entry_.uninstall->paths.value_or(QStringList());
    userDataPaths_ = entry_.uninstall->userDataPaths.value_or(QStringList());
  }
}

bool UninstallSession::isEmpty() const {
  return commands_.isEmpty() && standardPaths_.isEmpty() && userDataPaths_.isEmpty();
}

void UninstallSession::begin() {
  checkedPaths_ = QSet<QString>(standardPaths_.cbegin(), standardPaths_.cend());
  checkedUserDataPaths_.clear();
  Q_EMIT changed();
  // Which paths are refused is known long before folders are measured: it
  // comes first, so no refused path stays ticked while sizes are awaited,
  // and only the others are measured then.
  startOffMain(
      this,
      [paths = standardPaths_ + userDataPaths_] {
        QHash<QString, AgentUninstaller::Refusal> refused;
        for (const QString& path : paths)
          if (const auto why = AgentUninstaller::refusal(path)) refused.insert(path, *why);
        return refused;
      },
      [this](const QHash<QString, AgentUninstaller::Refusal>& refused) {
        refusals_ = refused;
        judged_ = true;
        // Before the click only: what was handed over is the uninstaller's.
        if (phase_ == Phase::preview) {
          for (auto it = refused.cbegin(); it != refused.cend(); ++it) {
            checkedPaths_.remove(it.key());
            checkedUserDataPaths_.remove(it.key());
          }
        }
        Q_EMIT changed();
        measure();
      });
  if (!runningAgent_.find) return;
  startOffMain(
      this, [find = runningAgent_.find, entry = entry_] { return find(entry); },
      [this](const QList<pid_t>& pids) {
        if (phase_ != Phase::preview || pids == running_) return;
        running_ = pids;
        Q_EMIT changed();
      });
}

void UninstallSession::measure() {
  QStringList paths;
  for (const QString& path : standardPaths_ + userDataPaths_)
    if (!refusals_.contains(path) && !paths.contains(path)) paths << path;
  // Folders are walked whole, which can take long: the sizes come back all at
  // once on the main thread, and not at all once the session is gone.
  startOffMain(
      this,
      [paths] {
        QHash<QString, std::optional<quint64>> sizes;
        for (const QString& path : paths) sizes.insert(path, AgentUninstaller::sizeOnDisk(path));
        return sizes;
      },
      [this](const QHash<QString, std::optional<quint64>>& sizes) {
        pathSizes_ = sizes;
        measured_ = true;
        Q_EMIT changed();
      });
}

QString UninstallSession::runningNotice(AppLanguage language) const {
  if (running_.isEmpty()) return {};
  return LocTexts::text(language, LocKey::uninstallSheetAgentRunning(entry_.localizedDisplayName(), running_.size()));
}

std::optional<AgentUninstaller::Refusal> UninstallSession::refusal(const QString& path) const {
  const auto it = refusals_.constFind(path);
  if (it == refusals_.cend()) return std::nullopt;
  return *it;
}

QString UninstallSession::refusalText(AppLanguage language, const QString& path) const {
  const auto why = refusal(path);
  return why ? LocTexts::text(language, AgentUninstaller::refusalKey(*why)) : QString();
}

UninstallSession::PathState UninstallSession::state(const QString& path) const {
  if (refusals_.contains(path)) return PathState::refused;
  const auto it = pathSizes_.constFind(path);
  if (it == pathSizes_.cend()) return PathState::unmeasured;
  return it->has_value() ? PathState::present : PathState::missing;
}

std::optional<quint64> UninstallSession::size(const QString& path) const { return pathSizes_.value(path); }

bool UninstallSession::isChecked(Group group, const QString& path) const { return checkedSet(group).contains(path); }

void UninstallSession::setChecked(Group group, const QString& path, bool checked) {
  if (phase_ != Phase::preview || !canToggle(path) || isChecked(group, path) == checked) return;
  QSet<QString>& set = checkedSet(group);
  if (checked)
    set.insert(path);
  else
    set.remove(path);
  Q_EMIT choiceChanged();
}

bool UninstallSession::canUninstall() const {
  return !running_.isEmpty() || !checkedPaths_.isEmpty() || !checkedUserDataPaths_.isEmpty() || !commands_.isEmpty();
}

quint64 UninstallSession::checkedTotal() const {
  quint64 total = 0;
  for (const QString& path : checkedPaths_ | checkedUserDataPaths_) {
    if (!refusals_.contains(path)) total += pathSizes_.value(path).value_or(0);
  }
  return total;
}

QStringList UninstallSession::pathsToRemove() const {
  QStringList paths;
  for (const QString& path : standardPaths_) {
    if (checkedPaths_.contains(path) && !paths.contains(path) && !refusals_.contains(path)) paths.append(path);
  }
  for (const QString& path : userDataPaths_) {
    if (checkedUserDataPaths_.contains(path) && !paths.contains(path) && !refusals_.contains(path)) paths.append(path);
  }
  return paths;
}

void UninstallSession::start() {
  if (phase_ != Phase::preview) return;
  const QStringList paths = pathsToRemove();
  // What stays because it is refused is said at the end, as the preview
  // judged it: never judged again, never removed.
  refusedRows_.clear();
  QSet<QString> said;
  for (const QString& path : standardPaths_ + userDataPaths_) {
    const auto why = refusal(path);
    if (!why || said.contains(path)) continue;
    said.insert(path);
    refusedRows_.append(AgentUninstaller::refusedStep(path, *why));
  }
  phase_ = Phase::executing;
  executingSteps_.clear();
  Q_EMIT changed();
  // The user was told that it runs, and chose to go on: it goes first.
  if (!running_.isEmpty() && runningAgent_.stop)
    uninstaller_.setStopFirst([stop = runningAgent_.stop, entry = entry_] { return stop(entry); });
  uninstaller_.execute(
      this, entry_.localizedDisplayName(), commands_, paths,
      [this](const StepResult& step) {
        executingSteps_.append(step);
        Q_EMIT changed();
      },
      [this](const QList<StepResult>& steps) {
        allResults_ = steps + refusedRows_;
        phase_ = Phase::done;
        Q_EMIT changed();
      });
}

QList<StepResult> UninstallSession::failedSteps() const {
  QList<StepResult> failed;
  for (const StepResult& step : allResults_) {
    if (!step.success) failed.append(step);
  }
  return failed;
}

QString UninstallSession::buttonLabel(AppLanguage language) const {
  if (!running_.isEmpty()) return LocTexts::text(language, LocKey::uninstallSheetStopAndUninstall());
  const quint64 total = checkedTotal();
  if (total == 0) return LocTexts::text(language, LocKey::uninstallSheetButton());
  return LocTexts::text(language, LocKey::uninstallSheetButtonSize(decimalByteCount(total)));
}

QString UninstallSession::summary(AppLanguage language) const {
  const qsizetype failures = failedSteps().size();
  if (failures == 0) return LocTexts::text(language, LocKey::uninstallSheetSuccess());
  return LocTexts::text(language, LocKey::uninstallSheetWithFailures(failures));
}

QString UninstallSession::failureBody(AppLanguage language) const {
  return LocTexts::text(language, LocKey::uninstallWarnBody(failedSteps().size()));
}

QList<UninstallSession::FailureLine> UninstallSession::failureLines(AppLanguage language) const {
  const QList<StepResult> failed = failedSteps();
  QList<FailureLine> lines;
  for (qsizetype i = 0; i < failed.size() && i < kListedFailures; ++i) {
    lines.append({"• " + LocTexts::text(language, failed[i].label),
                  failed[i].error ? LocTexts::text(language, *failed[i].error) : QString()});
  }
  return lines;
}

QString UninstallSession::moreFailures(AppLanguage language) const {
  const qsizetype failed = failedSteps().size();
  if (failed <= kListedFailures) return {};
  return LocTexts::text(language, LocKey::uninstallWarnMore(failed - kListedFailures));
}

QStringList UninstallSession::byHandLines(AppLanguage language) const {
  QStringList paths;
  for (const StepResult& step : failedSteps()) {
    if (step.removableByHand) paths << "• " + *step.removableByHand;
  }
  if (paths.size() <= kListedFailures) return paths;
  const qsizetype more = paths.size() - kListedFailures;
  paths.resize(kListedFailures);
  return paths << LocTexts::text(language, LocKey::uninstallWarnMore(more));
}

QString UninstallSession::byHandNote(AppLanguage language) const {
  for (const StepResult& step : failedSteps()) {
    if (step.removableByHand) return LocTexts::text(language, LocKey::uninstallWarnByHand());
  }
  return {};
}

}  // namespace tlr
