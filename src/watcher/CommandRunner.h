#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

namespace tlr {

// Runs the commands of the registry (restart, verify, fallback, doctor, fix)
// in the user's login shell. Holds nothing; any thread but the main one.
class CommandRunner {
 public:
  // The outcome of one registry command.
  struct Result {
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
  static constexpr std::chrono::milliseconds kTimeout{std::chrono::seconds(120)};
  // Most bytes kept of each output stream.
  static constexpr qsizetype kOutputLimit = 16 * 1024 * 1024;

  // Runs `argv` through the user's login shell, with the program folders of
  // searchPath() ahead of the inherited PATH, capturing both outputs while it
  // runs. Blocks until the command ends or `timeout` passes (then the
  // command's process group is stopped). A background child that keeps the
  // output pipes open does not hold it up. Never call it on the main thread.
  static Result run(const QStringList& argv, std::chrono::milliseconds timeout = kTimeout);

  // The seven program folders joined with ":", then ":" and the inherited
  // PATH (empty when there is none, leaving a final ":").
  static QString searchPath();
};

}  // namespace tlr
