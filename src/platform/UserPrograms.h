#pragma once

#include <QString>
#include <QStringList>

// Where this user's programs are: the one answer every command Tollamere
// starts gets (a relaunch, a launch, a restart, the console, the doctor and
// its fixes, install and uninstall commands, the npm and pipx look-ups), and
// the folders the scanner and the installer look in. A user who installed
// npm with nvm has it there and nowhere else; a PATH of our own without those
// folders would find an agent installed and running that it cannot start.
namespace tlr::UserPrograms {

// Linuxbrew's program folder, where the system's Homebrew puts programs.
inline constexpr const char* kLinuxbrewBin = "/home/linuxbrew/.linuxbrew/bin";

// The folders that hold this user's programs whatever else is installed:
// ~/.npm-global/bin, ~/.local/bin, ~/.cargo/bin, /usr/local/bin and
// Linuxbrew's. Reads nothing.
QStringList fixedFolders();
// The system's program folders, searched last: /usr/bin, /bin.
QStringList systemFolders();

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

// The program folders npm and pipx named (npm's global prefix, pipx's
// program folder), once they have been asked (setToolFolders); none before.
QStringList toolFolders();
void setToolFolders(const QStringList& folders);

// Every folder of this user's programs, in the order they are searched:
// fixedFolders(), managerFolders(), loginShellFolders(), toolFolders(); each
// once, none of the system's. Reads folders and may start the login shell:
// never on the window thread.
QStringList folders();

// The PATH of a command we start: folders(), then the folders of
// `inherited`, then the system's folders; each once, joined by ":".
QString searchPath(const QString& inherited);
// The same over this process's PATH.
QString searchPath();
// The words that set that PATH at the start of a shell line run in a
// terminal or a shell of ours: "export PATH='…'; ".
QString exportPathLine();

}  // namespace tlr::UserPrograms
