#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace tlr {

// Restarts agents on request. For now it carries the command runner that the
// restart, verify, fallback, doctor and fix commands of the registry all go
// through.
class AgentRestarter {
 public:
  // The outcome of one registry command.
  struct CmdResult {
    // The exit status; 128 + the signal for a command ended by a signal; -1
    // when the command was not run at all.
    qint32 exitCode = -1;
    QString stdOut;  // decoded as UTF-8, invalid bytes replaced
    QString stdErr;
    bool timedOut = false;         // stopped at the deadline
    bool outputTruncated = false;  // more output than kept was dropped

    // Whether the command ran. A command that never ran never passes a check,
    // whatever exit code the check expects.
    bool wasRun() const { return exitCode >= 0; }
  };

  // How long a registry command may run before it is stopped.
  static constexpr std::chrono::milliseconds kCommandTimeout{std::chrono::seconds(120)};
  // Most bytes kept of each output stream.
  static constexpr qsizetype kOutputLimit = 16 * 1024 * 1024;

  // Runs `argv` through the user's login shell, with the program folders of
  // commandSearchPath() ahead of the inherited PATH, capturing both outputs
  // while it runs. Blocks until the command ends or `timeout` passes (then
  // the command's process group is stopped). A background child that keeps
  // the output pipes open does not hold it up. Never call it on the main
  // thread.
  static CmdResult runCommand(const QStringList& argv,
                              std::chrono::milliseconds timeout = kCommandTimeout);

  // The seven program folders joined with ":", then ":" and the inherited
  // PATH (empty when there is none, leaving a final ":").
  static QString commandSearchPath();
};

}  // namespace tlr
