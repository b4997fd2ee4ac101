#include "ui/backup/RestoreSheet.h"

#include "backup/RestoreEngine.h"
#include "backup/VolumeLock.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include <memory>

namespace tlr {

using backupui::makeLabel;
using backupui::text;

namespace {

// The confirmation before a restore: a title, the warning and the buttons
// Cancel and the action, painted in the scheme's colours.
class ConfirmDialog final : public QDialog {
 public:
  ConfirmDialog(const QString& title, const QString& body, const QString& confirmLabel, QWidget* parent)
      : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("restoreConfirm"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(10);
    auto* heading = makeLabel(this, QStringLiteral("restoreConfirmTitle"), 14, QFont::DemiBold, TextRole::primary, true);
    heading->setPlainText(title);
    auto* text = makeLabel(this, QStringLiteral("restoreConfirmBody"), 12, QFont::Normal, TextRole::dim, true);
    text->setPlainText(body);
    column->addWidget(heading);
    column->addWidget(text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new SecondaryButton(backupui::text(LocKey::restoreConfirmCancel()), QString(),
                                       Theme::current().textDim, this);
    cancel->setObjectName(QStringLiteral("restoreConfirmCancel"));
    auto* confirm = new SecondaryButton(confirmLabel, QString(), Theme::crash, this);
    confirm->setObjectName(QStringLiteral("restoreConfirmConfirm"));
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    column->addLayout(buttons);
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    connect(confirm, &QAbstractButton::clicked, this, &QDialog::accept);
    setAttribute(Qt::WA_DeleteOnClose);
    // Tall enough for the whole warning at this width.
    setFixedHeight(column->totalHeightForWidth(kWidth));
  }

  static constexpr int kWidth = 380;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const Theme::Roles roles = Theme::current();
    p.fillRect(rect(), roles.background);
    // A hairline, so the dialog stands apart from the sheet under it.
    p.setPen(QPen(roles.contrast(0.15), 1));
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  }
};

QString agentStats(const BackupManifest::AgentBackup& agent) {
  QStringList parts;
  // "1 skill", "2 skills": the English unit is singular for one.
  auto counted = [](qint64 count, const LocKey& unit, const char* singular) {
    return QString::number(count) + QLatin1Char(' ') +
           (count == 1 && backupui::english() ? QString::fromLatin1(singular) : text(unit));
  };
  parts << counted(agent.stats.skills, LocKey::restoreStatSkillsUnit(), "skill");
  parts << text(LocKey::restoreStatMemoryLabel()) + QLatin1Char(' ') + backupui::bytes(agent.stats.memoryBytes);
  parts << counted(agent.stats.tasks, LocKey::restoreStatTasksUnit(), "task");
  parts << backupui::bytes(agent.totalBytes);
  return parts.join(QStringLiteral(" · "));
}

}  // namespace

RestoreSheet::RestoreSheet(std::function<void()> onClose, std::function<void(const QString&)> onAgentRestored,
                           QWidget* parent)
    : RestoreSheet(std::move(onClose), std::move(onAgentRestored), RestoreEngine::shared(), parent) {}

RestoreSheet::RestoreSheet(std::function<void()> onClose, std::function<void(const QString&)> onAgentRestored,
                           RestoreEngine& engine, QWidget* parent)
    : Sheet(QSize(520, 560), parent), onAgentRestored_(std::move(onAgentRestored)), engine_(engine) {
  setObjectName(QStringLiteral("restoreSheet"));
  setOnClose(std::move(onClose));
  build();
  connect(&engine_, &RestoreEngine::stageLabelChanged, this, &RestoreSheet::refreshState);
  connect(&engine_, &RestoreEngine::isRunningChanged, this, &RestoreSheet::refreshState);
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &RestoreSheet::refreshState);
  whenLookChanges(this, [this] { retranslate(); });
  retranslate();
}

RestoreSheet::~RestoreSheet() {
  if (confirm_) delete confirm_.data();
}

void RestoreSheet::build() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(10);
  header_ = new backupui::SheetHeader(QStringLiteral("restore"), this);
  column->addWidget(header_);

  summary_ = new Card(this);
  auto* summaryColumn = new QVBoxLayout(summary_);
  summaryColumn->setContentsMargins(14, 12, 14, 12);
  found_ = makeLabel(summary_, QStringLiteral("restoreFound"), 13, QFont::DemiBold, TextRole::primary, true);
  when_ = makeLabel(summary_, QStringLiteral("restoreBackupTime"), 11.5, QFont::Normal, TextRole::dim, true);
  summaryColumn->addWidget(found_);
  summaryColumn->addWidget(when_);
  column->addWidget(summary_);

  crossCard_ = new Card(this);
  crossCard_->setFill(Theme::withOpacity(Theme::orange, 0.12));
  auto* crossColumn = new QVBoxLayout(crossCard_);
  crossColumn->setContentsMargins(14, 10, 14, 10);
  crossTitle_ = makeLabel(crossCard_, QStringLiteral("restoreCrossDevice"), 12, QFont::DemiBold, TextRole::primary);
  crossTitle_->setColor(Theme::orange);
  crossBody_ = makeLabel(crossCard_, QStringLiteral("restoreCrossDeviceBody"), 11.5, QFont::Normal, TextRole::dim, true);
  crossColumn->addWidget(crossTitle_);
  crossColumn->addWidget(crossBody_);
  column->addWidget(crossCard_);

  damaged_ = makeLabel(this, QStringLiteral("restoreNewerDamaged"), 11.5, QFont::Medium, TextRole::primary, true);
  damaged_->setColor(Theme::orange);
  column->addWidget(damaged_);

  empty_ = makeLabel(this, QStringLiteral("restoreNoBackup"), 14, QFont::DemiBold, TextRole::primary, true);
  empty_->setAlignment(Qt::AlignHCenter);
  emptyHint_ = makeLabel(this, QStringLiteral("restoreNoBackupHint"), 12, QFont::Normal, TextRole::dim, true);
  emptyHint_->setAlignment(Qt::AlignHCenter);
  column->addWidget(empty_);
  column->addWidget(emptyHint_);

  auto* scroll = new QScrollArea(this);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
  agentsBox_ = new QWidget(scroll);
  agentsBox_->setObjectName(QStringLiteral("restoreAgents"));
  agentsBox_->setAutoFillBackground(false);
  agentsColumn_ = new QVBoxLayout(agentsBox_);
  agentsColumn_->setContentsMargins(0, 0, 0, 0);
  agentsColumn_->setSpacing(6);
  agentsColumn_->addStretch(1);
  scroll->setWidget(agentsBox_);
  scroll->viewport()->setAutoFillBackground(false);
  column->addWidget(scroll, 1);

  stage_ = makeLabel(this, QStringLiteral("restoreStage"), 11.5, QFont::Medium, TextRole::accent);
  stage_->setAlignment(Qt::AlignHCenter);
  column->addWidget(stage_);
  outcome_ = new backupui::MessageLine(QStringLiteral("restoreOutcome"), 11.5, this);
  column->addWidget(outcome_);
  restoreAll_ = new PrimaryButton(QString(), QStringLiteral("arrow.clockwise"), this);
  restoreAll_->setObjectName(QStringLiteral("restoreAll"));
  restoreAll_->setLabelFont(14, QFont::DemiBold);
  restoreAll_->setPadding(18, 10);
  column->addWidget(restoreAll_);

  connect(header_->closeButton(), &QAbstractButton::clicked, this, &Sheet::requestClose);
  connect(restoreAll_, &QAbstractButton::clicked, this, &RestoreSheet::askRestoreAll);
}

void RestoreSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  reload();
}

void RestoreSheet::reload() {
  loadError_.reset();
  // The reading runs off the window's thread; a volume that is set up but
  // not attached is attached for that moment (the password prompt, when one
  // is needed, still comes to the window's thread) and detached again, so
  // the engine finds it as it was and attaches it for its own run.
  loading_ = true;
  retranslate();
  engine_.inspect([sheet = QPointer<RestoreSheet>(this)](const std::optional<RestoreError>& error) {
    if (!sheet) return;
    sheet->loading_ = false;
    if (error) sheet->loadError_ = error->message();
    sheet->manifest_ = sheet->engine_.currentManifest();
    sheet->rebuildAgentRows();
    sheet->retranslate();
  });
}

bool RestoreSheet::isCrossDevice() const {
  return manifest_ && manifest_->device.macHashShort != BackupManifest::currentMacHashShort();
}

void RestoreSheet::rebuildAgentRows() {
  for (const AgentRow& row : rows_) {
    if (row.button) row.button->parentWidget()->deleteLater();
  }
  rows_.clear();
  if (!manifest_) return;
  int index = 0;
  for (const BackupManifest::AgentBackup& agent : manifest_->agents) {
    auto* card = new Card(agentsBox_);
    card->setObjectName(QStringLiteral("restoreAgentRow_") + agent.id);
    auto* line = new QHBoxLayout(card);
    line->setContentsMargins(12, 8, 12, 8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    AgentRow row;
    row.id = agent.id;
    row.name = agent.displayName.isEmpty() ? agent.id : agent.displayName;
    row.title = makeLabel(card, QStringLiteral("restoreAgentName_") + agent.id, 13, QFont::DemiBold, TextRole::primary);
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
    rows_ << row;
  }
}

void RestoreSheet::retranslate() {
  header_->setTitle(text(LocKey::backupRestoreFromBackup()));
  found_->setPlainText(text(LocKey::restoreFoundBackup(text(LocKey::backupVolumeTitle()))));
  if (manifest_) {
    when_->setPlainText(text(LocKey::restoreBackupTime(backupui::shortTime(manifest_->createdAt),
                                                       manifest_->device.name)));
    crossBody_->setPlainText(text(LocKey::restoreCrossDeviceBody(manifest_->device.name)));
    for (const AgentRow& row : rows_) {
      const auto agent = std::find_if(manifest_->agents.cbegin(), manifest_->agents.cend(),
                                      [&](const BackupManifest::AgentBackup& a) { return a.id == row.id; });
      row.title->setPlainText(row.name);
      if (agent != manifest_->agents.cend()) row.stats->setPlainText(agentStats(*agent));
      row.button->setLabel(text(LocKey::restoreOneAgent(row.name)));
    }
  }
  crossTitle_->setPlainText(text(LocKey::restoreCrossDevice()));
  // A volume that could not be read may well hold a backup: that is not
  // "no backups".
  empty_->setPlainText(loading_ ? text(LocKey::restoreStageVerifying())
                       : loadError_ ? backupui::pick(QStringLiteral("The backup could not be read"),
                                                     QStringLiteral("无法读取备份"))
                                    : text(LocKey::restoreNoBackup()));
  emptyHint_->setPlainText(loadError_ ? loadError_->text(backupui::english()) : text(LocKey::restoreNoBackupHint()));
  damaged_->setPlainText(backupui::pick(
      QStringLiteral("A newer backup is damaged and cannot be restored; this is the newest one that can."),
      QStringLiteral("有更新的备份已损坏，无法恢复；这是能恢复的最新一份。")));
  if (restoredName_) {
    outcome_->showSuccess(successText());
  } else {
    outcome_->retranslate();
  }
  refreshState();
}

void RestoreSheet::refreshState() {
  const bool has = manifest_.has_value();
  const bool running = engine_.isRunning();
  // Another backup, restore, export or import of this process holds the
  // volume: nothing is offered until it is done.
  const bool blocked = running || VolumeActivity::shared().busy();
  summary_->setVisible(has);
  crossCard_->setVisible(isCrossDevice());
  damaged_->setVisible(has && engine_.damagedNewerCount() > 0);
  empty_->setVisible(!has);
  if (!has && loading_) empty_->setPlainText(text(LocKey::restoreStageVerifying()));
  emptyHint_->setVisible(!has && !loading_);
  restoreAll_->setVisible(has);
  restoreAll_->setEnabled(has && !blocked && !loading_ && !manifest_->agents.isEmpty());
  restoreAll_->setLabel(running ? text(LocKey::restoreBtnInProgress()) : text(LocKey::restoreAllAtOnce()));
  for (const AgentRow& row : rows_) row.button->setEnabled(!blocked && !loading_);
  stage_->setPlainText(running ? engine_.stageLabelText() : QString());
  stage_->setVisible(running);
  outcome_->setVisible(!running && !outcome_->isEmpty());
}

void RestoreSheet::confirmThen(const QString& title, const QString& body, const QString& confirmLabel,
                               std::function<void()> then) {
  if ((confirm_ && confirm_->isVisible()) || engine_.isRunning()) return;
  auto* dialog = new ConfirmDialog(title, body, confirmLabel, this);
  confirm_ = dialog;
  connect(dialog, &QDialog::accepted, this, std::move(then));
  connect(dialog, &QDialog::finished, this, [this, dialog] {
    if (confirm_ == dialog) confirm_ = nullptr;
  });
  dialog->open();
}

void RestoreSheet::askRestoreAll() {
  if (!manifest_) return;
  confirmThen(text(LocKey::restoreConfirmAllTitle()), text(LocKey::restoreConfirmAllBody()),
              text(LocKey::restoreConfirmAll()), [this] { runRestore(std::nullopt); });
}

void RestoreSheet::askRestoreAgent(const QString& agentId) {
  const auto row = std::find_if(rows_.cbegin(), rows_.cend(), [&](const AgentRow& r) { return r.id == agentId; });
  if (row == rows_.cend()) return;
  confirmThen(text(LocKey::restoreOneAgent(row->name)) + QStringLiteral("?"),
              text(LocKey::restoreConfirmOneBody(row->name)), text(LocKey::restoreConfirmConfirm()),
              [this, agentId] { runRestore(agentId); });
}

void RestoreSheet::runRestore(const std::optional<QString>& agentId) {
  // The ids to announce: the one agent, or every agent of the snapshot.
  QStringList ids;
  QString name;
  if (agentId) {
    ids << *agentId;
    const auto row = std::find_if(rows_.cbegin(), rows_.cend(), [&](const AgentRow& r) { return r.id == *agentId; });
    name = row != rows_.cend() ? row->name : *agentId;
  } else if (manifest_) {
    for (const auto& agent : manifest_->agents) ids << agent.id;
  }
  // The announcement must reach the presenter even when this sheet closed
  // meanwhile: the data is back either way.
  auto announce = onAgentRestored_;
  // A request refused because a restore is already under way is answered at
  // once, inside the call, with no error: nothing was restored then. Every
  // other answer comes later and is shown, a failure as well as a success.
  auto inCall = std::make_shared<bool>(true);
  auto done = [sheet = QPointer<RestoreSheet>(this), announce, ids, inCall, all = !agentId,
               name](const std::optional<RestoreError>& error) {
    if (*inCall && !error) return;
    if (!error && announce) {
      for (const QString& id : ids) announce(id);
    }
    if (!sheet) return;
    if (error) {
      sheet->outcome_->showFailure(error->message());
    } else {
      sheet->restoredAll_ = all;
      sheet->restoredName_ = name;
      sheet->outcome_->showSuccess(sheet->successText());
    }
    sheet->refreshState();
  };
  outcome_->clear();
  restoredName_.reset();
  if (agentId) {
    engine_.restoreAgent(*agentId, std::move(done));
  } else {
    engine_.restoreAll(std::move(done));
  }
  *inCall = false;
  refreshState();
}

QString RestoreSheet::successText() const {
  if (!restoredName_) return {};
  if (restoredAll_) return backupui::pick(QStringLiteral("✓ Restored all agents"), QStringLiteral("✓ 已恢复全部 Agent"));
  return backupui::pick(QStringLiteral("✓ Restored "), QStringLiteral("✓ 已恢复 ")) + *restoredName_;
}

}  // namespace tlr
