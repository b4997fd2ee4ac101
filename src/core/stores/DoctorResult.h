#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tlr {

// What one doctor run of an agent found: the command, its outputs, and the
// known issues recognised in them. A plain value, kept by DoctorResultStore
// and produced by AgentDoctor.
struct [[nodiscard]] DoctorResult {
  using KnownIssue = AgentEntry::DoctorSpec::KnownIssue;

  struct DetectedIssue {
    KnownIssue issue;
    QString matchedSnippet;  // the output line(s) around the first match
    // Why its fix is not offered: the installed version's help lists no
    // sub-command or option the fix's command names. Absent when it is.
    std::optional<LocKey> fixNotOffered = std::nullopt;
    bool fixOffered() const { return !fixNotOffered.has_value(); }
  };

  // A known issue whose expression does not compile; it is never detected.
  struct PatternError {
    QString issueId;
    QString message;  // the expression engine's reason and its offset
  };

  QString entryDisplayName;
  QStringList command;
  qint32 exitCode = -1;
  QString stdOut;
  QString stdErr;
  // Stopped at its time limit before it finished; the limit in whole seconds.
  bool timedOut = false;
  qint64 timeLimitSeconds = 0;
  // It killed the process that ran it before it ended: how it ended is
  // unknown (exit code -1), and it checked nothing.
  bool keeperLost = false;
  double elapsedSeconds = 0;
  QList<DetectedIssue> detectedIssues;  // in the order of the known issues
  // Whether the doctor command's help lists a "--fix" of its own, so that
  // running it with "--fix" in a terminal can be suggested.
  bool helpListsFix = false;
  QList<PatternError> patternErrors;

  // What a run says of the agent: the known issues it recognised, else
  // whether the check itself succeeded. A check that exited with another
  // status than 0, was stopped at its time limit or never ran has checked
  // nothing: it is no pass.
  enum class Verdict { clean, issuesFound, checkFailed };
  Verdict verdict() const;

  // The transcript: the command, its outputs, a rule and the exit line (and
  // a line saying so for a run stopped at its time limit, or one that killed
  // the process that ran it).
  QString combinedOutput(AppLanguage language) const;
};

}  // namespace tlr
