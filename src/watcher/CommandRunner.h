#pragma once

#include "core/installers/RecipeCommands.h"

#include <QString>
#include <QStringList>

#include <chrono>

namespace tlr {

// Runs the commands of the registry (restart, verify, fallback, doctor, fix)
// in the user's login shell. Holds nothing; any thread but the main one.
class CommandRunner {
 public:
  // The outcome of one registry command.
  struct [[nodiscard]] Result {
    // The exit status; 128 + the signal for a command ended by a signal; -1
    // when the command was not run at all, or when how it ended is unknown
    // (keeperLost).
    qint32 exitCode = -1;
    QString stdOut;  // decoded as UTF-8, invalid bytes replaced
    QString stdErr;
    bool timedOut = false;         // stopped at its time limit, unfinished
    // It killed the process that ran it (its keeper) before it ended: it
    // failed, and what it left running was ended.
    bool keeperLost = false;
    bool outputTruncated = false;  // more output than kept was dropped
    std::chrono::milliseconds limit{0};  // the time limit it ran under

    // Whether the command ran. A command that never ran never passes a check,
    // whatever exit code the check expects.
    bool wasRun() const { return exitCode >= 0; }
    // The time limit in whole seconds, rounded up, as texts give it.
    qint64 limitSeconds() const { return (limit.count() + 999) / 1000; }
  };

  // How long a registry command may run before it is stopped. A check (the
  // doctor, a verify) only reads: 120 s, as a doctor that waits for a
  // terminal never ends without one. A change (a restart, a fallback, a fix)
  // may reinstall a package over a slow network: it gets the installer's own
  // limit, as one stopped half-way leaves the agent half-installed.
  static constexpr std::chrono::milliseconds kCheckLimit{std::chrono::seconds(120)};
  static constexpr std::chrono::milliseconds kChangeLimit = recipe::kCommandTimeout;
  // Most bytes kept of each output stream.
  static constexpr qsizetype kOutputLimit = 16 * 1024 * 1024;

  // Runs `argv` through the user's login shell, with this user's program
  // folders (UserPrograms::searchPath()) ahead of the inherited PATH,
  // capturing both outputs while it runs. Blocks until the command ends or `limit` passes (then the
  // command's process group is stopped and the result says it timed out). A
  // background child that keeps the output pipes open does not hold it up.
  // Never call it on the main thread.
  //
  // With `inTerminal`, standard input and output are a pseudo-terminal of the
  // command's own (for a check that says nothing without a terminal): its
  // output is read as it comes, with the terminal's control sequences and
  // carriage returns taken out; nothing is ever typed into it, and at the
  // limit it is ended like any other. Standard error stays apart.
  static Result run(const QStringList& argv, std::chrono::milliseconds limit, bool inTerminal = false);

  // A terminal's output as plain text: control sequences (colours, cursor
  // moves, titles) removed, CR LF and lone CR made line feeds.
  static QString terminalText(const QByteArray& output);
};

}  // namespace tlr
