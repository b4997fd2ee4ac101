#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

namespace tlr {

// What the password database holds of one account; a field it leaves out is
// empty.
struct AccountEntry {
  QString name;
  QString home;
  QString shell;
};
std::optional<AccountEntry> accountOfUid(uid_t uid);
std::optional<AccountEntry> accountNamed(const QString& userName);

// The home folder of the named account in the password database, or empty.
QString homeOfUser(const QString& userName);

// A leading tilde as a shell reads it: "~" and "~/x" are the current home
// folder (Paths::home()) and below it, "~name" and "~name/x" that account's
// home folder and below it. An unknown account, or a path without a leading
// tilde, comes back unchanged.
QString expandUserTilde(const QString& path);

}  // namespace tlr
