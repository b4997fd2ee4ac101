#pragma once

#include "platform/ChildProcess.h"

#include <QString>
#include <QStringList>

// The shell that runs registry commands as the user would in a terminal: a
// login shell, so the user's profile (version managers, PATH additions) runs
// first.
namespace tlr {

struct LoginShell {
  QString program;      // "/bin/zsh"
  QStringList options;  // placed before the command line: {"-lc"} or {"-c"}
  // Bourne-family login shells other than zsh start from the system profile,
  // which on most distributions replaces PATH outright; the command line then
  // sets PATH again after the login files have run.
  bool profileReplacesPath = false;

  // /bin/zsh -lc when zsh exists, else the account's login shell from the
  // password database with -lc, else /bin/sh -c. An account shell that does
  // not quote as POSIX shells do (fish, csh, ...) is passed over: command
  // lines are quoted for POSIX shells, and a backslash inside single quotes
  // means something else to those.
  static LoginShell resolve();
  // The same choice from given facts: the zsh path to try and the account's
  // shell (empty when the password database has none).
  static LoginShell resolve(const QString& zshPath, const QString& accountShell);

  // A child that runs `commandLine` through this shell, with PATH set to
  // `searchPath` in its environment (the rest of our environment inherited).
  ChildSpec childSpec(const QString& commandLine, const QString& searchPath) const;
};

// The login shell of the current user in the password database, or empty.
// A shell that is not a login shell (nologin, false) counts as none.
QString accountLoginShell();

// The start file an interactive shell of `shell` reads, as the user writes
// it: "~/.bashrc" for bash, "~/.zshrc" for zsh, "~/.profile" for any other.
QString shellStartFile(const QString& shell);
// The start file of the current user's shell: the shell of the user's entry
// in the password database, else $SHELL. Reads the password database, which
// may ask a directory service: never on the window's thread.
QString userShellStartFile();

// Whether `shell` is listed in `shellsFile` (one path a line, "#" starts a
// comment). An unreadable list rules nothing out.
bool isListedLoginShell(const QString& shell, const QString& shellsFile = QStringLiteral("/etc/shells"));

// `text` as one word of a POSIX shell line: in single quotes, an inner single
// quote written as '\''.
QString shellQuote(const QString& text);

// `words` as a shell line is shown: joined with blanks, a word quoted (as
// above) only when a shell would read it otherwise ("sh -c 'echo ok'").
QString shellWords(const QStringList& words);

}  // namespace tlr
