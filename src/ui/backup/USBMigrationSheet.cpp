#include "ui/backup/USBMigrationSheet.h"

#include "core/stores/SettingsStore.h"
#include "presentation/BackupTexts.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tlr {

using backupui::makeLabel;
using backuptext::text;

USBMigrationSheet::USBMigrationSheet(Mode mode, QList<AgentEntry> installedAgents, std::function<void()> onClose,
                                     const SettingsStore& settings, QWidget* parent, VolumeLister listVolumes)
    : SessionSheet(QSize(500, 560), settings,
                   [&](QObject* sheet) {
                     return new USBMigrationSession(mode, std::move(installedAgents), std::move(listVolumes), sheet);
                   },
                   parent) {
  setObjectName(mode == Mode::exportPkg ? QStringLiteral("usbExportSheet") : QStringLiteral("usbImportSheet"));
  setOnClose(std::move(onClose));
  build();
  whenLookChanges(this, [this] { retranslate(); });
  connect(session_, &USBMigrationSession::volumesChanged, this, &USBMigrationSheet::rebuildVolumeList);
  connect(session_, &USBMigrationSession::changed, this, &USBMigrationSheet::refreshState);
  // A wrong password: the field keeps nothing, so the next try starts clean.
  connect(session_, &USBMigrationSession::importEnded, this, [this] { password_->wipe(); });
  retranslate();
}

USBMigrationSheet::~USBMigrationSheet() {
  if (password_) password_->wipe();
}

void USBMigrationSheet::build() {
  QVBoxLayout* column = addTitleHeaderAndBody(QStringLiteral("usb"), QMargins(24, 16, 24, 20), 10);
  intro_ = makeLabel(this, QStringLiteral("usbIntro"), 12, QFont::Normal, TextRole::dim, true);
  column->addWidget(intro_);
  buildDriveSection(column);
  if (session_->exporting())
    buildProgressSection(column);
  else
    buildPackageSection(column);
  status_label_ = new backupui::MessageLine(QStringLiteral("usbStatus"), 12, settings_, this);
  column->addWidget(status_label_);
  column->addStretch(1);
  buildButtons(column);
  connectControls();
}

// The removable volumes, one pill each, and the refresh button.
void USBMigrationSheet::buildDriveSection(QVBoxLayout* column) {
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
}

// Import: where the package came from, and the image's password.
void USBMigrationSheet::buildPackageSection(QVBoxLayout* column) {
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
    // A long device name ends in "…" within the card.
    value->setElided(true);
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
}

// Export: the bar, bytes and files copied, speed and time left.
void USBMigrationSheet::buildProgressSection(QVBoxLayout* column) {
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

// Cancel (while an export runs) and the action, "Done" at the end.
void USBMigrationSheet::buildButtons(QVBoxLayout* column) {
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cancelButton_ = new SecondaryButton(QString(), QString(), Theme::crash, this);
  cancelButton_->setObjectName(QStringLiteral("usbCancel"));
  action_ = new PrimaryButton(
      QString(), session_->exporting() ? QStringLiteral("externaldrive") : QStringLiteral("arrow.down.app"), this);
  action_->setObjectName(QStringLiteral("usbAction"));
  buttons->addWidget(cancelButton_);
  buttons->addWidget(action_);
  column->addLayout(buttons);
}

void USBMigrationSheet::connectControls() {
  connect(refresh_, &QAbstractButton::clicked, session_, &USBMigrationSession::refreshVolumes);
  connect(cancelButton_, &QAbstractButton::clicked, session_, &USBMigrationSession::requestCancel);
  connect(action_, &QAbstractButton::clicked, this, &USBMigrationSheet::act);
  if (password_) {
    connect(password_, &QLineEdit::textChanged, this, &USBMigrationSheet::refreshState);
    connect(password_, &QLineEdit::returnPressed, this, &USBMigrationSheet::act);
  }
  // The typed password does not outlive the sheet's time on screen.
  connect(this, &Sheet::dismissed, this, [this] {
    if (password_) password_->wipe();
  });
}

void USBMigrationSheet::firstShown() { session_->refreshVolumes(); }

void USBMigrationSheet::act() {
  if (session_->isDone()) {
    requestClose();
  } else {
    session_->start(password_ ? password_->text() : QString());
  }
}

void USBMigrationSheet::rebuildVolumeList() {
  qDeleteAll(driveButtons_);
  driveButtons_.clear();
  const QStringList& volumes = session_->volumes();
  for (int i = 0; i < volumes.size(); ++i) {
    const QString volume = volumes[i];
    auto* button = new PillButton(session_->volumeLabel(i), drivesBox_);
    // A long name ends in "…" (the whole name is its accessible name, and its
    // place, name and all, the tooltip).
    button->setElided(true);
    button->setToolTip(volume);
    button->setObjectName(QStringLiteral("usbVolume_%1").arg(i));
    connect(button, &QAbstractButton::clicked, session_, [this, volume] { session_->select(volume); });
    drivesColumn_->addWidget(button);
    driveButtons_ << button;
  }
}

void USBMigrationSheet::retranslate() {
  const bool exporting = session_->exporting();
  setTitle(text(exporting ? LocKey::usbHeaderExport() : LocKey::usbHeaderImport()));
  titleCloseButton()->setLanguage(settings_.language());
  intro_->setPlainText(text(exporting ? LocKey::usbIntroExport() : LocKey::usbIntroImport()));
  drivesTitle_->setTitle(text(LocKey::usbAvailableDrives()));
  refresh_->setLabel(backuptext::text(LocKey::usbRefresh()));
  noDrives_->setPlainText(text(LocKey::usbNoDrives()));
  if (!exporting) {
    detailsTitle_->setTitle(text(LocKey::usbPackageDetails()));
    rowDeviceTitle_->setPlainText(text(LocKey::usbRowSourceDevice()));
    rowOSTitle_->setPlainText(text(LocKey::usbRowOS()));
    rowSizeTitle_->setPlainText(text(LocKey::usbRowBackupSize()));
    rowAgentsTitle_->setPlainText(text(LocKey::usbRowAgentCount()));
    passwordPrompt_->setPlainText(text(LocKey::usbPasswordPrompt()));
    passwordHint_->setPlainText(text(LocKey::usbPasswordHint()));
    password_->setPlaceholder(text(LocKey::usbPasswordFieldPlaceholder()));
    password_->setAccessibleName(text(LocKey::usbPasswordPrompt()));
  }
  refreshState();
}

void USBMigrationSheet::refreshState() {
  const USBMigrationSession& session = *session_;
  const bool exporting = session.exporting();
  const bool running = session.isRunning();
  const bool done = session.isDone();
  if (session.failure()) {
    status_label_->showLatestFailure(session.failure());
  } else {
    status_label_->showText(session.statusText());
  }
  noDrives_->setVisible(session.volumes().isEmpty() && !session.isListing());
  refresh_->setEnabled(!running);
  for (int i = 0; i < driveButtons_.size(); ++i) {
    PillButton* button = driveButtons_[i];
    button->setLabel(session.volumeLabel(i));
    button->setSelected(session.selection() == session.volumes().value(i));
    button->setEnabled(!running);
  }
  if (exporting)
    refreshProgress();
  else
    refreshPackage();

  cancelButton_->setVisible(exporting && running);
  cancelButton_->setLabel(session.cancelRequested() ? text(LocKey::usbActionCancelling())
                                                    : text(LocKey::usbActionCancel()));
  cancelButton_->setEnabled(!session.cancelRequested());
  if (done) {
    action_->setLabel(text(LocKey::usbActionDone()));
    action_->setEnabled(true);
  } else if (running) {
    action_->setLabel(text(exporting ? LocKey::usbActionExporting() : LocKey::usbActionImporting()));
    action_->setEnabled(false);
  } else {
    action_->setLabel(text(exporting ? LocKey::usbActionExport() : LocKey::usbActionImport()));
    action_->setEnabled(session.canStart(password_ && !password_->text().isEmpty()));
  }
}

void USBMigrationSheet::refreshPackage() {
  const USBMigrationSession& session = *session_;
  const std::optional<USBMigration::ImportPreview>& preview = session.preview();
  if (preview) {
    rowDevice_->setPlainText(preview->manifest.source.deviceName);
    rowOS_->setPlainText(preview->manifest.source.osVersion);
    rowSize_->setPlainText(backuptext::bytes(preview->backupTotalBytes));
    rowAgents_->setPlainText(text(LocKey::usbAgentCountValue(preview->agentCount())));
  }
  const bool asking = preview.has_value() && !session.isDone();
  detailsTitle_->setVisible(preview.has_value());
  details_->setVisible(preview.has_value());
  passwordPrompt_->setVisible(asking);
  passwordHint_->setVisible(asking);
  password_->setVisible(asking);
  password_->setEnabled(!session.isRunning());
}

void USBMigrationSheet::refreshProgress() {
  const USBMigrationSession& session = *session_;
  const std::optional<USBMigration::ExportProgress>& progress = session.exportProgress();
  const bool showProgress = session.isRunning() || (progress && session.isDone());
  for (QWidget* w : std::initializer_list<QWidget*>{bar_, progressSize_, progressFiles_, speed_, eta_}) {
    w->setVisible(showProgress);
  }
  if (progress) {
    const auto& p = *progress;
    bar_->setValue(p.bytesTotal > 0 ? int(p.bytesWritten * 1000 / p.bytesTotal) : 0);
    progressSize_->setPlainText(
        text(LocKey::usbExportProgressSize(backuptext::bytes(p.bytesWritten), backuptext::bytes(p.bytesTotal))));
    progressFiles_->setPlainText(text(LocKey::usbExportProgressFiles(p.filesWritten, p.filesTotal)));
    speed_->setPlainText(USBMigrationSession::speedText(p));
    eta_->setPlainText(session.isDone() ? QString() : USBMigrationSession::etaText(p));
  } else {
    bar_->setValue(0);
    progressSize_->setPlainText(QString());
    progressFiles_->setPlainText(QString());
    speed_->setPlainText(QString());
    eta_->setPlainText(text(LocKey::usbExportEtaCalculating()));
  }
}

}  // namespace tlr
