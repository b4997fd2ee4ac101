#pragma once

#include "core/installers/AgentUninstaller.h"
#include "core/installers/StepResult.h"
#include "core/texts/SettingsValues.h"
#include "registry/AgentEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace tlr {

// One uninstall of one agent by its registry recipe, as the uninstall sheet
// shows it: a preview of the recipe's commands, standard paths and
// user-data paths with their measured sizes and the user's choice, then the
// steps as the uninstaller reports them, then the outcome.
//
// Paths stay as the registry writes them ("~/x" allowed) in the choice, the
// sizes and what is handed to the uninstaller; only what is shown is
// expanded. Lives on the main thread; every change is announced through
// `changed`. Work already started runs to its end when the session is
// destroyed; its late results are dropped.
class UninstallSession : public QObject {
  Q_OBJECT

 public:
  enum class Phase { preview, executing, done };
  enum class Group { standard, userData };
  // present: something is there (an empty file or folder too); missing:
  // nothing is there; unmeasured: the measurement has not finished;
  // refused: the uninstaller never removes it (nor measures it), and says
  // why.
  enum class PathState { present, missing, unmeasured, refused };

  // How the session finds the agent running and stops it; both run off the
  // main thread.
  struct RunningAgent {
    // Every running process of the agent, its helpers too.
    std::function<QList<pid_t>(const AgentEntry&)> find;
    // Stops them all: the uninstall's first row.
    std::function<StepResult(const AgentEntry&)> stop;
  };
  // Over AgentRecover: the processes with their helpers, stopped as Stop does.
  static RunningAgent systemRunningAgent();

  explicit UninstallSession(AgentEntry entry, QObject* parent = nullptr,
                            AgentUninstaller uninstaller = AgentUninstaller(),
                            RunningAgent running = systemRunningAgent());

  const AgentEntry& entry() const { return entry_; }
  const CommandList& commands() const { return commands_; }
  const QStringList& standardPaths() const { return standardPaths_; }
  const QStringList& userDataPaths() const { return userDataPaths_; }
  // The recipe lists nothing at all.
  bool isEmpty() const;

  // When the sheet is shown: every standard path checked, no user-data path,
  // and all listed paths judged, then measured, off the main thread. Which
  // paths are refused arrives first, in one change (they are unchecked
  // then); the sizes of the others arrive together in another; whether the
  // agent runs in a third.
  void begin();
  bool isJudged() const { return judged_; }
  // The sizes have arrived (so the refusals too).
  bool isMeasured() const { return measured_; }
  // Why a listed path is refused, once judged; nothing for one that may go.
  std::optional<AgentUninstaller::Refusal> refusal(const QString& path) const;
  // Its reason in words; empty for a path that is not refused.
  QString refusalText(AppLanguage language, const QString& path) const;

  // The agent's processes (its helpers too) that ran when the sheet was
  // shown. While any ran, the sheet says so, its button reads "Stop and
  // Uninstall", and the uninstall first stops them, before anything is run
  // or removed.
  const QList<pid_t>& runningProcesses() const { return running_; }
  // The sheet's words for it; empty when nothing runs.
  QString runningNotice(AppLanguage language) const;

  PathState state(const QString& path) const;
  // The bytes of a present path; nothing for any other.
  std::optional<quint64> size(const QString& path) const;
  bool isChecked(Group group, const QString& path) const;
  // Only a present path's box can change, and only in the preview.
  bool canToggle(const QString& path) const { return state(path) == PathState::present; }
  // Checks or unchecks a path of a group; announced through choiceChanged.
  // Refused (nothing changes) for a path that cannot change.
  void setChecked(Group group, const QString& path, bool checked);

  // A path is checked or the recipe has a command (even an empty one).
  bool canUninstall() const;
  // Bytes of every checked path, a path checked in both groups once.
  quint64 checkedTotal() const;
  // The checked paths, each once: standard ones in recipe order, then
  // user-data ones. Never a refused one.
  QStringList pathsToRemove() const;

  // Hands the commands and the checked paths to the uninstaller. Only from
  // the preview: a second call does nothing. The refused paths are not
  // handed over: their rows, with their reasons, follow the uninstaller's
  // at the end.
  void start();

  Phase phase() const { return phase_; }
  const QList<StepResult>& executingSteps() const { return executingSteps_; }
  const QList<StepResult>& allResults() const { return allResults_; }
  QList<StepResult> failedSteps() const;

  // The Uninstall button's text: with the checked total when it is above 0.
  QString buttonLabel(AppLanguage language) const;
  // The outcome line of the done phase.
  QString summary(AppLanguage language) const;
  // The failure box: its body, the first `kListedFailures` failed steps
  // each with its own reason, "…and <m> more" when more failed (empty
  // otherwise), and only when some of them are paths the system would not
  // let go (permissions, a file in use) a note that the user may remove
  // those by hand, with their paths.
  struct FailureLine {
    QString label;   // "• " and the step's label
    QString reason;  // its reason; empty when it has none
  };
  QString failureBody(AppLanguage language) const;
  QList<FailureLine> failureLines(AppLanguage language) const;
  QString moreFailures(AppLanguage language) const;
  QString byHandNote(AppLanguage language) const;
  // "• " and each such path, the first `kListedFailures` then "…and <m> more".
  QStringList byHandLines(AppLanguage language) const;
  static constexpr qsizetype kListedFailures = 5;

 Q_SIGNALS:
  // The phase, the sizes or the steps changed.
  void changed();
  // Only the choice (which paths are checked) changed.
  void choiceChanged();

 private:
  // Measures the paths that are not refused, off the main thread.
  void measure();
  QSet<QString>& checkedSet(Group group) { return group == Group::standard ? checkedPaths_ : checkedUserDataPaths_; }
  const QSet<QString>& checkedSet(Group group) const {
    return group == Group::standard ? checkedPaths_ : checkedUserDataPaths_;
  }

  AgentEntry entry_;
  AgentUninstaller uninstaller_;
  RunningAgent runningAgent_;
  QList<pid_t> running_;
  CommandList commands_;
  QStringList standardPaths_;
  QStringList userDataPaths_;
  Phase phase_ = Phase::preview;
  QSet<QString> checkedPaths_;
  QSet<QString> checkedUserDataPaths_;
  QHash<QString, std::optional<quint64>> pathSizes_;  // measured paths; nothing: missing
  QHash<QString, AgentUninstaller::Refusal> refusals_;
  bool judged_ = false;
  bool measured_ = false;
  QList<StepResult> refusedRows_;  // rows of the refused paths not handed over
  QList<StepResult> executingSteps_;
  QList<StepResult> allResults_;
};

}  // namespace tlr
