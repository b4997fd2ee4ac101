#include "ui/backup/RestoreSheet.h"

#include "backup/RestoreEngine.h"
#include "core/stores/SettingsStore.h"
#include "presentation/BackupTexts.h"
#include "presentation/RestoreSession.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/ScrollArea.h"
#include "ui/kit/Theme.h"

#include <QDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tlr {

using backupui::makeLabel;
using backuptext::text;


RestoreSheet::RestoreSheet(std::function<void()> onClose, std::function<void(const QString&)> onAgentRestored,
                           RestoreEngine& engine, const SettingsStore& settings, QWidget* parent)
    : SessionSheet(QSize(520, 560), settings,
                   [&](QObject* sheet) { return new RestoreSession(engine, std::move(onAgentRestored), sheet); },
                   parent) {
  setObjectName(QStringLiteral("restoreSheet"));
  setOnClose(std::move(onClose));
  build();
  connect(session_, &RestoreSession::manifestChanged, this, &RestoreSheet::rebuildAgentRows);
  connect(session_, &RestoreSession::changed, this, &RestoreSheet::refreshState);
  whenLookChanges(this, [this] { retranslate(); });
  retranslate();
}

RestoreSheet::~RestoreSheet() {
  if (confirm_) delete confirm_.data();
}

void RestoreSheet::build() {
  QVBoxLayout* column = addTitleHeaderAndBody(QStringLiteral("restore"), QMargins(24, 16, 24, 20), 10);
  buildSnapshotSection(column);
  buildAgentList(column);
  buildRunSection(column);
  connect(restoreAll_, &QAbstractButton::clicked, this, &RestoreSheet::askRestoreAll);
  connect(retry_, &QAbstractButton::clicked, session_, &RestoreSession::load);
}

// The snapshot: when and where it was made, the cross-device and damaged
// notes, or why there is none.
void RestoreSheet::buildSnapshotSection(QVBoxLayout* column) {
  summary_ = new Card(this);
  auto* summaryColumn = new QVBoxLayout(summary_);
  summaryColumn->setContentsMargins(14, 12, 14, 12);
  found_ = makeLabel(summary_, QStringLiteral("restoreFound"), 13, QFont::DemiBold, TextRole::primary, true);
  // One line: a long device name in it ends in "…".
  when_ = makeLabel(summary_, QStringLiteral("restoreBackupTime"), 11.5, QFont::Normal, TextRole::dim, false);
  when_->setElided(true);
  summaryColumn->addWidget(found_);
  summaryColumn->addWidget(when_);
  column->addWidget(summary_);

  crossCard_ = new Card(this);
  crossCard_->setFill(Theme::withOpacity(Theme::orange, 0.12));
  auto* crossColumn = new QVBoxLayout(crossCard_);
  crossColumn->setContentsMargins(14, 10, 14, 10);
  crossTitle_ = makeLabel(crossCard_, QStringLiteral("restoreCrossDevice"), 12, QFont::DemiBold, TextRole::warning);
  crossBody_ = makeLabel(crossCard_, QStringLiteral("restoreCrossDeviceBody"), 11.5, QFont::Normal, TextRole::dim, true);
  crossColumn->addWidget(crossTitle_);
  crossColumn->addWidget(crossBody_);
  column->addWidget(crossCard_);

  damaged_ = makeLabel(this, QStringLiteral("restoreNewerDamaged"), 11.5, QFont::Medium, TextRole::warning, true);
  column->addWidget(damaged_);

  empty_ = makeLabel(this, QStringLiteral("restoreNoBackup"), 14, QFont::DemiBold, TextRole::primary, true);
  empty_->setAlignment(Qt::AlignHCenter);
  emptyHint_ = makeLabel(this, QStringLiteral("restoreNoBackupHint"), 12, QFont::Normal, TextRole::dim, true);
  emptyHint_->setAlignment(Qt::AlignHCenter);
  column->addWidget(empty_);
  column->addWidget(emptyHint_);
  retry_ = new SecondaryButton(QString(), QStringLiteral("key.fill"), std::nullopt, this);
  retry_->setObjectName(QStringLiteral("restoreRetry"));
  column->addWidget(retry_, 0, Qt::AlignHCenter);
}

// One row per agent of the snapshot, in a scrolling column.
void RestoreSheet::buildAgentList(QVBoxLayout* column) {
  agentsBox_ = new QWidget;
  agentsBox_->setObjectName(QStringLiteral("restoreAgents"));
  agentsColumn_ = new QVBoxLayout(agentsBox_);
  agentsColumn_->setContentsMargins(0, 0, 0, 0);
  agentsColumn_->setSpacing(6);
  agentsColumn_->addStretch(1);
  auto* scroll = new ScrollArea(agentsBox_, this);
  scroll->setObjectName(QStringLiteral("restoreAgentsArea"));
  column->addWidget(scroll, 1);
}

// The stage while a restore runs, its outcome, and "Restore all at once".
void RestoreSheet::buildRunSection(QVBoxLayout* column) {
  stage_ = makeLabel(this, QStringLiteral("restoreStage"), 11.5, QFont::Medium, TextRole::accent);
  stage_->setAlignment(Qt::AlignHCenter);
  column->addWidget(stage_);
  outcome_ = new backupui::MessageLine(QStringLiteral("restoreOutcome"), 11.5, settings_, this);
  column->addWidget(outcome_);
  auto* leftOutBox = new QWidget;
  leftOutBox->setObjectName(QStringLiteral("restoreLeftOut"));
  leftOutColumn_ = new QVBoxLayout(leftOutBox);
  leftOutColumn_->setContentsMargins(0, 0, 0, 0);
  leftOutColumn_->setSpacing(4);
  leftOutColumn_->addStretch(1);
  leftOutArea_ = new ScrollArea(leftOutBox, this);
  leftOutArea_->setObjectName(QStringLiteral("restoreLeftOutArea"));
  leftOutArea_->setMaximumHeight(120);
  leftOutArea_->hide();
  column->addWidget(leftOutArea_);
  restoreAll_ = new PrimaryButton(QString(), QStringLiteral("arrow.clockwise"), this);
  restoreAll_->setObjectName(QStringLiteral("restoreAll"));
  restoreAll_->setLabelFont(14, QFont::DemiBold);
  restoreAll_->setPadding(18, 10);
  column->addWidget(restoreAll_);
}

void RestoreSheet::firstShown() { session_->load(); }

void RestoreSheet::rebuildAgentRows() {
  // The old cards leave the sheet at once (a look-up by name never finds
  // one); they are deleted later, since a click on one may have led here.
  for (const AgentRow& row : rows_) {
    if (!row.button) continue;
    QWidget* card = row.button->parentWidget();
    card->hide();
    card->setParent(nullptr);
    card->deleteLater();
  }
  rows_.clear();
  const std::optional<BackupManifest>& manifest = session_->manifest();
  if (!manifest) return;
  int index = 0;
  for (const BackupManifest::AgentBackup& agent : manifest->agents) {
    auto* card = new Card(agentsBox_);
    card->setObjectName(QStringLiteral("restoreAgentRow_") + agent.id);
    auto* line = new QHBoxLayout(card);
    line->setContentsMargins(12, 8, 12, 8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    AgentRow row;
    row.id = agent.id;
    row.name = session_->agentName(agent.id).value_or(agent.id);
    row.title = makeLabel(card, QStringLiteral("restoreAgentName_") + agent.id, 13, QFont::DemiBold, TextRole::primary);
    row.title->setElided(true);
    row.stats = makeLabel(card, QStringLiteral("restoreAgentStats_") + agent.id, 11, QFont::Normal, TextRole::dim);
    texts->addWidget(row.title);
    texts->addWidget(row.stats);
    line->addLayout(texts, 1);
    row.button = new SecondaryButton(QString(), QStringLiteral("arrow.clockwise"), std::nullopt, card);
    row.button->setObjectName(QStringLiteral("restoreOne_") + agent.id);
    line->addWidget(row.button, 0, Qt::AlignVCenter);
    const QString id = agent.id;
    connect(row.button, &QAbstractButton::clicked, this, [this, id] { askRestoreAgent(id); });
    agentsColumn_->insertWidget(index++, card);
    // Shown now, not at the layout's next turn, so the rows are there when
    // the session's change returns.
    card->show();
    rows_ << row;
  }
}

void RestoreSheet::retranslate() {
  setTitle(text(LocKey::backupRestoreFromBackup()));
  titleCloseButton()->setLanguage(settings_.language());
  found_->setPlainText(text(LocKey::restoreFoundBackup()));
  crossTitle_->setPlainText(text(LocKey::restoreCrossDevice()));
  damaged_->setPlainText(text(LocKey::restoreDamagedNewer()));
  refreshState();
}

void RestoreSheet::refreshState() {
  const RestoreSession& session = *session_;
  const std::optional<BackupManifest>& manifest = session.manifest();
  const bool has = manifest.has_value();
  const bool loading = session.isLoading();
  const bool running = session.isRunning();

  // The snapshot, or why there is none. A volume that could not be read may
  // well hold a backup: that is not "no backups".
  if (manifest) {
    when_->setPlainText(
        text(LocKey::restoreBackupTime(backuptext::shortTime(manifest->createdAt), manifest->device.name)));
    // A long device name is shortened with "…" in the sentence (to about
    // half the card's width), which a reader and the tooltip have whole.
    constexpr int kLongestShownName = 200;
    const QString name = manifest->device.name;
    const QString whole = text(LocKey::restoreCrossDeviceBody(name));
    crossBody_->setPlainText(
        text(LocKey::restoreCrossDeviceBody(QFontMetrics(crossBody_->font()).elidedText(name, Qt::ElideMiddle, kLongestShownName))));
    crossBody_->setToolTip(whole == crossBody_->text() ? QString() : whole);
    crossBody_->setAccessibleName(whole);
  }
  summary_->setVisible(has);
  crossCard_->setVisible(session.isCrossDevice());
  damaged_->setVisible(session.newerIsDamaged());
  const std::optional<EngineMessage>& loadError = session.loadError();
  empty_->setPlainText(text(loading                         ? LocKey::restoreStageVerifying()
                            : session.everyBackupDamaged() ? LocKey::restoreDamagedOnly()
                            : loadError                    ? LocKey::restoreCouldNotRead()
                                                           : LocKey::restoreNoBackup()));
  emptyHint_->setPlainText(text(loadError ? loadError->key : LocKey::restoreNoBackupHint()));
  empty_->setVisible(!has);
  emptyHint_->setVisible(!has && !loading);
  // Reading failed (a wrong or no password, say): it can be tried again from
  // here, the password asked for again; not where trying again cannot help
  // (a tool missing, a damaged backup).
  retry_->setLabel(text(session.loadNeedsPassword() ? LocKey::restoreEnterPasswordAgain() : LocKey::restoreTryAgain()));
  retry_->setVisible(!has && !loading && loadError.has_value() && loadError->retryable);

  // The agents and the restore.
  for (const AgentRow& row : rows_) {
    row.title->setPlainText(row.name);
    if (has) {
      for (const BackupManifest::AgentBackup& agent : manifest->agents) {
        if (agent.id == row.id) row.stats->setPlainText(RestoreSession::agentStats(agent));
      }
    }
    // A short button beside the name; a reader hears whom it restores.
    row.button->setLabel(text(LocKey::restoreOneAgentButton()));
    row.button->setAccessibleName(text(LocKey::restoreOneAgent(row.name)));
    row.button->setEnabled(session.canRestoreAgent());
  }
  restoreAll_->setVisible(has);
  restoreAll_->setEnabled(session.canRestoreAll());
  restoreAll_->setLabel(running ? text(LocKey::restoreBtnInProgress()) : text(LocKey::restoreAllAtOnce()));
  stage_->setPlainText(session.stageText());
  stage_->setVisible(running);
  // A restore that left something out is no plain success: its line says
  // so, in the text colour, over the list of what did not come back.
  if (const QString success = session.successText(); success.isEmpty())
    outcome_->showLatestFailure(session.failure());
  else if (session.leftOut().isEmpty())
    outcome_->showSuccess(success);
  else
    outcome_->showText(success);
  outcome_->setVisible(!running && !outcome_->isEmpty());
  refreshLeftOut();
}

void RestoreSheet::refreshLeftOut() {
  const QList<RestoreGap> gaps = session_->isRunning() ? QList<RestoreGap>() : session_->leftOut();
  while (leftOutLines_.size() > gaps.size()) {
    Label* line = leftOutLines_.takeLast();
    line->hide();
    line->deleteLater();
  }
  while (leftOutLines_.size() < gaps.size()) {
    Label* line = makeLabel(leftOutArea_->widget(), QStringLiteral("restoreLeftOut_%1").arg(leftOutLines_.size()), 11.5,
                            QFont::Normal, TextRole::dim, true);
    leftOutColumn_->insertWidget(static_cast<int>(leftOutLines_.size()), line);
    line->show();
    leftOutLines_ << line;
  }
  // A long path is shortened with "…" in its middle (to about half the
  // sheet's width); the whole line is the tooltip and what a reader hears.
  constexpr int kLongestShownPath = 240;
  for (qsizetype i = 0; i < gaps.size(); ++i) {
    const QString path = RestoreSession::pathOf(gaps[i]);
    const QString whole = text(session_->leftOutLine(gaps[i], path));
    const QString shortPath = QFontMetrics(leftOutLines_[i]->font()).elidedText(path, Qt::ElideMiddle, kLongestShownPath);
    leftOutLines_[i]->setPlainText(text(session_->leftOutLine(gaps[i], shortPath)));
    leftOutLines_[i]->setToolTip(whole == leftOutLines_[i]->text() ? QString() : whole);
    leftOutLines_[i]->setAccessibleName(whole);
  }
  leftOutArea_->setVisible(!gaps.isEmpty());
}

void RestoreSheet::confirmThen(const QString& title, const QString& body, const QString& confirmLabel,
                               std::function<void()> then) {
  if ((confirm_ && confirm_->isVisible()) || session_->isRunning()) return;
  // The kit's alert over the sheet: its warning symbol stands for the "⚠️"
  // the warning text opens its last paragraph with.
  QString message = body;
  message.remove(QStringLiteral("⚠️ "));
  auto* alert = new Alert(title, message, this);
  alert->setObjectName(QStringLiteral("restoreConfirm"));
  // Named as the restore sheet's own parts.
  alert->findChild<QWidget*>(QStringLiteral("alertTitle"))->setObjectName(QStringLiteral("restoreConfirmTitle"));
  alert->findChild<QWidget*>(QStringLiteral("alertMessage"))->setObjectName(QStringLiteral("restoreConfirmBody"));
  alert->addButton(backuptext::text(LocKey::restoreConfirmCancel()), Alert::Role::cancel,
                   QStringLiteral("restoreConfirmCancel"));
  PaintedButton* confirm = alert->addButton(confirmLabel, Alert::Role::destructive, QStringLiteral("restoreConfirmConfirm"));
  confirm_ = alert;
  connect(alert, &Alert::answered, this, [this, alert, confirm, then = std::move(then)](QAbstractButton* button) {
    if (confirm_ == alert) confirm_ = nullptr;
    if (button == confirm) then();
  });
  alert->present();
}

void RestoreSheet::askRestoreAll() {
  if (!session_->manifest()) return;
  confirmThen(text(LocKey::restoreConfirmAllTitle()), text(LocKey::restoreConfirmAllBody()),
              text(LocKey::restoreConfirmAll()), [this] { session_->restoreAll(); });
}

void RestoreSheet::askRestoreAgent(const QString& agentId) {
  const std::optional<QString> name = session_->agentName(agentId);
  if (!name) return;
  confirmThen(text(LocKey::restoreOneAgent(*name)) + QStringLiteral("?"), text(LocKey::restoreConfirmOneBody(*name)),
              text(LocKey::restoreConfirmConfirm()), [this, agentId] { session_->restoreAgent(agentId); });
}

}  // namespace tlr
