#pragma once

#include "core/installers/RecipeCommands.h"
#include "core/installers/StepResult.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace tlr {

// Removes an agent by its uninstall recipe: runs the pre-commands, then
// removes the chosen files and folders one step at a time, reporting every
// step as a row. Holds nothing but its command time-out; one object may serve
// several runs, also at once.
class AgentUninstaller {
 public:
  using StepResult = tlr::StepResult;
  using CommandResult = recipe::CommandResult;

  explicit AgentUninstaller(std::chrono::milliseconds commandTimeout = recipe::kCommandTimeout)
      : commandTimeout_(commandTimeout) {}

  // The agent the runs remove. Its commands still running (an automatic
  // doctor, a fix) are ended before the first step, and while a run goes on
  // the agent counts as being uninstalled (OwnCommands), so nothing brings
  // it back.
  void setAgentId(QString agentId) { agentId_ = std::move(agentId); }
  // A first step of every run, after our own commands of the agent have
  // ended and before any pre-command: stopping the agent that runs from
  // the files about to go. Its row comes first.
  void setStopFirst(std::function<StepResult()> stop) { stopFirst_ = std::move(stop); }

  // Runs the steps off the main thread and returns at once. Each row goes
  // to `onProgress` on the main thread, then all rows in step order to
  // `onComplete`, while `context` lives. A failing or refused step never
  // stops the run.
  void execute(QObject* context, const QString& agentDisplayName, const CommandList& preCommands,
               const QStringList& pathsToRemove, StepProgressHandler onProgress,
               StepCompletionHandler onComplete) const;

  // The same run on the calling thread, handing each row to `onProgress`
  // there. Blocks until done.
  QList<StepResult> run(const QString& agentDisplayName, const CommandList& preCommands,
                        const QStringList& pathsToRemove, const StepProgressHandler& onProgress) const;

  // Why a path may not be removed.
  enum class Refusal {
    notAPath,      // empty, relative, with a ".." component or a NUL
    sharedFolder,  // the home folder, a folder above it, or one of its shared folders (~/.local, ~/.config…)
    outsideHome,   // not inside the home folder
    leavesHome,    // a folder on its way is a link that leads out of the home folder
  };

  // Why `path` (as written in the registry, "~" allowed) may not be removed,
  // or nothing when it may: only what lies inside the home folder, also with
  // the links of its folders (the home folder's own too) resolved, however
  // it is spelled. A final link is removed as itself, so where it points
  // does not matter. The one decision the preview, the measure and the
  // removal all take.
  static std::optional<Refusal> refusal(const QString& path);
  static bool isSafeToDelete(const QString& path);
  // The reason shown for a refused path.
  static LocKey refusalKey(Refusal why);
  // The row of a path that is not removed because it is refused.
  static StepResult refusedStep(const QString& path, Refusal why);

  // The bytes `path` takes: a file (or link) its own size, a folder the
  // storage allocated to its contents (a file with several names in it
  // once, nothing of another file system mounted in it); nothing when
  // nothing is there. An empty folder or file is there and takes 0 bytes,
  // and so does a folder that another file system is mounted at (the
  // removal leaves it). A refused path is never measured: nothing.
  static std::optional<quint64> sizeOnDisk(const QString& path);

 private:
  static std::optional<QString> which(const QString& name);
  CommandResult runCommand(const Command& cmd) const;
  StepResult preCommandStep(const Command& cmd) const;
  static StepResult removalStep(const QString& path);

  std::chrono::milliseconds commandTimeout_;
  QString agentId_;
  std::function<StepResult()> stopFirst_;
};

}  // namespace tlr
