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
// After a `show` that ran out of time, that systemctl counts as hanging for
// this long: list() answers nothing at once instead of waiting again, since
// its callers check every label on the main thread.
inline constexpr std::chrono::minutes kUnresponsiveBackoff{5};

QString unitName(const QString& label);

// Whether a user manager runs for us: its private socket
// ($XDG_RUNTIME_DIR/systemd/private) is there. Costs one stat, starts nothing.
bool userManagerAvailable();

struct JobState {
  pid_t mainPid = 0;    // 0: no running process
  QString activeState;  // "active", "inactive", "failed", ...
  // What systemctl printed, for the caller's log.
  QString output;

  bool running() const { return mainPid > 0; }
};

// `systemctl --user show -p MainPID,ActiveState L.service`; nothing when the
// call failed. Blocks for up to `timeout` (plus a second to stop a hanging
// systemctl); nothing at once, without running anything, when no user
// manager runs or while that systemctl is known to hang.
std::optional<JobState> list(const QString& label, std::chrono::milliseconds timeout = kCallTimeout);
// True when systemctl succeeded.
[[nodiscard]] bool enable(const QString& label);
[[nodiscard]] bool disable(const QString& label);

// What one systemctl call did, for callers that report it.
struct [[nodiscard]] CallOutcome {
  bool started = false;
  QString startError;     // why it did not start (no systemctl, exec failure)
  bool timedOut = false;  // still running at the deadline, so it was stopped
  bool exited = false;    // ended by exit(), not by a signal
  int exitStatus = -1;    // valid when exited
  int signal = 0;         // the signal that ended it otherwise

  bool succeeded() const { return started && !timedOut && exited && exitStatus == 0; }
};

// Disables the job (`systemctl --user disable L.service`), waiting at most
// `timeout`: a systemctl still running then is stopped (SIGTERM, SIGKILL a
// second later) and reported as timed out. Blocks: call it off the main
// thread.
CallOutcome disableJob(const QString& label, std::chrono::milliseconds timeout = kCallTimeout);
// launchd's name for the job of the current user: "user/<uid>/<label>".
QString userTarget(const QString& label);
// Stops the job (launchd's bootout); true when systemctl succeeded.
[[nodiscard]] bool bootout(const QString& label);

}  // namespace tlr::ServiceManager
