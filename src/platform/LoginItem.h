#pragma once

#include <QString>

// The application as the user's login item: an XDG autostart entry at
// Paths::autostartFile().
namespace tlr::LoginItem {

// The values of the original platform's login-item status.
enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

// enabled when the entry exists and is not marked "Hidden=true".
Status status();

// Writes the entry (atomically) so that `executablePath` starts at login.
// On failure returns false with the reason in `error`.
bool registerApp(const QString& executablePath, QString* error);
// Removes the entry; an absent entry is success.
bool unregisterApp(QString* error);

// The entry's Exec value for `executablePath`, quoted as desktop entries
// require.
QString execValue(const QString& executablePath);

// The path of the running program.
QString currentExecutable();
// An installed copy: the program lies in "<prefix>/bin" and
// "<prefix>/share/tollamere/Tollamere_Tollamere.bundle" exists. A program run
// from a build folder is a development copy.
bool isProductionCopy(const QString& executablePath);

// Where login items live (the autostart folder), made when missing, for the
// user to be shown.
QString settingsFolder();

}  // namespace tlr::LoginItem
