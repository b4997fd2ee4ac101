#pragma once

#include <QString>
#include <QStringList>

// Where this user's programs live beyond the usual folders: the folders of
// Node version managers (nvm, volta, fnm) and of Linuxbrew, and the PATH the
// user's login shell sets up. A user who installed npm with nvm has it there
// and nowhere else.
namespace tlr::UserPrograms {

// Linuxbrew's program folder, where the system's Homebrew puts programs.
inline constexpr const char* kLinuxbrewBin = "/home/linuxbrew/.linuxbrew/bin";

// The version managers' and Linuxbrew's program folders that exist, newest
// Node version first: ~/.nvm/versions/node/*/bin (or $NVM_DIR's),
// ~/.volta/bin (or $VOLTA_HOME's), fnm's current and installed versions
// (~/.local/share/fnm, ~/.fnm or $FNM_DIR), ~/.linuxbrew/bin and Linuxbrew's
// own. Reads folders: never on the window thread.
QStringList managerFolders();

// The folders of the PATH that the user's login shell sets up, asked once per
// home folder (the shell is given a few seconds, then stopped: its answer is
// then no folders). Starts a process: never on the window thread.
QStringList loginShellFolders();

// managerFolders() followed by loginShellFolders(), each folder once, none
// of `except`.
QStringList extraFolders(const QStringList& except = {});

}  // namespace tlr::UserPrograms
