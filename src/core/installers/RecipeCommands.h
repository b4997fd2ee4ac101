#pragma once

#include "core/installers/StepResult.h"
#include "platform/ChildProcess.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

class QObject;

// What the installer and the uninstaller share: where recipe programs are
// looked for, the environment their commands get, how a command is run, and
// how a run of steps is carried off the main thread.
namespace tlr::recipe {

using namespace std::chrono_literals;

// How long one recipe command may run before it is stopped.
inline constexpr std::chrono::milliseconds kCommandTimeout = 600s;

// The outcome of one recipe command.
struct [[nodiscard]] CommandResult {
  bool success = false;
  QString output;
  // Why it failed, short.
  std::optional<LocKey> error;
  // What it printed, for the step's details.
  std::optional<QString> details;
};

// The folders searched for a recipe's programs, in order: this user's
// (UserPrograms::folders()), then the system's. Reads folders and may start
// the login shell: never on the window thread.
QStringList programFolders();

// A name with a "/" is returned unchanged, unchecked; any other name is
// looked for in the program folders only (not on the inherited PATH).
std::optional<QString> resolveProgram(const QString& name);
// Whether `name` is an executable file: as a path when it has a "/", else in
// the program folders.
bool commandExists(const QString& name);

// This process's environment with PATH = UserPrograms::searchPath() and
// `extra` set, as "NAME=value" entries.
QStringList childEnvironment(const QList<QPair<QString, QString>>& extra = {});
// The environment every recipe command runs in, install and uninstall alike:
// childEnvironment() with npm's global prefix and pipx's folders in the home
// folder, so `npm uninstall -g` looks where `npm install -g` put it.
QStringList recipeEnvironment();
// npm's global prefix and pipx's folders in the home folder, as set for
// every recipe command.
QList<QPair<QString, QString>> recipeVariables();
// The same environment for a recipe typed into a terminal: the words that
// set PATH (UserPrograms::exportPathLine()) and recipeVariables(). Reads
// folders and may start the login shell: never on the window thread.
QString recipeShellExports();

// Runs `argv` (non-empty) the way recipe commands run: the first word looked
// up with resolveProgram, else "/usr/bin/env" with the whole vector; standard
// input from /dev/null; stopped at `timeout`, with `onTimeout` told first.
ChildResult runVector(const QStringList& argv, const QStringList& environment,
                      std::chrono::milliseconds timeout, std::function<void()> onTimeout);

// UTF-8 text of `bytes`, or empty text when they are not valid UTF-8.
QString decodeUtf8(const QByteArray& bytes);

// The row error of a command stopped at its time-out (whole minutes, rounded
// up).
LocKey timeoutText(std::chrono::milliseconds timeout);
// What a command printed, standard error first, trimmed; at most its last
// `kDetailsLimit` characters. None when it printed nothing.
std::optional<QString> printedText(const ChildResult& result);
inline constexpr qsizetype kDetailsLimit = 16 * 1024;
// The log line's text at the time-out: "命令超时 600s → terminate".
QString timeoutLogText(std::chrono::milliseconds timeout);
// How a child that ended otherwise than by exit(0) ended: "exit 3" or
// "signal 11 (SIGSEGV)".
QString endingText(const ChildResult& result);
// The row error of an install command that ended badly (not at its
// time-out): its ending, a line break and the last four non-empty lines of
// what it printed (standard error, then standard output, each trimmed), cut
// to 600 characters; the ending and "(no output)" when it printed nothing.
LocKey installFailureText(const ChildResult& result);
inline constexpr qsizetype kInstallFailureLimit = 600;
// The row error of an uninstall command that ended badly (not at its
// time-out): the first non-empty line of its standard error, else its
// ending.
LocKey uninstallFailureText(const ChildResult& result);

// Runs `steps` off the main thread and returns at once. `steps` gets a
// deliver function that hands a row to `onProgress` on the main thread; the
// rows it returns go to `onComplete` there after the last row. Both are
// called only while `context` (null: the application) lives.
using StepWork = std::function<QList<StepResult>(const StepProgressHandler& deliver)>;
void runStepsDetached(QObject* context, StepWork steps, StepProgressHandler onProgress,
                      StepCompletionHandler onComplete);

}  // namespace tlr::recipe
