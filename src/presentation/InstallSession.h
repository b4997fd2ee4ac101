#pragma once

#include "core/installers/AgentInstaller.h"
#include "core/installers/StepResult.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace tlr {

// One install of one agent from its registry recipe, as the install sheet
// shows it: first the check for the commands the recipe requires (off the
// main thread), then the missing ones and the ways to get them, then the
// commands run one by one in the application (or the whole recipe handed to
// a terminal window when the recipe asks for that), then the outcome.
//
// Lives on the main thread; every change is announced through `changed`.
// Work already started runs to its end when the session is destroyed; its
// late results are dropped.
class InstallSession : public QObject {
  Q_OBJECT

 public:
  enum class Phase { checking, missing, running, done };
  using Requirement = AgentEntry::Install::Requirement;

  explicit InstallSession(AgentEntry entry, QObject* parent = nullptr, AgentInstaller installer = AgentInstaller());

  const AgentEntry& entry() const { return entry_; }
  Phase phase() const { return phase_; }
  // The requirements found missing, in recipe order (duplicates kept).
  const QList<Requirement>& missingRequirements() const { return missingReqs_; }
  // The rows shown while running, in arrival order.
  const QList<StepResult>& executingSteps() const { return executingSteps_; }
  // The rows shown when done.
  const QList<StepResult>& allResults() const { return allResults_; }
  // Rows of `allResults` that failed.
  qsizetype failureCount() const;
  // The command to type after a clean install: the first executable name,
  // when the install is done without failures and the entry has one.
  std::optional<QString> howToOpenExecutable() const;
  // The start file of the user's shell that the install sets PATH in
  // ("~/.bashrc"), known once the first check has answered.
  const QString& shellStartFile() const { return shellStartFile_; }

  // Starts the requirement check; the session starts in `checking`.
  void start();
  // From `missing`: back to `checking` and check again.
  void recheck();
  // Installs a missing requirement that the application knows how to
  // install, then checks again and carries on with the agent's install.
  // Does nothing for any other requirement.
  void bootstrapAndRetry(const Requirement& requirement);
  // Runs a guide's terminal script (placeholders filled in the current
  // language) in a terminal window, started off the window thread. The
  // phase stays `missing`.
  void runDependencyInTerminal(const CommandList& commands);

 Q_SIGNALS:
  void changed();

 private:
  void runCheck();
  struct Check {
    QList<Requirement> missing;
    QString shellStartFile;
  };
  void continueAfterCheck(const QList<Requirement>& missing);
  void startInstall();
  void startTerminalInstall();
  CommandList recipeCommands() const;
  QList<Requirement> recipeRequirements() const;

  AgentEntry entry_;
  AgentInstaller installer_;
  Phase phase_ = Phase::checking;
  QList<Requirement> missingReqs_;
  QString shellStartFile_;
  QList<StepResult> executingSteps_;
  QList<StepResult> allResults_;
};

}  // namespace tlr
