#pragma once

#include <QString>

// Whether the systemd user manager runs a launchd job (the user unit
// "<label>.service") now, asked through ServiceManager (`systemctl --user
// show`) and kept for a while, for the whole process.
namespace tlr::LaunchdStatus {

// Whether the user manager runs the job `label` now. Answers are kept for
// 30 seconds per label, for the whole process. Without a user manager it is
// false at once and nothing runs. Other threads block while systemctl runs;
// so does the main thread until setMainThreadMayWait(false), after which it
// answers from the last answer (false when there is none) and an expired or
// missing answer is asked for again on a thread of its own.
bool isManaged(const QString& label);
// Forgets the kept answer for `label`: the next question asks again.
void invalidate(const QString& label);
// Start-up may wait for the user manager; once windows exist the main
// thread must not.
void setMainThreadMayWait(bool mayWait);

}  // namespace tlr::LaunchdStatus
