#include "ui/detail/DoctorOutputSheet.h"

#include "core/stores/SettingsStore.h"
#include "presentation/AgentDetailLogic.h"
#include "ui/detail/DoctorTranscriptView.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

namespace tlr {
namespace {

using Kind = DoctorOutputModel::FixState::Kind;

const QColor kGreen{52, 199, 89};
const QColor kRed = Theme::destructive;


// A label whose text the user may select and copy.
Label* selectableLabel(const QString& content, qreal pixels, TextRole role, QWidget* parent) {
  auto* label = new Label(content, pixels, QFont::Normal, role, parent);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  label->setCursor(Qt::IBeamCursor);
  return label;
}

// Keeps a wrapping label to at most `lines` lines.
void limitLines(QLabel* label, int lines) {
  label->setWordWrap(true);
  label->setMaximumHeight(qCeil(QFontMetricsF(label->font()).lineSpacing() * lines) + 2);
}

// The fix button of one issue: its text in the accent colour (green once
// fixed) on a face of it at 0.18 (0.15), without an edge; label 12 medium,
// symbol at font size 11, padded 12 × 6, radius 6. Unusable, it is drawn at
// 0.5, unless it is fixing or fixed.
SecondaryButton* makeFixButton(QWidget* parent) {
  auto* button = new SecondaryButton(QString(), QString(), std::nullopt, parent);
  button->setSymbolSide(Glyphs::sizeForFont(11));
  button->setPadding(12, 6);
  button->setCornerRadius(6);
  return button;
}

void showFixState(const SettingsStore& settings, SecondaryButton* button, Kind kind, const QString& fixTitle) {
  switch (kind) {
    case Kind::idle:
    case Kind::failure:
      button->setLabel(fixTitle);
      button->setSymbol(QStringLiteral("wrench.and.screwdriver"));
      break;
    case Kind::running:
      button->setLabel(settings.text(LocKey::doctorFixing()));
      button->setSymbol(QString());
      break;
    case Kind::success:
      button->setLabel(settings.text(LocKey::doctorFixed()));
      button->setSymbol(QStringLiteral("checkmark"));
      break;
  }
  const bool fixed = kind == Kind::success;
  button->setBusy(kind == Kind::running);
  button->setDisabledOpacity(fixed ? 1.0 : 0.5);
  button->setColors([fixed] {
    const QColor color = fixed ? kGreen : Theme::current().accent;
    return SecondaryButton::Colors{color, Theme::withOpacity(color, fixed ? 0.15 : 0.18), QColor(Qt::transparent)};
  });
}

}  // namespace

// One detected issue's card.
struct DoctorOutputSheet::IssueCard {
  Card* card = nullptr;
  AgentDoctor::KnownIssue issue;
  // Why its fix is not offered, when it is not.
  std::optional<LocKey> fixNotOffered;
  Label* number = nullptr;
  Label* matchedLabel = nullptr;
  SecondaryButton* fix = nullptr;
  SymbolView* outcomeSymbol = nullptr;
  Label* outcome = nullptr;
};

DoctorOutputSheet::DoctorOutputSheet(std::optional<AgentDoctor::Result> result, std::function<void()> onClose,
                                     DoctorOutputModel::ApplyFix onApplyFix, DoctorOutputModel::Rerun onRerun,
                                     const SettingsStore& settings, QWidget* parent)
    : Sheet(kSize, parent),
      settings_(settings),
      model_(new DoctorOutputModel(std::move(result), std::move(onApplyFix), std::move(onRerun), this)) {
  setObjectName(QStringLiteral("doctorOutputSheet"));
  setOnClose(std::move(onClose));

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addWidget(buildHeader());
  root->addWidget(new Divider(this));
  root->addWidget(buildContent(), 1);
  root->addWidget(new Divider(this));
  root->addWidget(buildFooter());

  connect(model_, &DoctorOutputModel::changed, this, &DoctorOutputSheet::refresh);
  whenLookChanges(this, [this] { refresh(); });
  refresh();
}

// The stethoscope, the title and the run's summary, and the close button.
QWidget* DoctorOutputSheet::buildHeader() {
  auto* header = new QWidget(this);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(20, 16, 20, 14);
  headerRow->setSpacing(12);
  headerRow->addWidget(SymbolView::forFont(QStringLiteral("stethoscope"), 20, TextRole::accent, header),
                       0, Qt::AlignTop);
  auto* titles = new QVBoxLayout;
  titles->setSpacing(3);
  title_ = new Label(QString(), 15, QFont::DemiBold, TextRole::primary, header);
  title_->setObjectName(QStringLiteral("doctorTitle"));
  title_->setElided(true);
  summary_ = new Label(QString(), 11.5, QFont::Normal, TextRole::dim, header);
  summary_->setObjectName(QStringLiteral("doctorSummary"));
  summary_->setElided(true);
  titles->addWidget(title_);
  titles->addWidget(summary_);
  headerRow->addLayout(titles, 1);
  closeButton_ = new CloseButton(header);
  closeButton_->setObjectName(QStringLiteral("doctorCloseButton"));
  connect(closeButton_, &QAbstractButton::clicked, this, &Sheet::requestClose);
  headerRow->addWidget(closeButton_, 0, Qt::AlignTop);
  return header;
}

// The issues (or a banner) above the transcript, which scrolls on its own.
QWidget* DoctorOutputSheet::buildContent() {
  auto* content = new QWidget(this);
  auto* contentColumn = new QVBoxLayout(content);
  contentColumn->setContentsMargins(20, 14, 20, 12);
  contentColumn->setSpacing(12);

  noResult_ = new Label(QString(), 13, QFont::Normal, TextRole::dim, content);
  noResult_->setObjectName(QStringLiteral("doctorNoResult"));
  contentColumn->addWidget(noResult_);

  topContent_ = new QWidget;
  topLayout_ = new QVBoxLayout(topContent_);
  topLayout_->setContentsMargins(0, 0, 4, 0);
  topLayout_->setSpacing(10);

  topLayout_->addWidget(buildIssuesSection());
  buildBanners();
  topLayout_->addStretch(1);
  topArea_ = new ScrollArea(topContent_, content);
  topArea_->setObjectName(QStringLiteral("doctorIssuesArea"));
  contentColumn->addWidget(topArea_);
  contentColumn->addWidget(buildRawOutput(content), 1);
  return content;
}

// The issues' heading, the rerun's spinner and the cards.
QWidget* DoctorOutputSheet::buildIssuesSection() {
  issuesSection_ = new QWidget(topContent_);
  issuesSection_->setObjectName(QStringLiteral("doctorIssuesSection"));
  auto* issuesColumn = new QVBoxLayout(issuesSection_);
  issuesColumn->setContentsMargins(0, 0, 0, 0);
  issuesColumn->setSpacing(10);
  auto* headingRow = new QHBoxLayout;
  headingRow->setSpacing(8);
  headingRow->addWidget(
      SymbolView::forFont(QStringLiteral("exclamationmark.triangle.fill"), 14, Theme::role(&Theme::Roles::warningSymbol), issuesSection_));
  issuesHeading_ = new Label(QString(), 13.5, QFont::DemiBold, TextRole::primary, issuesSection_);
  issuesHeading_->setObjectName(QStringLiteral("doctorIssuesHeading"));
  headingRow->addWidget(issuesHeading_);
  headingRow->addStretch(1);
  rerunSpinner_ = new Spinner(12, issuesSection_);
  rerunLabel_ = new Label(QString(), 11.5, QFont::Normal, TextRole::dim, issuesSection_);
  rerunLabel_->setObjectName(QStringLiteral("doctorRerunning"));
  headingRow->addWidget(rerunSpinner_);
  headingRow->addWidget(rerunLabel_);
  issuesColumn->addLayout(headingRow);
  cardsLayout_ = new QVBoxLayout;
  cardsLayout_->setSpacing(10);
  issuesColumn->addLayout(cardsLayout_);
  return issuesSection_;
}

// The green banners: no issues, and every issue fixed; and the orange one of
// a check that did not succeed, with why.
void DoctorOutputSheet::buildBanners() {
  auto green = [] { return kGreen; };
  noIssueBanner_ = new TintedPanel(green, 0.10, 0.0, 8, topContent_);
  noIssueBanner_->setObjectName(QStringLiteral("doctorNoIssueBanner"));
  auto* noIssueRow = new QHBoxLayout(noIssueBanner_);
  noIssueRow->setContentsMargins(12, 10, 12, 10);
  noIssueRow->setSpacing(8);
  noIssueRow->addWidget(SymbolView::forFont(QStringLiteral("checkmark.circle.fill"), 14, Theme::role(&Theme::Roles::workingSymbol), noIssueBanner_));
  noIssueText_ = new Label(QString(), 13, QFont::Medium, TextRole::primary, noIssueBanner_);
  noIssueRow->addWidget(noIssueText_, 1);
  topLayout_->addWidget(noIssueBanner_);

  allFixedBanner_ = new TintedPanel(green, 0.10, 0.0, 8, topContent_);
  allFixedBanner_->setObjectName(QStringLiteral("doctorAllFixedBanner"));
  auto* allFixedRow = new QHBoxLayout(allFixedBanner_);
  allFixedRow->setContentsMargins(12, 10, 12, 10);
  allFixedRow->setSpacing(8);
  allFixedRow->addWidget(SymbolView::forFont(QStringLiteral("sparkles"), 14, Theme::role(&Theme::Roles::workingSymbol), allFixedBanner_), 0, Qt::AlignTop);
  allFixedText_ = new Label(QString(), 13, QFont::Medium, TextRole::primary, allFixedBanner_);
  allFixedText_->setWordWrap(true);
  allFixedRow->addWidget(allFixedText_, 1);
  topLayout_->addWidget(allFixedBanner_);

  checkFailedBanner_ = new TintedPanel([] { return Theme::orange; }, 0.10, 0.0, 8, topContent_);
  checkFailedBanner_->setObjectName(QStringLiteral("doctorCheckFailedBanner"));
  auto* checkFailedRow = new QHBoxLayout(checkFailedBanner_);
  checkFailedRow->setContentsMargins(12, 10, 12, 10);
  checkFailedRow->setSpacing(8);
  checkFailedRow->addWidget(
      SymbolView::forFont(QStringLiteral("exclamationmark.triangle.fill"), 14, Theme::role(&Theme::Roles::warningSymbol), checkFailedBanner_), 0,
      Qt::AlignTop);
  auto* checkFailedTexts = new QVBoxLayout;
  checkFailedTexts->setSpacing(2);
  checkFailedTitle_ = new Label(QString(), 13, QFont::Medium, TextRole::primary, checkFailedBanner_);
  checkFailedTitle_->setObjectName(QStringLiteral("doctorCheckFailedTitle"));
  checkFailedReason_ = new Label(QString(), 11.5, QFont::Normal, TextRole::dim, checkFailedBanner_);
  checkFailedReason_->setObjectName(QStringLiteral("doctorCheckFailedReason"));
  checkFailedTexts->addWidget(checkFailedTitle_);
  checkFailedTexts->addWidget(checkFailedReason_);
  checkFailedRow->addLayout(checkFailedTexts, 1);
  topLayout_->addWidget(checkFailedBanner_);
}

// The full output under its heading.
QWidget* DoctorOutputSheet::buildRawOutput(QWidget* content) {
  rawSection_ = new QWidget(content);
  auto* rawColumn = new QVBoxLayout(rawSection_);
  rawColumn->setContentsMargins(0, 0, 0, 0);
  rawColumn->setSpacing(6);
  rawHeading_ = new Label(QString(), 11.5, QFont::DemiBold, TextRole::dim, rawSection_);
  rawHeading_->setObjectName(QStringLiteral("doctorFullOutputHeading"));
  rawColumn->addWidget(rawHeading_);
  transcript_ = new DoctorTranscriptView(rawSection_);
  transcript_->setObjectName(QStringLiteral("doctorTranscript"));
  transcript_->setMinimumHeight(140);
  rawColumn->addWidget(transcript_, 1);
  return rawSection_;
}

// The line about what the doctor does and does not do.
QWidget* DoctorOutputSheet::buildFooter() {
  auto* footerBar = new QWidget(this);
  auto* footerRow = new QHBoxLayout(footerBar);
  footerRow->setContentsMargins(20, 9, 20, 11);
  footerRow->setSpacing(8);
  footerRow->addWidget(SymbolView::forFont(QStringLiteral("info.circle"), 12, TextRole::dim, footerBar),
                       0, Qt::AlignTop);
  footer_ = new Label(QString(), 11, QFont::Normal, TextRole::dim, footerBar);
  footer_->setObjectName(QStringLiteral("doctorFooter"));
  footer_->setWordWrap(true);
  footerRow->addWidget(footer_, 1);
  return footerBar;
}

DoctorOutputSheet::~DoctorOutputSheet() { qDeleteAll(cards_); }

AppLanguage DoctorOutputSheet::language() const { return settings_.language(); }

QString DoctorOutputSheet::locText(const LocKey& key) const { return settings_.text(key); }

void DoctorOutputSheet::setResult(const std::optional<AgentDoctor::Result>& result) {
  model_->presenterResultChanged(result);
}

void DoctorOutputSheet::setAgentName(std::function<QString()> name) {
  agentName_ = std::move(name);
  refresh();
}

void DoctorOutputSheet::refresh() {
  const AppLanguage lang = language();
  closeButton_->setLanguage(lang);
  const std::optional<AgentDoctor::Result>& result = model_->currentResult();
  const QString name = !result ? locText(LocKey::doctorLabel()) : agentName_ ? agentName_() : result->entryDisplayName;
  title_->setPlainText(locText(LocKey::doctorHeaderTitle(name)));
  setWindowTitle(title_->fullText());
  summary_->setVisible(result.has_value());
  if (result) summary_->setPlainText(locText(LocKey::doctorExitInfo(result->exitCode, result->elapsedSeconds)));

  const DoctorOutputModel::Content shown = model_->content();
  noResult_->setVisible(shown == DoctorOutputModel::Content::noResult);
  noResult_->setPlainText(locText(LocKey::doctorNoResult()));
  topArea_->setVisible(shown != DoctorOutputModel::Content::noResult);
  rawSection_->setVisible(result.has_value());
  issuesSection_->setVisible(shown == DoctorOutputModel::Content::issues);
  noIssueBanner_->setVisible(shown == DoctorOutputModel::Content::noIssues);
  allFixedBanner_->setVisible(shown == DoctorOutputModel::Content::allFixed);
  checkFailedBanner_->setVisible(shown == DoctorOutputModel::Content::checkFailed);
  checkFailedTitle_->setPlainText(locText(LocKey::doctorCheckFailed()));
  if (result) checkFailedReason_->setPlainText(AgentDetailLogic::doctorFailureReason(*result, lang));
  noIssueText_->setPlainText(locText(LocKey::doctorNoIssues()));
  allFixedText_->setPlainText(locText(LocKey::doctorAllFixed()));
  rawHeading_->setPlainText(locText(LocKey::doctorFullOutput()));

  if (result) {
    issuesHeading_->setPlainText(locText(LocKey::doctorFoundIssues(result->detectedIssues.size())));
    rerunSpinner_->setVisible(model_->rerunning());
    rerunLabel_->setVisible(model_->rerunning());
    rerunLabel_->setPlainText(locText(LocKey::doctorRediagnosing()));
    if (builtGeneration_ != model_->resultGeneration()) rebuildIssueCards();
    refreshIssueCards();
    if (builtGeneration_ != model_->resultGeneration() || builtLanguage_ != static_cast<int>(lang))
      transcript_->setTranscript(result->combinedOutput(lang));
    builtGeneration_ = model_->resultGeneration();
    builtLanguage_ = static_cast<int>(lang);
  }
  fitIssuesArea();

  const bool withCommand = result && !result->command.isEmpty();
  footer_->setCommandText(withCommand ? locText(AgentDetailLogic::doctorTerminalHint(*result))
                                      : locText(LocKey::doctorDeeperHintGeneric()));
  footer_->setTextInteractionFlags(withCommand ? (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard)
                                               : Qt::NoTextInteraction);
}

void DoctorOutputSheet::rebuildIssueCards() {
  // Old cards may be in the middle of delivering a click: let them go later.
  for (IssueCard* old : cards_) {
    old->card->hide();
    old->card->deleteLater();
    delete old;
  }
  cards_.clear();
  const std::optional<AgentDoctor::Result>& result = model_->currentResult();
  if (!result) return;
  int index = 0;
  for (const AgentDoctor::DetectedIssue& detected : result->detectedIssues) {
    ++index;
    auto* c = new IssueCard;
    c->issue = detected.issue;
    c->fixNotOffered = detected.fixNotOffered;
    c->card = new Card(issuesSection_);
    c->card->setObjectName(QStringLiteral("doctorIssueCard%1").arg(index));
    auto* column = new QVBoxLayout(c->card);
    column->setContentsMargins(12, 10, 12, 10);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    c->number = new Label(QStringLiteral("%1.").arg(index), 13, QFont::DemiBold, TextRole::dim, c->card);
    c->number->setObjectName(QStringLiteral("issueNumber"));
    top->addWidget(c->number, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* title = new Label(detected.issue.title, 13, QFont::DemiBold, TextRole::primary, c->card);
    title->setObjectName(QStringLiteral("issueTitle"));
    title->setWordWrap(true);
    texts->addWidget(title);
    if (detected.issue.detail && !detected.issue.detail->isEmpty()) {
      auto* detail = new Label(*detected.issue.detail, 11.5, QFont::Normal, TextRole::dim, c->card);
      detail->setObjectName(QStringLiteral("issueDetail"));
      detail->setWordWrap(true);
      texts->addWidget(detail);
    }
    auto* matchedRow = new QHBoxLayout;
    matchedRow->setSpacing(6);
    c->matchedLabel = new Label(QString(), 11, QFont::Normal, TextRole::faint, c->card);
    matchedRow->addWidget(c->matchedLabel, 0, Qt::AlignTop);
    auto* snippet = selectableLabel(detected.matchedSnippet, 11, TextRole::dim, c->card);
    snippet->setObjectName(QStringLiteral("issueSnippet"));
    snippet->setFont(Theme::monoFont(11));
    limitLines(snippet, 2);
    matchedRow->addWidget(snippet, 1);
    texts->addLayout(matchedRow);
    top->addLayout(texts, 1);
    column->addLayout(top);

    auto* fixRow = new QHBoxLayout;
    fixRow->setSpacing(8);
    c->fix = makeFixButton(c->card);
    c->fix->setObjectName(QStringLiteral("issueFixButton"));
    c->fix->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const AgentDoctor::KnownIssue issue = detected.issue;
    connect(c->fix, &QAbstractButton::clicked, this, [this, issue] {
      if (model_->fixEnabled(issue.id)) model_->triggerFix(issue);
    });
    fixRow->addWidget(c->fix);
    // A fix whose sub-commands or options this version does not know is
    // not offered; the card says why.
    c->fix->setVisible(detected.fixOffered());
    c->outcomeSymbol = SymbolView::forFont(QStringLiteral("checkmark.circle.fill"), 12, Theme::role(&Theme::Roles::workingSymbol), c->card);
    fixRow->addWidget(c->outcomeSymbol, 0, Qt::AlignVCenter);
    c->outcome = selectableLabel(QString(), 11.5, TextRole::dim, c->card);
    c->outcome->setObjectName(QStringLiteral("issueFixMessage"));
    fixRow->addWidget(c->outcome, 1);
    fixRow->addStretch(0);
    column->addLayout(fixRow);
    cardsLayout_->addWidget(c->card);
    // Shown now, not on a later turn of the loop, so the area's height
    // counts it.
    c->card->show();
    cards_.append(c);
  }
}

void DoctorOutputSheet::fitIssuesArea() {
  // The issues take what they need at the width they get, up to about half
  // of the content; laid out again whenever what they show changes.
  topLayout_->activate();
  const int width = topArea_->viewport()->width();
  const int wanted = topContent_->hasHeightForWidth() && width > 0 ? topContent_->heightForWidth(width)
                                                                   : topContent_->sizeHint().height();
  topArea_->setFixedHeight(std::min(wanted, 250));
}

void DoctorOutputSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  // Now the area has its real width.
  fitIssuesArea();
}

void DoctorOutputSheet::refreshIssueCards() {
  const QString noFixHelp = locText(LocKey::doctorFixDisabledHelp());
  for (IssueCard* c : cards_) {
    c->matchedLabel->setPlainText(locText(LocKey::doctorMatched()));
    const DoctorOutputModel::FixState state = model_->fixState(c->issue.id);
    showFixState(settings_, c->fix, state.kind, c->issue.fix.title);
    c->fix->setEnabled(model_->fixEnabled(c->issue.id));
    c->fix->setToolTip(model_->canApplyFixes() ? c->issue.fix.title : noFixHelp);
    const bool success = state.kind == Kind::success;
    const bool failure = state.kind == Kind::failure;
    c->outcomeSymbol->setVisible(success || failure);
    c->outcomeSymbol->setSymbol(success ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.circle.fill"));
    c->outcomeSymbol->setColor(success ? Theme::role(&Theme::Roles::workingSymbol) : [] { return kRed; });
    // A fix not offered says why in the place of its outcome.
    const bool notOffered = c->fixNotOffered.has_value();
    c->outcome->setVisible(success || failure || notOffered);
    // The reason sets the commands apart; a fix's own message is plain.
    if (notOffered)
      c->outcome->setCommandText(locText(*c->fixNotOffered));
    else
      c->outcome->setPlainText(state.message ? locText(*state.message) : QString());
    c->outcome->setRole(success ? TextRole::success : failure ? TextRole::failure : TextRole::dim);
    if (success) {
      // One line.
      c->outcome->setWordWrap(false);
      c->outcome->setMaximumHeight(QWIDGETSIZE_MAX);
    } else {
      limitLines(c->outcome, 2);
    }
  }
}

}  // namespace tlr
