#pragma once

#include "platform/Expected.h"

#include <QString>

// The application as the user's login item: an XDG autostart entry at
// Paths::autostartFile().
namespace tlr::LoginItem {

// The values of the original platform's login-item status.
enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

// enabled when the entry exists and is not marked "Hidden=true".
Status status();

// Writes the entry (atomically) so that `executablePath` starts at login.
Expected<void, QString> registerApp(const QString& executablePath);
// Removes the entry; an absent entry is success.
Expected<void, QString> unregisterApp();

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
