#include "ui/backup/BackupSheet.h"

#include "backup/BackupEngine.h"
#include "core/stores/SettingsStore.h"
#include "presentation/BackupSession.h"
#include "presentation/BackupTexts.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tlr {

using backupui::makeLabel;
using backuptext::text;

BackupSheet::BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, BackupEngine& engine,
                         const SettingsStore& settings, QWidget* parent)
    : SessionSheet(QSize(520, 600), settings,
                   [&](QObject* sheet) { return new BackupSession(std::move(installedAgents), engine, sheet); }, parent),
      callbacks_(std::move(callbacks)) {
  setObjectName(QStringLiteral("backupSheet"));
  setOnClose(callbacks_.onClose);
  build();
  connect(session_, &BackupSession::changed, this, &BackupSheet::refreshState);
  whenLookChanges(this, [this] { retranslate(); });
  retranslate();
}

BackupSheet::~BackupSheet() {
  // The setup sheet is our child and goes with us; it must not call back
  // into a sheet that is being destroyed.
  if (setup_) {
    disconnect(setup_, nullptr, this, nullptr);
    disconnect(setup_, nullptr, session_, nullptr);
  }
}

void BackupSheet::build() {
  QVBoxLayout* column = addTitleHeaderAndBody(QStringLiteral("backup"), QMargins(24, 16, 24, 20), 10);
  buildVolumeSection(column);
  buildLastBackupSection(column);
  buildBackUpSection(column);
  column->addStretch(1);
  buildHandOverSection(column);
  connectControls();
}

// The volume's card: its place and figures, or the way to set one up.
void BackupSheet::buildVolumeSection(QVBoxLayout* column) {
  volumeTitle_ = new SectionTitle(QString(), this);
  column->addWidget(volumeTitle_);
  volumeCard_ = new Card(this);
  auto* volumeColumn = new QVBoxLayout(volumeCard_);
  volumeColumn->setContentsMargins(14, 12, 14, 12);
  volumeColumn->setSpacing(6);
  auto* pathRow = new QHBoxLayout;
  volumePath_ = makeLabel(volumeCard_, QStringLiteral("backupVolumePath"), 12, QFont::Medium, TextRole::primary, true);
  reveal_ = new SecondaryButton(QString(), QStringLiteral("folder.fill"), std::nullopt, volumeCard_);
  reveal_->setObjectName(QStringLiteral("backupShowInFinder"));
  pathRow->addWidget(volumePath_, 1);
  pathRow->addWidget(reveal_, 0, Qt::AlignVCenter);
  volumeColumn->addLayout(pathRow);
  volumeSpace_ = makeLabel(volumeCard_, QStringLiteral("backupVolumeSpace"), 11, QFont::Normal, TextRole::dim);
  volumeColumn->addWidget(volumeSpace_);
  setupHint_ = makeLabel(volumeCard_, QStringLiteral("backupSetupHint"), 11.5, QFont::Normal, TextRole::dim, true);
  volumeColumn->addWidget(setupHint_);
  setupButton_ = new PrimaryButton(QString(), QStringLiteral("lock.fill"), volumeCard_);
  setupButton_->setObjectName(QStringLiteral("backupSetupVolume"));
  volumeColumn->addWidget(setupButton_, 0, Qt::AlignLeft);
  column->addWidget(volumeCard_);
}

// The last backup's time, size and agent count, side by side.
void BackupSheet::buildLastBackupSection(QVBoxLayout* column) {
  lastTitle_ = new SectionTitle(QString(), this);
  column->addWidget(lastTitle_);
  lastCard_ = new Card(this);
  lastCard_->setObjectName(QStringLiteral("backupLastCard"));
  auto* stats = new QGridLayout(lastCard_);
  stats->setContentsMargins(14, 12, 14, 12);
  stats->setHorizontalSpacing(18);
  stats->setVerticalSpacing(2);
  statTimeTitle_ = makeLabel(lastCard_, QStringLiteral("backupStatTimeTitle"), 10.5, QFont::Medium, TextRole::faint);
  statSizeTitle_ = makeLabel(lastCard_, QStringLiteral("backupStatSizeTitle"), 10.5, QFont::Medium, TextRole::faint);
  statAgentsTitle_ =
      makeLabel(lastCard_, QStringLiteral("backupStatAgentCountTitle"), 10.5, QFont::Medium, TextRole::faint);
  statTime_ = makeLabel(lastCard_, QStringLiteral("backupStatTime"), 14, QFont::DemiBold, TextRole::primary);
  statSize_ = makeLabel(lastCard_, QStringLiteral("backupStatSize"), 14, QFont::DemiBold, TextRole::primary);
  statAgents_ = makeLabel(lastCard_, QStringLiteral("backupStatAgentCount"), 14, QFont::DemiBold, TextRole::primary);
  stats->addWidget(statTimeTitle_, 0, 0);
  stats->addWidget(statSizeTitle_, 0, 1);
  stats->addWidget(statAgentsTitle_, 0, 2);
  stats->addWidget(statTime_, 1, 0);
  stats->addWidget(statSize_, 1, 1);
  stats->addWidget(statAgents_, 1, 2);
  stats->setColumnStretch(0, 2);
  stats->setColumnStretch(1, 1);
  stats->setColumnStretch(2, 1);
  column->addWidget(lastCard_);
}

// The scan's line and button, "Back up now", its stage and its failure.
void BackupSheet::buildBackUpSection(QVBoxLayout* column) {
  auto* scanRow = new QHBoxLayout;
  scanResult_ = makeLabel(this, QStringLiteral("backupScanResult"), 11.5, QFont::Normal, TextRole::dim, true);
  scanButton_ = new SecondaryButton(QString(), QStringLiteral("arrow.clockwise"), std::nullopt, this);
  scanButton_->setObjectName(QStringLiteral("backupScan"));
  scanRow->addWidget(scanResult_, 1);
  scanRow->addWidget(scanButton_);
  column->addLayout(scanRow);
  exclusions_ = makeLabel(this, QStringLiteral("backupExclusions"), 10.5, QFont::Normal, TextRole::dim, true);
  column->addWidget(exclusions_);
  backupButton_ = new PrimaryButton(QString(), QStringLiteral("archivebox"), this);
  backupButton_->setObjectName(QStringLiteral("backupNow"));
  backupButton_->setLabelFont(14, QFont::DemiBold);
  backupButton_->setPadding(18, 10);
  column->addWidget(backupButton_);
  stage_ = makeLabel(this, QStringLiteral("backupStage"), 11.5, QFont::Medium, TextRole::accent);
  stage_->setAlignment(Qt::AlignHCenter);
  column->addWidget(stage_);
  error_ = new backupui::MessageLine(QStringLiteral("backupError"), 11.5, settings_, this);
  column->addWidget(error_);
}

// The buttons that hand over to the restore and USB sheets.
void BackupSheet::buildHandOverSection(QVBoxLayout* column) {
  auto* handOver = new QHBoxLayout;
  handOver->setSpacing(8);
  restore_ = new SecondaryButton(QString(), QStringLiteral("arrow.clockwise.circle.fill"), std::nullopt, this);
  restore_->setObjectName(QStringLiteral("backupRestoreFromBackup"));
  exportUsb_ = new SecondaryButton(QString(), QStringLiteral("externaldrive"), std::nullopt, this);
  exportUsb_->setObjectName(QStringLiteral("backupExportUSB"));
  importUsb_ = new SecondaryButton(QString(), QStringLiteral("arrow.down.app"), std::nullopt, this);
  importUsb_->setObjectName(QStringLiteral("backupImportUSB"));
  handOver->addWidget(restore_);
  handOver->addWidget(exportUsb_);
  handOver->addWidget(importUsb_);
  column->addLayout(handOver);
}

void BackupSheet::connectControls() {
  connect(scanButton_, &QAbstractButton::clicked, session_, &BackupSession::scan);
  connect(backupButton_, &QAbstractButton::clicked, session_, &BackupSession::backUpNow);
  connect(setupButton_, &QAbstractButton::clicked, this, &BackupSheet::openFirstTimeSetup);
  connect(reveal_, &QAbstractButton::clicked, session_, &BackupSession::revealImage);
  connect(session_, &BackupSession::revealFailed, this, [this](const QString& folder, const LocKey& reason) {
    Alert::presentOpenFailed(settings_, folder, reason, /*folder=*/true, this);
  });
  auto handOverTo = [](const std::function<void()>& callback) {
    return [callback] {
      if (callback) callback();
    };
  };
  connect(restore_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenRestore));
  connect(exportUsb_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenUSBExport));
  connect(importUsb_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenUSBImport));
}

void BackupSheet::firstShown() { session_->open(); }

void BackupSheet::openFirstTimeSetup() {
  if (setup_) return;
  auto* setup = new FirstTimeSetupSheet({}, {}, settings_, this);
  setup_ = setup;
  setup->setOnClose([setup] { setup->dismiss(); });
  connect(setup, &Sheet::dismissed, session_, &BackupSession::setupEnded);
  setup->present();
}

void BackupSheet::retranslate() {
  setTitle(text(LocKey::backupSheetTitle()));
  titleCloseButton()->setLanguage(settings_.language());
  volumeTitle_->setTitle(text(LocKey::backupVolumeTitle()));
  reveal_->setLabel(text(LocKey::backupShowInFinder()));
  setupHint_->setPlainText(text(LocKey::backupSetupHint()));
  setupButton_->setLabel(text(LocKey::backupSetupVolume()));
  lastTitle_->setTitle(text(LocKey::backupLast()));
  statTimeTitle_->setPlainText(text(LocKey::backupStatTime()));
  statSizeTitle_->setPlainText(text(LocKey::backupStatSize()));
  statAgentsTitle_->setPlainText(text(LocKey::backupStatAgentCount()));
  restore_->setLabel(text(LocKey::backupRestoreFromBackup()));
  exportUsb_->setLabel(text(LocKey::backupExportUSB()));
  importUsb_->setLabel(text(LocKey::backupImportUSB()));
  refreshState();
}

void BackupSheet::refreshState() {
  const BackupSession& session = *session_;
  const bool hasImage = session.hasImage();

  // The volume card: its figures, or the way to set one up.
  // Where the image is kept: its stored file name is no word of this window.
  if (const std::optional<QString> image = session.imagePath())
    volumePath_->setPathText(QFileInfo(*image).path());
  else
    volumePath_->setPlainText(text(LocKey::backupNotSet()));
  volumeSpace_->setVisible(hasImage);
  reveal_->setVisible(hasImage);
  setupHint_->setVisible(!hasImage);
  setupButton_->setVisible(!hasImage);
  const std::optional<qint64> free = session.hostFree();
  volumeSpace_->setPlainText(text(LocKey::backupOccupiedFree(backuptext::bytes(session.volumeUsed().value_or(0)),
                                                             free ? backuptext::bytes(*free) : QStringLiteral("—"))));

  // The last backup.
  const auto& last = session.lastBackup();
  if (last) {
    statTime_->setPlainText(backuptext::shortTime(last->timestamp));
    statSize_->setPlainText(backuptext::bytes(last->totalBytes));
    statAgents_->setPlainText(text(LocKey::backupStatAgentCountValue(last->agentCount)));
  } else {
    statTime_->setPlainText(text(LocKey::backupNeverYet()));
    statSize_->setPlainText(QStringLiteral("—"));
    statAgents_->setPlainText(QStringLiteral("—"));
  }
  lastCard_->setHighlighted(session.isFlashing());

  // The scan.
  const bool scanning = session.isScanning();
  if (scanning) {
    scanResult_->setPlainText(text(LocKey::backupScanScanning()));
  } else if (session.hasScanned()) {
    scanResult_->setPlainText(text(LocKey::backupScanResult(
        text(LocKey::backupAgentLocation(session.discoveredAgentCount(), session.discoveredLocationCount())) +
        QStringLiteral(" · ~") + backuptext::bytes(session.estimateBytes()))));
  } else {
    scanResult_->setPlainText(last ? QString() : text(LocKey::backupNeverBackedUp()));
  }
  exclusions_->setPlainText(session.exclusionsText());
  exclusions_->setVisible(!exclusions_->text().isEmpty());
  scanButton_->setLabel(scanning ? text(LocKey::backupBtnScanning()) : text(LocKey::backupBtnScan()));
  scanButton_->setEnabled(!scanning);

  // Back up now, and the hand-over buttons, offered only while nothing else
  // uses the volume.
  const bool running = session.isRunning();
  if (running) {
    backupButton_->setLabel(text(LocKey::backupBtnInProgress()));
  } else if (session.nothingToBackUp()) {
    backupButton_->setLabel(text(LocKey::backupBtnNothingToBackup()));
  } else {
    backupButton_->setLabel(text(LocKey::backupBtnBackup()));
  }
  backupButton_->setSymbol(session.isFlashing() ? QStringLiteral("checkmark") : QStringLiteral("archivebox"));
  backupButton_->setEnabled(session.canBackUp());
  const bool busy = session.volumeInUse();
  restore_->setEnabled(bool(callbacks_.onOpenRestore) && !busy);
  exportUsb_->setEnabled(bool(callbacks_.onOpenUSBExport) && !busy);
  importUsb_->setEnabled(bool(callbacks_.onOpenUSBImport) && !busy);
  stage_->setPlainText(session.stageText());
  stage_->setVisible(running);
  // The failure, else what the backup left out.
  if (const std::optional<EngineMessage> failure = session.failure())
    error_->showLatestFailure(failure);
  else
    error_->showText(session.leftOutText());
}

}  // namespace tlr
