#include "presentation/USBMigrationSession.h"

#include "backup/BackupVolume.h"
#include "backup/VolumeLock.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "presentation/BackupTexts.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <cmath>

namespace tlr {

using backuptext::text;

USBMigrationSession::USBMigrationSession(Mode mode, QList<AgentEntry> installedAgents, VolumeLister listVolumes,
                                         QObject* parent)
    : QObject(parent), mode_(mode), agents_(std::move(installedAgents)), listVolumes_(std::move(listVolumes)) {
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &USBMigrationSession::changed);
}

QString USBMigrationSession::importedImagePath() {
  return QDir::homePath() + QLatin1Char('/') + QString::fromUtf8(USBMigration::kImageName);
}

QString USBMigrationSession::speedText(const USBMigration::ExportProgress& progress) {
  return text(LocKey::usbExportSpeed(QString::number(progress.bytesPerSecond / 1'000'000.0, 'f', 1)));
}

QString USBMigrationSession::etaText(const USBMigration::ExportProgress& progress) {
  if (progress.bytesPerSecond <= 0 || progress.bytesTotal <= 0) return text(LocKey::usbExportEtaCalculating());
  const double left = double(std::max<qint64>(0, progress.bytesTotal - progress.bytesWritten));
  const qint64 seconds = qint64(std::ceil(left / progress.bytesPerSecond));
  if (seconds < 60) return text(LocKey::usbExportEtaSeconds(seconds));
  return text(LocKey::usbExportEtaMinutes((seconds + 59) / 60));
}

QString USBMigrationSession::volumeLabel(int index) const {
  // The volume's name (the window shows its full place apart), and whether
  // it holds a package.
  QString label = QDir(volumes_.value(index)).dirName();
  if (hasPackage_.value(index)) label += QStringLiteral("  ·  ") + text(LocKey::usbHasMigration());
  return label;
}

bool USBMigrationSession::canStart(bool passwordTyped) const {
  if (running_ || done_) return false;
  const bool ready = selection_.has_value() && (exporting() || (preview_.has_value() && passwordTyped));
  // Not while a backup, restore, export or import of this process uses the
  // volume (the engine refuses it all the same).
  return ready && !VolumeActivity::shared().busy();
}

QString USBMigrationSession::statusText() const {
  if (failure_) return backuptext::text(failure_->key);
  return note_ ? text(*note_) : QString();
}

void USBMigrationSession::refreshVolumes() {
  if (running_) return;
  // Listing the volumes and looking into each may wait on a slow or hung
  // stick, so it runs off the main thread; a refresh asked for meanwhile
  // replaces the one under way.
  const quint64 listing = ++listingRound_;
  listing_ = true;
  Q_EMIT changed();
  struct Found {
    QStringList volumes;
    QList<bool> hasPackage;
  };
  startOffMain(
      this,
      [lister = listVolumes_] {
        Found found;
        found.volumes = lister ? lister() : QStringList();
        for (const QString& volume : found.volumes) found.hasPackage << USBMigration::hasMigrationPackage(volume);
        return found;
      },
      [this, listing](Found found) {
        if (listing != listingRound_) return;
        listing_ = false;
        if (running_) {
          Q_EMIT changed();
          return;
        }
        showVolumes(std::move(found.volumes), std::move(found.hasPackage));
      });
}

void USBMigrationSession::showVolumes(QStringList volumes, QList<bool> hasPackage) {
  volumes_ = std::move(volumes);
  hasPackage_ = std::move(hasPackage);
  if (selection_ && !volumes_.contains(*selection_)) {
    selection_.reset();
    preview_.reset();
  }
  // One volume is the obvious choice; in import mode, the one with a package.
  if (!selection_) {
    for (int i = 0; i < volumes_.size(); ++i) {
      if (exporting() || hasPackage_[i]) {
        selection_ = volumes_[i];
        break;
      }
    }
  }
  Q_EMIT volumesChanged();
  if (!exporting()) loadPreview();
  Q_EMIT changed();
}

void USBMigrationSession::select(const QString& volume) {
  if (running_ || !volumes_.contains(volume)) return;
  if (selection_ != volume) {
    selection_ = volume;
    preview_.reset();
    if (!done_) clearStatus();
    if (!exporting()) loadPreview();
  }
  Q_EMIT changed();
}

void USBMigrationSession::loadPreview() {
  preview_.reset();
  if (!selection_) return;
  const QString volume = *selection_;
  if (!hasPackage_.value(volumes_.indexOf(volume))) return;
  startOffMain(
      this, [volume] { return USBMigration::preview(volume); },
      [this, volume](Expected<USBMigration::ImportPreview, USBMigration::Error> result) {
        if (selection_ != volume) return;
        if (result.ok()) {
          preview_ = result.value();
        } else {
          showFailure(result.error().message());
        }
        Q_EMIT changed();
      });
}

void USBMigrationSession::start(const QString& password) {
  if (running_ || done_ || !selection_) return;
  clearStatus();
  if (exporting())
    startExport(*selection_);
  else if (preview_ && !password.isEmpty())
    startImport(*selection_, password);
  Q_EMIT changed();
}

void USBMigrationSession::startExport(const QString& volume) {
  running_ = true;
  progress_.reset();
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  auto cancel = cancel_;
  startOffMain(
      this,
      [volume, agents = agents_, cancel, report = whileAlive(this, [this](const USBMigration::ExportProgress& progress) {
         if (!running_) return;
         progress_ = progress;
         Q_EMIT changed();
       })] {
        // Also ends when the application quits.
        return USBMigration::exportToWithProgress(
            volume, agents, [cancel] { return cancel->load() || OffMainPool::currentIsCancelled(); }, report);
      },
      [this](Expected<QString, USBMigration::Error> result) { finishExport(result); });
}

void USBMigrationSession::startImport(const QString& volume, const QString& password) {
  running_ = true;
  const QString destination = importedImagePath();
  const bool placedBefore = QFileInfo::exists(destination);
  const std::optional<QString> placed = placedImage_;
  startOffMain(
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

void USBMigrationSession::requestCancel() {
  if (!running_ || !exporting() || !cancel_) return;
  cancel_->store(true);
  Q_EMIT changed();
}

void USBMigrationSession::finishExport(const Expected<QString, USBMigration::Error>& result) {
  running_ = false;
  if (result.ok()) {
    done_ = true;
    showNote(LocKey::usbStatusExportDone(result.value()));
  } else if (result.error().kind == USBMigration::Error::Case::cancelled) {
    progress_.reset();
    showNote(LocKey::usbExportCancelled());
  } else {
    showFailure(result.error().message());
  }
  cancel_.reset();
  refreshVolumes();
}

void USBMigrationSession::finishImport(const Expected<QString, USBMigration::Error>& result) {
  running_ = false;
  if (result.ok()) {
    done_ = true;
    // The folder it went into: its stored file name is no word of the window.
    showNote(LocKey::usbStatusImportDone(QFileInfo(result.value()).path()));
  } else {
    showFailure(result.error().message());
  }
  Q_EMIT importEnded();
  Q_EMIT changed();
}

void USBMigrationSession::showNote(const LocKey& key) {
  failure_.reset();
  note_ = key;
}

void USBMigrationSession::showFailure(const EngineMessage& message) {
  note_.reset();
  failure_ = message;
}

void USBMigrationSession::clearStatus() {
  note_.reset();
  failure_.reset();
}

}  // namespace tlr
