#include "ui/backup/BackupSheet.h"

#include "backup/BackupEngine.h"
#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "core/AgentDataDiscovery.h"
#include "platform/OffMain.h"
#include "platform/Opener.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tlr {

using backupui::makeLabel;
using backupui::text;

namespace {

struct ScanResult {
  int agents = 0;
  int locations = 0;
  qint64 bytes = 0;
};

struct VolumeFigures {
  std::optional<qint64> used;
  std::optional<qint64> free;
};

}  // namespace

BackupSheet::BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, QWidget* parent)
    : BackupSheet(std::move(installedAgents), std::move(callbacks), BackupEngine::shared(), parent) {}

BackupSheet::BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, BackupEngine& engine,
                         QWidget* parent)
    : Sheet(QSize(520, 600), parent), agents_(std::move(installedAgents)), callbacks_(std::move(callbacks)),
      engine_(engine) {
  setObjectName(QStringLiteral("backupSheet"));
  setOnClose(callbacks_.onClose);
  flashTimer_.setSingleShot(true);
  flashTimer_.setInterval(kFlashMilliseconds);
  connect(&flashTimer_, &QTimer::timeout, this, &BackupSheet::refreshState);
  build();

  connect(&engine_, &BackupEngine::stageLabelChanged, this, &BackupSheet::refreshState);
  connect(&engine_, &BackupEngine::isRunningChanged, this, &BackupSheet::refreshState);
  connect(&engine_, &BackupEngine::lastErrorChanged, this, &BackupSheet::refreshState);
  connect(&engine_, &BackupEngine::lastBackupChanged, this, &BackupSheet::refreshState);
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &BackupSheet::refreshState);
  whenLookChanges(this, [this] { retranslate(); });
  retranslate();
}

BackupSheet::~BackupSheet() {
  // The setup sheet is our child and goes with us; it must not call back
  // into a sheet that is being destroyed.
  if (setup_) disconnect(setup_, nullptr, this, nullptr);
}

void BackupSheet::build() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(10);
  header_ = new backupui::SheetHeader(QStringLiteral("backup"), this);
  column->addWidget(header_);

  // ---- the volume ----
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

  // ---- the last backup ----
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

  // ---- scan and back up ----
  auto* scanRow = new QHBoxLayout;
  scanResult_ = makeLabel(this, QStringLiteral("backupScanResult"), 11.5, QFont::Normal, TextRole::dim, true);
  scanButton_ = new SecondaryButton(QString(), QStringLiteral("arrow.clockwise"), std::nullopt, this);
  scanButton_->setObjectName(QStringLiteral("backupScan"));
  scanRow->addWidget(scanResult_, 1);
  scanRow->addWidget(scanButton_);
  column->addLayout(scanRow);
  backupButton_ = new PrimaryButton(QString(), QStringLiteral("archivebox"), this);
  backupButton_->setObjectName(QStringLiteral("backupNow"));
  backupButton_->setLabelFont(14, QFont::DemiBold);
  backupButton_->setPadding(18, 10);
  column->addWidget(backupButton_);
  stage_ = makeLabel(this, QStringLiteral("backupStage"), 11.5, QFont::Medium, TextRole::accent);
  stage_->setAlignment(Qt::AlignHCenter);
  column->addWidget(stage_);
  error_ = new backupui::MessageLine(QStringLiteral("backupError"), 11.5, this);
  column->addWidget(error_);
  column->addStretch(1);

  // ---- hand-over ----
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

  connect(header_->closeButton(), &QAbstractButton::clicked, this, &Sheet::requestClose);
  connect(scanButton_, &QAbstractButton::clicked, this, &BackupSheet::scan);
  connect(backupButton_, &QAbstractButton::clicked, this, &BackupSheet::backUpNow);
  connect(setupButton_, &QAbstractButton::clicked, this, &BackupSheet::openFirstTimeSetup);
  connect(reveal_, &QAbstractButton::clicked, this, [] {
    if (const std::optional<QString> image = BackupVolume::imageURL()) Opener::reveal(*image);
  });
  auto handOverTo = [this](const std::function<void()>& callback) {
    return [this, callback] {
      if (callback) callback();
    };
  };
  connect(restore_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenRestore));
  connect(exportUsb_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenUSBExport));
  connect(importUsb_, &QAbstractButton::clicked, this, handOverTo(callbacks_.onOpenUSBImport));
}

void BackupSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  // The volume may hold a newer snapshot than the one this process knows of
  // (a backup from an earlier run, an imported image). This reads only a
  // mounted volume's manifest and never mounts.
  engine_.refreshLastBackupFromVolume();
  refreshVolume();
  scan();
}

void BackupSheet::refreshVolume() {
  const std::optional<QString> image = BackupVolume::exists() ? BackupVolume::imageURL() : std::nullopt;
  if (!image) {
    volumeUsed_.reset();
    hostFree_.reset();
    refreshState();
    return;
  }
  const QString path = *image;
  runOffMain(
      this,
      [path] {
        VolumeFigures figures;
        figures.used = BackupVolume::directorySize(path);
        figures.free = BackupVolume::hostFreeSpace();
        return figures;
      },
      [this](VolumeFigures figures) {
        volumeUsed_ = figures.used;
        hostFree_ = figures.free;
        refreshState();
      });
}

void BackupSheet::scan() {
  if (scanning_) return;
  scanning_ = true;
  refreshState();
  runOffMain(
      this,
      [agents = agents_] {
        ScanResult result;
        for (const AgentEntry& entry : agents) {
          const QList<DiscoveredPath> found = AgentDataDiscovery::discover(entry);
          if (found.isEmpty()) continue;
          ++result.agents;
          result.locations += int(found.size());
          for (const DiscoveredPath& place : found) result.bytes += BackupVolume::directorySize(place.path());
        }
        return result;
      },
      [this](ScanResult result) {
        scanning_ = false;
        scanned_ = true;
        discoveredAgents_ = result.agents;
        discoveredLocations_ = result.locations;
        estimateBytes_ = result.bytes;
        refreshState();
      });
}

void BackupSheet::backUpNow() {
  if (engine_.isRunning() || !BackupVolume::exists() || VolumeActivity::shared().busy()) return;
  flashTimer_.stop();
  engine_.runBackup(agents_, guarded(this, [](BackupSheet* sheet, const BackupEngine::Result& result) {
                      if (result.ok()) sheet->flashTimer_.start();
                      sheet->refreshVolume();
                      sheet->refreshState();
                    }));
  refreshState();
}

void BackupSheet::openFirstTimeSetup() {
  if (setup_) return;
  auto* setup = new FirstTimeSetupSheet({}, {}, this);
  setup_ = setup;
  setup->setOnClose([setup] { setup->dismiss(); });
  // When the image exists the volume card turns into its figures at once.
  connect(setup, &Sheet::dismissed, this, [this] {
    refreshVolume();
    engine_.refreshLastBackupFromVolume();
  });
  setup->present();
}

void BackupSheet::retranslate() {
  header_->setTitle(text(LocKey::backupSheetTitle()));
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
  const bool hasImage = BackupVolume::exists();
  const std::optional<QString> image = BackupVolume::imageURL();

  // The volume card: its figures, or the way to set one up.
  if (hasImage && image)
    volumePath_->setPathText(*image);
  else
    volumePath_->setPlainText(text(LocKey::backupNotSet()));
  volumeSpace_->setVisible(hasImage);
  reveal_->setVisible(hasImage);
  setupHint_->setVisible(!hasImage);
  setupButton_->setVisible(!hasImage);
  volumeSpace_->setPlainText(text(LocKey::backupOccupiedFree(backupui::bytes(volumeUsed_.value_or(0)),
                                                             hostFree_ ? backupui::bytes(*hostFree_) : QStringLiteral("—"))));

  // The last backup.
  const auto& last = engine_.lastBackup();
  if (last) {
    statTime_->setPlainText(backupui::shortTime(last->timestamp));
    statSize_->setPlainText(backupui::bytes(last->totalBytes));
    statAgents_->setPlainText(text(LocKey::backupStatAgentCountValue(last->agentCount)));
  } else {
    statTime_->setPlainText(text(LocKey::backupNeverYet()));
    statSize_->setPlainText(QStringLiteral("—"));
    statAgents_->setPlainText(QStringLiteral("—"));
  }
  lastCard_->setHighlighted(isFlashing());

  // The scan.
  if (scanning_) {
    scanResult_->setPlainText(text(LocKey::backupScanScanning()));
  } else if (scanned_) {
    scanResult_->setPlainText(text(LocKey::backupScanResult(
        text(LocKey::backupAgentLocation(discoveredAgents_, discoveredLocations_)) + QStringLiteral(" · ~") +
        backupui::bytes(estimateBytes_))));
  } else {
    scanResult_->setPlainText(last ? QString() : text(LocKey::backupNeverBackedUp()));
  }
  scanButton_->setLabel(scanning_ ? text(LocKey::backupBtnScanning()) : text(LocKey::backupBtnScan()));
  scanButton_->setEnabled(!scanning_);

  // Back up now.
  const bool running = engine_.isRunning();
  const bool nothing = scanned_ && !scanning_ && discoveredAgents_ == 0;
  if (running) {
    backupButton_->setLabel(text(LocKey::backupBtnInProgress()));
  } else if (nothing) {
    backupButton_->setLabel(text(LocKey::backupBtnNothingToBackup()));
  } else {
    backupButton_->setLabel(text(LocKey::backupBtnBackup()));
  }
  backupButton_->setSymbol(isFlashing() ? QStringLiteral("checkmark") : QStringLiteral("archivebox"));
  // While a backup, restore, export or import of this process uses the
  // volume, no other is offered (the engines refuse them all the same).
  const bool busy = running || VolumeActivity::shared().busy();
  backupButton_->setEnabled(hasImage && !busy && !nothing);
  restore_->setEnabled(bool(callbacks_.onOpenRestore) && !busy);
  exportUsb_->setEnabled(bool(callbacks_.onOpenUSBExport) && !busy);
  importUsb_->setEnabled(bool(callbacks_.onOpenUSBImport) && !busy);
  stage_->setPlainText(running ? engine_.stageLabelText() : QString());
  stage_->setVisible(running);
  if (running || !engine_.lastFailure()) {
    error_->clear();
  } else if (error_->isEmpty() || !error_->showsFailure()) {
    error_->showFailure(*engine_.lastFailure());
  } else {
    error_->retranslate();
  }
}

}  // namespace tlr
