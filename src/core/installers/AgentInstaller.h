#pragma once

#include "core/installers/RecipeCommands.h"
#include "core/installers/StepResult.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace tlr {

// Installs an agent from the install recipe of its registry entry: checks
// what the recipe needs, runs its commands itself one child at a time, or
// hands the whole recipe to a terminal window for the user to watch.
class AgentInstaller {
 public:
  using Requirement = AgentEntry::Install::Requirement;
  using CommandResult = recipe::CommandResult;

  // `shellStartFile`: the file the PATH step writes, as the user writes it
  // ("~/.zshrc"); by default the start file of the user's login shell, looked
  // up when it is needed.
  explicit AgentInstaller(std::chrono::milliseconds commandTimeout = recipe::kCommandTimeout,
                          std::optional<QString> shellStartFile = std::nullopt)
      : commandTimeout_(commandTimeout), shellStartFile_(std::move(shellStartFile)) {}

  // The file the PATH step writes ("~/.bashrc"). May read the password
  // database: never on the window's thread.
  QString shellStartFile() const;

  // The requirements, in order, whose program is not there.
  static QList<Requirement> missingRequirements(const std::optional<QList<Requirement>>& requirements);

  // Runs the commands off the main thread and returns at once; stops at the
  // first failure. After at least one success it makes sure login shells
  // find the user's program folders. Each row goes to `onProgress` on the
  // main thread, then all rows to `onComplete`, while `context` lives.
  void executeCommands(QObject* context, const QString& agentDisplayName, const CommandList& commands,
                       StepProgressHandler onProgress, StepCompletionHandler onComplete) const;

  // The same run on the calling thread, handing each row to `onProgress`
  // there. Blocks until done.
  QList<StepResult> runSteps(const QString& agentDisplayName, const CommandList& commands,
                             const StepProgressHandler& onProgress) const;

  // Opens a terminal window that runs the whole recipe; true when it was
  // started. Its outcome is shown in the window only. Works out this user's
  // program folders first: never on the window thread.
  [[nodiscard]] bool openInTerminal(const CommandList& commands) const;
  // The shell line that window runs: the environment exports, the commands
  // joined with " && ", the outcome echo. On success the window closes after
  // a second; on failure the user's shell stays for reading.
  static QString terminalShellLine(const CommandList& commands);


 private:
  // Runs one non-empty command vector (words expanded, program looked up).
  CommandResult runCommand(const Command& cmd) const;
  // Adds the user's program folders to PATH in the shell's start file once.
  StepResult ensurePathSetup() const;

  std::chrono::milliseconds commandTimeout_;
  std::optional<QString> shellStartFile_;
};

}  // namespace tlr
