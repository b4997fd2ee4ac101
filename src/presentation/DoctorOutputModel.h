#pragma once

#include "watcher/AgentDoctor.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tlr {

// What the doctor output sheet shows and tracks: the run on screen, the state
// of each issue's fix button, and whether a new run after a successful fix is
// under way. The sheet applies no fix and runs nothing itself; it asks its
// presenter through the two actions. Completions may arrive after the sheet
// (and this model, which it owns) is gone: they then change nothing, while
// the presenter's work runs to its end. Main thread only.
class DoctorOutputModel : public QObject {
  Q_OBJECT

 public:
  using KnownIssue = AgentDoctor::KnownIssue;
  using FixCompletion = std::function<void(const AgentDoctor::FixResult&)>;
  using ApplyFix = std::function<void(const KnownIssue&, FixCompletion)>;
  using RerunCompletion = std::function<void(std::optional<AgentDoctor::Result>)>;
  using Rerun = std::function<void(RerunCompletion)>;

  struct FixState {
    enum class Kind { idle, running, success, failure };
    Kind kind = Kind::idle;
    // What the fix said (success and failure), in the window's language.
    std::optional<LocKey> message;

    bool operator==(const FixState&) const = default;
  };

  // Exactly one of these fills the content above the transcript. A check
  // that did not succeed and named no known issue is never shown as a pass.
  enum class Content { noResult, issues, checkFailed, allFixed, noIssues };

  DoctorOutputModel(std::optional<AgentDoctor::Result> result, ApplyFix applyFix, Rerun rerun,
                    QObject* parent = nullptr);

  const std::optional<AgentDoctor::Result>& currentResult() const { return current_; }
  // Counts the replacements of the current result (0 for the first).
  int resultGeneration() const { return generation_; }
  // Absent ids are idle. Issues that share an id share one state.
  FixState fixState(const QString& issueId) const { return fixStates_.value(issueId); }
  bool hasFixStates() const { return !fixStates_.isEmpty(); }
  bool rerunning() const { return rerunning_; }
  bool canApplyFixes() const { return static_cast<bool>(applyFix_); }
  // Whether the issue's fix button may be pressed now.
  bool fixEnabled(const QString& issueId) const;
  Content content() const;

  // The presenter hands in its result again: a present result of another
  // run (another elapsed time) replaces the one on screen.
  void presenterResultChanged(const std::optional<AgentDoctor::Result>& result);
  // The action of an enabled fix button.
  void triggerFix(const KnownIssue& issue);

 Q_SIGNALS:
  void changed();

 private:
  void setFixState(const QString& issueId, FixState state);
  void requestRerun();

  std::optional<AgentDoctor::Result> current_;
  std::optional<double> presenterElapsed_;
  ApplyFix applyFix_;
  Rerun rerun_;
  QHash<QString, FixState> fixStates_;
  bool rerunning_ = false;
  int generation_ = 0;
};

}  // namespace tlr
