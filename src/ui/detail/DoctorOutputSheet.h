#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "presentation/DoctorOutputModel.h"
#include "ui/kit/Sheet.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <optional>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace tlr {

class CloseButton;
class DoctorTranscriptView;
class Label;
class SettingsStore;
class Spinner;
class TintedPanel;

// One doctor run of an agent: its name, exit code and time, a card with a
// one-click fix for every known issue it detected (or a banner when none, or
// when every earlier issue got fixed, or, in the warning colour, when the
// check itself did not succeed), the full transcript, and a hint to run
// the doctor's own repair mode in a terminal. 640 × 560.
//
// The sheet applies no fix and runs nothing: the presenter does, through
// onApplyFix and onRerun, and calls their completions on the main thread.
// Completions that arrive after the sheet closed change nothing. Every text
// from the doctor, the registry or a process is plain text.
class DoctorOutputSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{640, 560};

  DoctorOutputSheet(std::optional<AgentDoctor::Result> result, std::function<void()> onClose,
                    DoctorOutputModel::ApplyFix onApplyFix, DoctorOutputModel::Rerun onRerun,
                    const SettingsStore& settings, QWidget* parent = nullptr);
  ~DoctorOutputSheet() override;

  // The presenter's result again (a new run replaces the one on screen).
  void setResult(const std::optional<AgentDoctor::Result>& result);
  // The agent's name in the window's language of the moment, for the title
  // (a result keeps the name in the language it was made in).
  void setAgentName(std::function<QString()> name);

  DoctorOutputModel& model() const { return *model_; }
  DoctorTranscriptView* transcript() const { return transcript_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  AppLanguage language() const;
  QString locText(const LocKey& key) const;

  std::function<QString()> agentName_;
  QWidget* buildHeader();
  QWidget* buildContent();
  QWidget* buildIssuesSection();
  void buildBanners();
  QWidget* buildRawOutput(QWidget* content);
  QWidget* buildFooter();

  void refresh();
  void rebuildIssueCards();
  void refreshIssueCards();
  void fitIssuesArea();

  const SettingsStore& settings_;
  DoctorOutputModel* model_;
  Label* title_;
  Label* summary_;
  CloseButton* closeButton_;
  QScrollArea* topArea_;
  QWidget* topContent_;
  QVBoxLayout* topLayout_;
  Label* noResult_;
  QWidget* issuesSection_;
  Label* issuesHeading_;
  Spinner* rerunSpinner_;
  Label* rerunLabel_;
  QVBoxLayout* cardsLayout_;
  TintedPanel* noIssueBanner_;
  Label* noIssueText_;
  TintedPanel* allFixedBanner_;
  Label* allFixedText_;
  TintedPanel* checkFailedBanner_;
  Label* checkFailedTitle_;
  Label* checkFailedReason_;
  QWidget* rawSection_;
  Label* rawHeading_;
  DoctorTranscriptView* transcript_;
  Label* footer_;

  struct IssueCard;
  QList<IssueCard*> cards_;
  // The run the cards and the transcript were built for, and its language.
  int builtGeneration_ = -1;
  int builtLanguage_ = -1;
};

}  // namespace tlr
