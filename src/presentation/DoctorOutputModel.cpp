#include "presentation/DoctorOutputModel.h"
#include "platform/OffMain.h"


namespace tlr {

DoctorOutputModel::DoctorOutputModel(std::optional<AgentDoctor::Result> result, ApplyFix applyFix, Rerun rerun,
                                     QObject* parent)
    : QObject(parent), current_(std::move(result)), applyFix_(std::move(applyFix)), rerun_(std::move(rerun)) {
  if (current_) presenterElapsed_ = current_->elapsedSeconds;
}

bool DoctorOutputModel::fixEnabled(const QString& issueId) const {
  if (!applyFix_ || rerunning_) return false;
  const FixState::Kind kind = fixState(issueId).kind;
  return kind == FixState::Kind::idle || kind == FixState::Kind::failure;
}

DoctorOutputModel::Content DoctorOutputModel::content() const {
  if (!current_) return Content::noResult;
  switch (current_->verdict()) {
    case AgentDoctor::Result::Verdict::issuesFound: return Content::issues;
    case AgentDoctor::Result::Verdict::checkFailed: return Content::checkFailed;
    case AgentDoctor::Result::Verdict::clean: break;
  }
  return hasFixStates() ? Content::allFixed : Content::noIssues;
}

void DoctorOutputModel::presenterResultChanged(const std::optional<AgentDoctor::Result>& result) {
  if (!result) return;
  if (presenterElapsed_ && *presenterElapsed_ == result->elapsedSeconds) return;
  presenterElapsed_ = result->elapsedSeconds;
  current_ = result;
  ++generation_;
  Q_EMIT changed();
}

void DoctorOutputModel::setFixState(const QString& issueId, FixState state) {
  fixStates_.insert(issueId, std::move(state));
  Q_EMIT changed();
}

void DoctorOutputModel::triggerFix(const KnownIssue& issue) {
  if (!applyFix_) return;
  setFixState(issue.id, {FixState::Kind::running, std::nullopt});
  applyFix_(issue, whileAlive(this, [this, id = issue.id](const AgentDoctor::FixResult& fix) {
    if (!fix.succeeded()) {
      setFixState(id, {FixState::Kind::failure, fix.message});
      return;
    }
    setFixState(id, {FixState::Kind::success, fix.message});
    requestRerun();
  }));
}

void DoctorOutputModel::requestRerun() {
  if (!rerun_) return;
  rerunning_ = true;
  Q_EMIT changed();
  rerun_(whileAlive(this, [this](std::optional<AgentDoctor::Result> result) {
    rerunning_ = false;
    if (result) {
      current_ = std::move(result);
      ++generation_;
    }
    Q_EMIT changed();
  }));
}

}  // namespace tlr
