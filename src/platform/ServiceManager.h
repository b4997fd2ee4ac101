#pragma once

#include <QString>

#include <chrono>
#include <optional>
#include <sys/types.h>

// launchd jobs on this machine: user units of the systemd user manager. A job
// label L is the unit "L.service". Every call runs `systemctl --user` with a
// deadline of five seconds; without a user manager (command missing, failing
// or timing out) a job simply is not managed, and nothing stops.
namespace tlr::ServiceManager {

inline constexpr std::chrono::seconds kCallTimeout{5};

QString unitName(const QString& label);

struct JobState {
  pid_t mainPid = 0;    // 0: no running process
  QString activeState;  // "active", "inactive", "failed", ...
  // What systemctl printed, for the caller's log.
  QString output;

  bool running() const { return mainPid > 0; }
};

// `systemctl --user show -p MainPID,ActiveState L.service`; nothing when the
// call failed. Blocks for up to kCallTimeout.
std::optional<JobState> list(const QString& label);
bool enable(const QString& label);
bool disable(const QString& label);
// Stops the job (launchd's bootout).
bool bootout(const QString& label);

}  // namespace tlr::ServiceManager
