#pragma once

#include "core/stores/DoctorResult.h"
#include "core/texts/LocKey.h"
#include "registry/AgentEntry.h"
#include "watcher/CommandRunner.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace tlr {

// The time limits of a diagnosis (a check) and of a fix and its reload
// (changes).
struct AgentDoctorLimits {
  std::chrono::milliseconds check = CommandRunner::kCheckLimit;
  std::chrono::milliseconds change = CommandRunner::kChangeLimit;
  // The "--help" that tells a fix's sub-commands and options.
  std::chrono::milliseconds help{std::chrono::seconds(15)};
};

// Diagnoses one agent with its registry doctor command, recognises known
// issues in the output and applies their one-click fixes ("shell" commands
// and "patch-json" edits of JSON configuration files). Holds no state between
// calls; every call blocks while its commands run, so call it off the main
// thread. Several calls may overlap.
class AgentDoctor {
 public:
  using KnownIssue = DoctorResult::KnownIssue;
  // Runs one command, stopped at the time limit given, in a pseudo-terminal
  // of its own when asked (CommandRunner::run).
  using Runner = std::function<CommandRunner::Result(const QStringList&, std::chrono::milliseconds, bool inTerminal)>;
  // What a diagnosis found, under the names callers know it by.
  using DetectedIssue = DoctorResult::DetectedIssue;
  using PatternError = DoctorResult::PatternError;
  using Result = DoctorResult;

  // How a fix ended and what it says about it, by key: the window says it
  // in its language of the moment, the event and the log line in the
  // interface language of the moment the fix ended.
  struct [[nodiscard]] FixResult {
    enum class Kind { success, failure };
    Kind kind = Kind::failure;
    LocKey message = LocKey::doctorErrNotReady();

    static FixResult success(LocKey message) { return {Kind::success, std::move(message)}; }
    static FixResult failure(LocKey message) { return {Kind::failure, std::move(message)}; }
    bool succeeded() const { return kind == Kind::success; }
    bool operator==(const FixResult&) const = default;
  };

  using Limits = AgentDoctorLimits;

  explicit AgentDoctor(Runner runner = defaultRunner(), Limits limits = {});

  // One diagnosis; nothing when the entry has no doctor specification. A
  // doctor that needs a terminal runs in a pseudo-terminal of its own. A
  // recognised issue's command fix is offered only when the installed
  // program knows it: each word of its sub-command path is listed by its
  // parent's "--help", each option by the whole path's (each help asked
  // once per run); the result says whether the doctor command itself lists
  // "--fix", which is asked only when the check ended by itself.
  std::optional<Result> run(const AgentEntry& entry) const;
  // Applies the issue's fix; never throws, every problem is a failure, a
  // command stopped at its time limit too.
  FixResult applyFix(const KnownIssue& issue) const;

  // The texts of the events that the caller records: the summary of a
  // diagnosis (one stopped at its time limit says so), Chinese in both
  // languages, and the outcome of a fix with its message in the interface
  // language (Lang::current()).
  static QString summaryEventText(const Result& result);
  static QString fixEventText(const KnownIssue& issue, const FixResult& fix);
  // What those say, by key: a check that exited otherwise than with 0 and
  // found nothing failed; a fix's own message stays out.
  static LocKey summaryEventKey(const Result& result);
  static LocKey fixEventKey(const KnownIssue& issue, const FixResult& fix);

  // Runs commands through CommandRunner::run.
  static Runner defaultRunner();

 private:
  using Fix = KnownIssue::Fix;

  FixResult applyShellFix(const Fix& fix) const;
  FixResult applyPatchJsonFix(const Fix& fix) const;
  // The reload's failure, when it was stopped at its time limit.
  std::optional<FixResult> runReload(const Fix& fix) const;
  class Helps;
  // Why the installed program would not run `command` as written: a word of
  // its sub-command path that its parent's help does not list, or an option
  // that the whole path's help does not list; nothing when it would.
  static std::optional<LocKey> notRunnable(const AgentEntry& entry, const QStringList& command, Helps& helps);
  // Marks the issues whose command fix the installed program does not know.
  void checkFixes(const AgentEntry& entry, QList<DetectedIssue>& issues, Helps& helps) const;
  // Whether the doctor command's help lists "--fix".
  bool helpListsFix(const AgentEntry& entry, Helps& helps) const;

  Runner runner_;
  Limits limits_;
};

}  // namespace tlr
