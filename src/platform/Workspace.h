#pragma once

#include "platform/ChildProcess.h"
#include "platform/ProcessTable.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// Desktop applications, known by bundle identifier: a freedesktop desktop
// entry "<bundle id>.desktop" in the XDG application folders
// ($XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS + /applications;
// the first folder that holds an id wins). Entries are read again whenever a
// folder changes.
class Workspace {
 public:
  struct Application {
    QString bundleId;
    QString entryPath;  // the .desktop file
    QStringList exec;   // the Exec line as words, field codes removed
    // The program the entry starts (TryExec, else Exec's first word, looked
    // up on PATH), resolved to its real path; empty when it is not on disk.
    QString program;
    QString icon;  // Icon=, an icon-theme name or a path
  };

  struct RunningApplication {
    pid_t pid = 0;
    QString bundleId;
    std::optional<QDateTime> launchDate;
    QString program;
  };

  static QStringList applicationDirs();

  // The entry for `bundleId`, when one exists (and is not Hidden).
  static std::optional<Application> application(const QString& bundleId);
  // The program of an installed application: the entry exists and its
  // program is on disk.
  static std::optional<QString> applicationPath(const QString& bundleId);
  static QString iconName(const QString& bundleId);

  // Processes of `table` that run an application's program, in table order.
  // A process whose parent runs the same program is one of the application's
  // helpers, not the application, and is left out.
  static QList<RunningApplication> runningApplications(const ProcessTable& table);
  // The programs of every application, as runningApplications() matches them.
  static QSet<QString> applicationPrograms();
  // The bundle identifier of the application whose program is `exePath`.
  static std::optional<QString> bundleIdOfProgram(const QString& exePath);

  // Starts the entry's Exec line detached. An unknown bundle id or an entry
  // without a program fails with a message.
  static Expected<pid_t, QString> open(const QString& bundleId);
};

}  // namespace tlr
