#include "ui/backup/USBMigrationSheet.h"

#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/VolumeLock.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

namespace tlr {

using backupui::makeLabel;
using backupui::text;

QString USBMigrationSheet::importedImagePath() {
  return QDir::homePath() + QLatin1Char('/') + QString::fromUtf8(USBMigration::kImageName);
}

QString USBMigrationSheet::speedText(const USBMigration::ExportProgress& progress) {
  return text(LocKey::usbExportSpeed(QString::number(progress.bytesPerSecond / 1'000'000.0, 'f', 1)));
}

QString USBMigrationSheet::etaText(const USBMigration::ExportProgress& progress) {
  if (progress.bytesPerSecond <= 0 || progress.bytesTotal <= 0) return text(LocKey::usbExportEtaCalculating());
  const double left = double(std::max<qint64>(0, progress.bytesTotal - progress.bytesWritten));
  const qint64 seconds = qint64(std::ceil(left / progress.bytesPerSecond));
  if (seconds < 60) return text(LocKey::usbExportEtaSeconds(seconds));
  return text(LocKey::usbExportEtaMinutes((seconds + 59) / 60));
}

USBMigrationSheet::USBMigrationSheet(Mode mode, QList<AgentEntry> installedAgents, std::function<void()> onClose,
                                     QWidget* parent, VolumeLister listVolumes)
    : Sheet(QSize(500, 560), parent), mode_(mode), agents_(std::move(installedAgents)),
      listVolumes_(std::move(listVolumes)) {
  setObjectName(mode == Mode::exportPkg ? QStringLiteral("usbExportSheet") : QStringLiteral("usbImportSheet"));
  setOnClose(std::move(onClose));
  build();
  whenLookChanges(this, [this] { retranslate(); });
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &USBMigrationSheet::refreshState);
  retranslate();
}

USBMigrationSheet::~USBMigrationSheet() {
  if (password_) password_->wipe();
}

void USBMigrationSheet::build() {
  const bool exporting = mode_ == Mode::exportPkg;
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(10);
  header_ = new backupui::SheetHeader(QStringLiteral("usb"), this);
  column->addWidget(header_);
  intro_ = makeLabel(this, QStringLiteral("usbIntro"), 12, QFont::Normal, TextRole::dim, true);
  column->addWidget(intro_);

  auto* drivesRow = new QHBoxLayout;
  drivesTitle_ = new SectionTitle(QString(), this);
  refresh_ = new IconButton(QStringLiteral("arrow.clockwise"), QString(), 22, this);
  refresh_->setObjectName(QStringLiteral("usbRefresh"));
  drivesRow->addWidget(drivesTitle_, 1);
  drivesRow->addWidget(refresh_);
  column->addLayout(drivesRow);
  drivesBox_ = new QWidget(this);
  drivesColumn_ = new QVBoxLayout(drivesBox_);
  drivesColumn_->setContentsMargins(0, 0, 0, 0);
  drivesColumn_->setSpacing(4);
  column->addWidget(drivesBox_);
  noDrives_ = makeLabel(this, QStringLiteral("usbNoDrives"), 11.5, QFont::Normal, TextRole::dim, true);
  column->addWidget(noDrives_);

  if (!exporting) {
    detailsTitle_ = new SectionTitle(QString(), this);
    column->addWidget(detailsTitle_);
    details_ = new Card(this);
    details_->setObjectName(QStringLiteral("usbPackageDetails"));
    auto* grid = new QGridLayout(details_);
    grid->setContentsMargins(14, 10, 14, 10);
    grid->setVerticalSpacing(4);
    auto addRow = [&](int row, Label*& title, Label*& value, const QString& name) {
      title = makeLabel(details_, name + QStringLiteral("Title"), 11.5, QFont::Normal, TextRole::dim);
      value = makeLabel(details_, name, 11.5, QFont::Medium, TextRole::primary);
      value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid->addWidget(title, row, 0);
      grid->addWidget(value, row, 1);
    };
    addRow(0, rowDeviceTitle_, rowDevice_, QStringLiteral("usbRowSourceDevice"));
    addRow(1, rowOSTitle_, rowOS_, QStringLiteral("usbRowOS"));
    addRow(2, rowSizeTitle_, rowSize_, QStringLiteral("usbRowBackupSize"));
    addRow(3, rowAgentsTitle_, rowAgents_, QStringLiteral("usbRowAgentCount"));
    column->addWidget(details_);
    passwordPrompt_ = makeLabel(this, QStringLiteral("usbPasswordPrompt"), 12, QFont::DemiBold, TextRole::primary, true);
    passwordHint_ = makeLabel(this, QStringLiteral("usbPasswordHint"), 11, QFont::Normal, TextRole::dim, true);
    password_ = new backupui::SecureField(this);
    password_->setObjectName(QStringLiteral("usbPassword"));
    column->addWidget(passwordPrompt_);
    column->addWidget(passwordHint_);
    column->addWidget(password_);
    connect(password_, &QLineEdit::textChanged, this, &USBMigrationSheet::refreshState);
    connect(password_, &QLineEdit::returnPressed, this, &USBMigrationSheet::start);
  } else {
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("usbProgress"));
    bar_->setRange(0, 1000);
    bar_->setTextVisible(false);
    bar_->setFixedHeight(6);
    column->addWidget(bar_);
    auto* figures = new QGridLayout;
    progressSize_ = makeLabel(this, QStringLiteral("usbProgressSize"), 11.5, QFont::Medium, TextRole::primary);
    progressFiles_ = makeLabel(this, QStringLiteral("usbProgressFiles"), 11.5, QFont::Normal, TextRole::dim);
    speed_ = makeLabel(this, QStringLiteral("usbSpeed"), 11.5, QFont::Normal, TextRole::dim);
    eta_ = makeLabel(this, QStringLiteral("usbEta"), 11.5, QFont::Normal, TextRole::dim);
    speed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    eta_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    figures->addWidget(progressSize_, 0, 0);
    figures->addWidget(speed_, 0, 1);
    figures->addWidget(progressFiles_, 1, 0);
    figures->addWidget(eta_, 1, 1);
    column->addLayout(figures);
  }

  status_label_ = new backupui::MessageLine(QStringLiteral("usbStatus"), 12, this);
  column->addWidget(status_label_);
  column->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cancelButton_ = new SecondaryButton(QString(), QString(), Theme::crash, this);
  cancelButton_->setObjectName(QStringLiteral("usbCancel"));
  action_ = new PrimaryButton(QString(), exporting ? QStringLiteral("externaldrive") : QStringLiteral("arrow.down.app"),
                              this);
  action_->setObjectName(QStringLiteral("usbAction"));
  buttons->addWidget(cancelButton_);
  buttons->addWidget(action_);
  column->addLayout(buttons);

  connect(header_->closeButton(), &QAbstractButton::clicked, this, &Sheet::requestClose);
  connect(refresh_, &QAbstractButton::clicked, this, &USBMigrationSheet::refreshVolumes);
  connect(cancelButton_, &QAbstractButton::clicked, this, &USBMigrationSheet::requestCancel);
  connect(action_, &QAbstractButton::clicked, this, [this] {
    if (done_) {
      requestClose();
    } else {
      start();
    }
  });
  // The typed password does not outlive the sheet's time on screen.
  connect(this, &Sheet::dismissed, this, [this] {
    if (password_) password_->wipe();
  });
}

void USBMigrationSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  refreshVolumes();
}

void USBMigrationSheet::refreshVolumes() {
  if (running_) return;
  volumes_ = listVolumes_ ? listVolumes_() : QStringList();
  hasPackage_.clear();
  for (const QString& volume : volumes_) hasPackage_ << USBMigration::hasMigrationPackage(volume);
  if (selection_ && !volumes_.contains(*selection_)) {
    selection_.reset();
    preview_.reset();
  }
  // One volume is the obvious choice; in import mode, the one with a package.
  if (!selection_) {
    for (int i = 0; i < volumes_.size(); ++i) {
      if (mode_ == Mode::exportPkg || hasPackage_[i]) {
        selection_ = volumes_[i];
        break;
      }
    }
  }
  rebuildVolumeList();
  if (mode_ == Mode::importPkg) loadPreview();
  retranslate();
}

void USBMigrationSheet::select(const QString& volume) {
  if (running_ || !volumes_.contains(volume)) return;
  if (selection_ != volume) {
    selection_ = volume;
    preview_.reset();
    if (!done_) clearStatus();
    if (mode_ == Mode::importPkg) loadPreview();
  }
  rebuildVolumeList();
  refreshState();
}

QString USBMigrationSheet::volumeLabel(int index) const {
  // The volume's name (its full place is the tooltip), and whether it holds
  // a package.
  QString label = QDir(volumes_[index]).dirName();
  if (hasPackage_.value(index)) label += QStringLiteral("  ·  ") + text(LocKey::usbHasMigration());
  return label;
}

void USBMigrationSheet::rebuildVolumeList() {
  qDeleteAll(driveButtons_);
  driveButtons_.clear();
  for (int i = 0; i < volumes_.size(); ++i) {
    const QString volume = volumes_[i];
    auto* button = new PillButton(volumeLabel(i), drivesBox_);
    button->setToolTip(volume);
    button->setObjectName(QStringLiteral("usbVolume_%1").arg(i));
    button->setSelected(selection_ == volume);
    connect(button, &QAbstractButton::clicked, this, [this, volume] { select(volume); });
    drivesColumn_->addWidget(button);
    driveButtons_ << button;
  }
}

void USBMigrationSheet::loadPreview() {
  preview_.reset();
  if (!selection_) return;
  const QString volume = *selection_;
  if (!USBMigration::hasMigrationPackage(volume)) return;
  runOffMain(
      this, [volume] { return USBMigration::preview(volume); },
      [this, volume](Expected<USBMigration::ImportPreview, USBMigration::Error> result) {
        if (selection_ != volume) return;
        if (result.ok()) {
          preview_ = result.value();
        } else {
          showFailure(result.error().message());
        }
        retranslate();
      });
}

void USBMigrationSheet::start() {
  if (running_ || done_ || !selection_) return;
  const QString volume = *selection_;
  clearStatus();
  if (mode_ == Mode::exportPkg) {
    running_ = true;
    progress_.reset();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    auto cancel = cancel_;
    const QPointer<USBMigrationSheet> guard(this);
    runOffMain(
        this,
        [volume, agents = agents_, cancel, guard] {
          // Also ends when the application quits.
          return USBMigration::exportToWithProgress(
              volume, agents, [cancel] { return cancel->load() || OffMainPool::currentIsCancelled(); },
              [guard](const USBMigration::ExportProgress& progress) {
                runOnMain([guard, progress] {
                  if (USBMigrationSheet* sheet = guard.data(); sheet && sheet->running_) {
                    sheet->progress_ = progress;
                    sheet->refreshState();
                  }
                });
              });
        },
        [this](Expected<QString, USBMigration::Error> result) { finishExport(result); });
  } else {
    if (!preview_ || password_->text().isEmpty()) return;
    running_ = true;
    const QString password = password_->text();
    const QString destination = importedImagePath();
    const bool placedBefore = QFileInfo::exists(destination);
    const std::optional<QString> placed = placedImage_;
    runOffMain(
        this,
        [volume, password, placed]() -> Expected<QString, USBMigration::Error> {
          if (!placed) return USBMigration::importSnapshot(volume, password);
          // The image is already in place from the attempt whose password
          // the image refused: only the proof and the sealing are left.
          return USBMigration::provePassword(*placed, password);
        },
        [this, destination, placedBefore](Expected<QString, USBMigration::Error> result) {
          // An import whose password the image refused leaves the copied
          // image in place as the backup image; the next try only has to
          // prove the password instead of copying onto it.
          if (!result.ok() && !placedImage_ && !placedBefore && QFileInfo::exists(destination) &&
              BackupVolume::imageURL() == destination) {
            placedImage_ = destination;
          }
          finishImport(result);
        });
  }
  retranslate();
}

void USBMigrationSheet::requestCancel() {
  if (!running_ || mode_ != Mode::exportPkg || !cancel_) return;
  cancel_->store(true);
  refreshState();
}

void USBMigrationSheet::finishExport(const Expected<QString, USBMigration::Error>& result) {
  running_ = false;
  if (result.ok()) {
    done_ = true;
    showSuccess(LocKey::usbStatusExportDone(result.value()));
  } else if (result.error().kind == USBMigration::Error::Case::cancelled) {
    progress_.reset();
    showSuccess(LocKey::usbExportCancelled());
  } else {
    showFailure(result.error().message());
  }
  cancel_.reset();
  refreshVolumes();
}

void USBMigrationSheet::finishImport(const Expected<QString, USBMigration::Error>& result) {
  running_ = false;
  if (result.ok()) {
    done_ = true;
    password_->wipe();
    showSuccess(LocKey::usbStatusImportDone(result.value()));
  } else {
    // A wrong password: the field keeps nothing, so the next try starts clean.
    password_->wipe();
    showFailure(result.error().message());
  }
  retranslate();
}

void USBMigrationSheet::showSuccess(const LocKey& key) {
  statusSuccess_ = key;
  status_label_->showText(text(key));
}

void USBMigrationSheet::showFailure(const EngineMessage& message) {
  statusSuccess_.reset();
  status_label_->showFailure(message);
}

void USBMigrationSheet::clearStatus() {
  statusSuccess_.reset();
  status_label_->clear();
}

QString USBMigrationSheet::statusText() const { return status_label_->shownText(); }

bool USBMigrationSheet::statusIsFailure() const { return status_label_->showsFailure(); }

void USBMigrationSheet::retranslate() {
  if (statusSuccess_)
    status_label_->showText(text(*statusSuccess_));
  else
    status_label_->retranslate();
  const bool exporting = mode_ == Mode::exportPkg;
  header_->setTitle(text(exporting ? LocKey::usbHeaderExport() : LocKey::usbHeaderImport()));
  intro_->setPlainText(text(exporting ? LocKey::usbIntroExport() : LocKey::usbIntroImport()));
  drivesTitle_->setTitle(text(LocKey::usbAvailableDrives()));
  refresh_->setLabel(backupui::pick(QStringLiteral("Refresh"), QStringLiteral("刷新")));
  noDrives_->setPlainText(text(LocKey::usbNoDrives()));
  for (int i = 0; i < driveButtons_.size(); ++i) {
    driveButtons_[i]->setLabel(volumeLabel(i));
  }
  if (!exporting) {
    detailsTitle_->setTitle(text(LocKey::usbPackageDetails()));
    rowDeviceTitle_->setPlainText(text(LocKey::usbRowSourceDevice()));
    rowOSTitle_->setPlainText(text(LocKey::usbRowOS()));
    rowSizeTitle_->setPlainText(text(LocKey::usbRowBackupSize()));
    rowAgentsTitle_->setPlainText(text(LocKey::usbRowAgentCount()));
    if (preview_) {
      rowDevice_->setPlainText(preview_->manifest.source.deviceName);
      rowOS_->setPlainText(preview_->manifest.source.osVersion);
      rowSize_->setPlainText(backupui::bytes(preview_->backupTotalBytes));
      rowAgents_->setPlainText(text(LocKey::usbAgentCountValue(preview_->agentCount())));
    }
    passwordPrompt_->setPlainText(text(LocKey::usbPasswordPrompt()));
    passwordHint_->setPlainText(text(LocKey::usbPasswordHint()));
    password_->setPlaceholder(text(LocKey::usbPasswordFieldPlaceholder()));
  }
  refreshState();
}

void USBMigrationSheet::refreshState() {
  const bool exporting = mode_ == Mode::exportPkg;
  noDrives_->setVisible(volumes_.isEmpty());
  refresh_->setEnabled(!running_);
  for (PillButton* button : driveButtons_) button->setEnabled(!running_);
  if (!exporting) {
    const bool hasPreview = preview_.has_value();
    detailsTitle_->setVisible(hasPreview);
    details_->setVisible(hasPreview);
    passwordPrompt_->setVisible(hasPreview && !done_);
    passwordHint_->setVisible(hasPreview && !done_);
    password_->setVisible(hasPreview && !done_);
    password_->setEnabled(!running_);
  } else {
    const bool showProgress = running_ || (progress_ && done_);
    for (QWidget* w : std::initializer_list<QWidget*>{bar_, progressSize_, progressFiles_, speed_, eta_}) {
      w->setVisible(showProgress);
    }
    if (progress_) {
      const auto& p = *progress_;
      bar_->setValue(p.bytesTotal > 0 ? int(p.bytesWritten * 1000 / p.bytesTotal) : 0);
      progressSize_->setPlainText(
          text(LocKey::usbExportProgressSize(backupui::bytes(p.bytesWritten), backupui::bytes(p.bytesTotal))));
      progressFiles_->setPlainText(text(LocKey::usbExportProgressFiles(p.filesWritten, p.filesTotal)));
      speed_->setPlainText(speedText(p));
      eta_->setPlainText(done_ ? QString() : etaText(p));
    } else {
      bar_->setValue(0);
      progressSize_->setPlainText(QString());
      progressFiles_->setPlainText(QString());
      speed_->setPlainText(QString());
      eta_->setPlainText(text(LocKey::usbExportEtaCalculating()));
    }
  }

  cancelButton_->setVisible(exporting && running_);
  cancelButton_->setLabel(cancelRequested() ? text(LocKey::usbActionCancelling()) : text(LocKey::usbActionCancel()));
  cancelButton_->setEnabled(!cancelRequested());
  if (done_) {
    action_->setLabel(text(LocKey::usbActionDone()));
    action_->setEnabled(true);
  } else if (running_) {
    action_->setLabel(text(exporting ? LocKey::usbActionExporting() : LocKey::usbActionImporting()));
    action_->setEnabled(false);
  } else {
    action_->setLabel(text(exporting ? LocKey::usbActionExport() : LocKey::usbActionImport()));
    const bool ready = selection_.has_value() &&
                       (exporting || (preview_.has_value() && !password_->text().isEmpty()));
    // Not while a backup, restore, export or import of this process uses
    // the volume (the engine refuses it all the same).
    action_->setEnabled(ready && !VolumeActivity::shared().busy());
  }
}

}  // namespace tlr
