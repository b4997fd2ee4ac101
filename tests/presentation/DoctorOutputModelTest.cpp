#include "presentation/DoctorOutputModel.h"

#include <gtest/gtest.h>

#include <memory>

using tlr::AgentDoctor;
using tlr::DoctorOutputModel;
using tlr::LocKey;
using Kind = DoctorOutputModel::FixState::Kind;
using Content = DoctorOutputModel::Content;

namespace {

AgentDoctor::KnownIssue issue(const QString& id) {
  AgentDoctor::KnownIssue known;
  known.id = id;
  known.title = "Issue " + id;
  known.fix.title = "Fix " + id;
  return known;
}

AgentDoctor::Result run(double elapsed, const QStringList& issueIds, qint32 exitCode = 0) {
  AgentDoctor::Result result;
  result.entryDisplayName = "Agent";
  result.exitCode = exitCode;
  result.elapsedSeconds = elapsed;
  for (const QString& id : issueIds) result.detectedIssues.append({issue(id), "line " + id});
  return result;
}

// The presenter's side: fixes and re-runs wait here until the test answers.
struct Presenter {
  QList<DoctorOutputModel::FixCompletion> fixes;
  QList<DoctorOutputModel::RerunCompletion> reruns;
  int fixCalls = 0;
  DoctorOutputModel::ApplyFix applyFix() {
    return [this](const AgentDoctor::KnownIssue&, DoctorOutputModel::FixCompletion done) {
      ++fixCalls;
      fixes.append(std::move(done));
    };
  }
  DoctorOutputModel::Rerun rerun() {
    return [this](DoctorOutputModel::RerunCompletion done) { reruns.append(std::move(done)); };
  }
};

}  // namespace

TEST(DoctorOutputModel, ContentFollowsTheResultAndTheFixesTried) {
  Presenter p;
  DoctorOutputModel none(std::nullopt, p.applyFix(), p.rerun());
  EXPECT_EQ(none.content(), Content::noResult);
  DoctorOutputModel clean(run(1, {}), p.applyFix(), p.rerun());
  EXPECT_EQ(clean.content(), Content::noIssues);
  DoctorOutputModel issues(run(1, {"x"}, 1), p.applyFix(), p.rerun());
  EXPECT_EQ(issues.content(), Content::issues);

  // A check that did not succeed and named no known issue is no pass: it
  // exited with another status, never ran, or was stopped at its limit.
  for (const qint32 exitCode : {1, -1}) {
    DoctorOutputModel failed(run(1, {}, exitCode), p.applyFix(), p.rerun());
    EXPECT_EQ(failed.content(), Content::checkFailed) << exitCode;
  }
  AgentDoctor::Result stopped = run(1, {}, 0);
  stopped.timedOut = true;
  EXPECT_EQ(DoctorOutputModel(stopped, p.applyFix(), p.rerun()).content(), Content::checkFailed);
  // Nor after a fix: a new run that fails is not "all fixed".
  issues.triggerFix(issue("x"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  p.reruns.takeFirst()(run(2, {}, 2));
  EXPECT_EQ(issues.content(), Content::checkFailed);
}

TEST(DoctorOutputModel, ASuccessfulFixAsksForANewRunThatReplacesTheResult) {
  Presenter p;
  DoctorOutputModel model(run(1, {"x", "y"}), p.applyFix(), p.rerun());
  ASSERT_TRUE(model.fixEnabled("x"));
  model.triggerFix(issue("x"));
  EXPECT_EQ(model.fixState("x").kind, Kind::running);
  EXPECT_FALSE(model.fixEnabled("x"));
  EXPECT_TRUE(model.fixEnabled("y")) << "another issue's fix may run alongside";

  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  EXPECT_EQ(model.fixState("x"), (DoctorOutputModel::FixState{Kind::success, LocKey::doctorOkCmdSucceeded()}));
  EXPECT_TRUE(model.rerunning());
  EXPECT_FALSE(model.fixEnabled("y")) << "every button waits for the new run";
  ASSERT_EQ(p.reruns.size(), 1);

  p.reruns.takeFirst()(run(2, {}));
  EXPECT_FALSE(model.rerunning());
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 2);
  EXPECT_EQ(model.content(), Content::allFixed);
  // The fixed state outlives the run in which it was set.
  EXPECT_EQ(model.fixState("x").kind, Kind::success);
}

TEST(DoctorOutputModel, AFailedFixShowsItsMessageAndCanBeTriedAgain) {
  Presenter p;
  DoctorOutputModel model(run(1, {"x"}), p.applyFix(), p.rerun());
  model.triggerFix(issue("x"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::failure(LocKey::doctorErrWriteFile("no permission")));
  EXPECT_EQ(model.fixState("x"), (DoctorOutputModel::FixState{Kind::failure, LocKey::doctorErrWriteFile("no permission")}));
  EXPECT_TRUE(p.reruns.isEmpty());
  EXPECT_TRUE(model.fixEnabled("x"));
  model.triggerFix(issue("x"));
  EXPECT_EQ(model.fixState("x").kind, Kind::running);
  EXPECT_EQ(p.fixCalls, 2);
}

TEST(DoctorOutputModel, WithoutActionsFixesAreOffAndASuccessStaysPut) {
  Presenter p;
  DoctorOutputModel noFix(run(1, {"x"}), {}, p.rerun());
  EXPECT_FALSE(noFix.fixEnabled("x"));
  noFix.triggerFix(issue("x"));
  EXPECT_FALSE(noFix.hasFixStates());

  DoctorOutputModel noRerun(run(1, {"x"}), p.applyFix(), {});
  noRerun.triggerFix(issue("x"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  EXPECT_FALSE(noRerun.rerunning());
  EXPECT_EQ(noRerun.content(), Content::issues);
  EXPECT_FALSE(noRerun.fixEnabled("x"));
}

TEST(DoctorOutputModel, ARerunWithoutResultKeepsTheOldOneAndTheLastRunToFinishWins) {
  Presenter p;
  DoctorOutputModel model(run(1, {"x", "y"}), p.applyFix(), p.rerun());
  model.triggerFix(issue("x"));
  model.triggerFix(issue("y"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  ASSERT_EQ(p.reruns.size(), 2);
  p.reruns.takeFirst()(std::nullopt);
  EXPECT_FALSE(model.rerunning()) << "one flag: the first run to end clears it";
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 1);
  p.reruns.takeFirst()(run(3, {"y"}));
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 3);
}

TEST(DoctorOutputModel, OnlyANewPresenterRunReplacesTheResult) {
  Presenter p;
  DoctorOutputModel model(run(1, {"x"}), p.applyFix(), p.rerun());
  model.triggerFix(issue("x"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  p.reruns.takeFirst()(run(5, {}));
  model.presenterResultChanged(run(1, {"x"}));  // the same run again
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 5);
  model.presenterResultChanged(std::nullopt);
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 5);
  model.presenterResultChanged(run(7, {}));
  EXPECT_EQ(model.currentResult()->elapsedSeconds, 7);
}

TEST(DoctorOutputModel, CompletionsAfterTheSheetClosedLandOnNothing) {
  Presenter p;
  auto model = std::make_unique<DoctorOutputModel>(run(1, {"x", "y"}), p.applyFix(), p.rerun());
  model->triggerFix(issue("x"));
  model->triggerFix(issue("y"));
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  ASSERT_EQ(p.reruns.size(), 1);
  model.reset();
  // The presenter's work ends later; nothing of the sheet is touched.
  p.fixes.takeFirst()(AgentDoctor::FixResult::success(LocKey::doctorOkCmdSucceeded()));
  p.reruns.takeFirst()(run(2, {}));
  EXPECT_TRUE(p.reruns.isEmpty()) << "no new run is asked for on behalf of a closed sheet";
}
