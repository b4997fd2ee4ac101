#pragma once

#include <QString>

// Per-user services (launchd jobs on the original platform) over
// `systemctl --user`: the label L is the unit "L.service". Each call waits at
// most 5 seconds. A missing systemctl or a missing user manager is a failed
// call, never an error that stops anything.
namespace tlr::ServiceManager {

struct CallResult {
  bool started = false;  // systemctl could be run
  QString startError;    // why it could not
  bool succeeded = false;  // it ran and exited with 0
};

QString unitName(const QString& label);

CallResult enable(const QString& label);   // launchctl enable
CallResult disable(const QString& label);  // launchctl disable
CallResult stop(const QString& label);     // launchctl bootout

}  // namespace tlr::ServiceManager
