#pragma once

#include "backup/EngineMessage.h"
#include "backup/USBMigration.h"
#include "core/texts/LocKey.h"
#include "registry/AgentEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace tlr {

// Moving the backup to another machine over a removable volume, without the
// window, in one of two modes. Export: pick a volume, write the migration
// package with its file and byte progress, and cancel it (the partial
// package is removed). Import: pick a volume that holds a package, see where
// it came from, and import it with the image's password; when the image
// refuses the password, the copied image stays in place as the backup image
// and the next try only proves the new password on it and seals it.
//
// Lives on the main thread; every change is announced through `changed`, a
// new list of volumes also through `volumesChanged`. The copying runs off
// the main thread; a destroyed session lets it finish and drops its report.
class USBMigrationSession final : public QObject {
  Q_OBJECT
 public:
  enum class Mode { exportPkg, importPkg };
  // Where removable volumes are found; tests hand their own folders.
  using VolumeLister = std::function<QStringList()>;

  USBMigrationSession(Mode mode, QList<AgentEntry> installedAgents,
                      VolumeLister listVolumes = &USBMigration::listAvailableVolumes, QObject* parent = nullptr);

  Mode mode() const { return mode_; }
  bool exporting() const { return mode_ == Mode::exportPkg; }

  // ---- the volumes ----
  const QStringList& volumes() const { return volumes_; }
  // The volume's name, and whether it holds a package.
  QString volumeLabel(int index) const;
  const std::optional<QString>& selection() const { return selection_; }
  // The package on the selected volume (import).
  const std::optional<USBMigration::ImportPreview>& preview() const { return preview_; }

  // ---- the run ----
  const std::optional<USBMigration::ExportProgress>& exportProgress() const { return progress_; }
  bool isRunning() const { return running_; }
  // While the volumes are being listed.
  bool isListing() const { return listing_; }
  bool isDone() const { return done_; }
  bool cancelRequested() const { return cancel_ && cancel_->load(); }
  // Whether the action is offered; an import also needs a typed password.
  bool canStart(bool passwordTyped) const;
  // The status line: a failure, or a note or success line (empty when none),
  // in the interface language.
  const std::optional<EngineMessage>& failure() const { return failure_; }
  QString statusText() const;
  bool statusIsFailure() const { return failure_.has_value(); }

  // "12.3 MB/s" and the time left for a progress report.
  static QString speedText(const USBMigration::ExportProgress& progress);
  static QString etaText(const USBMigration::ExportProgress& progress);
  // Where an import puts the image: "TLR 备份.sparsebundle" in the home folder.
  static QString importedImagePath();

  // Lists the volumes again; one is chosen when none is (in import mode,
  // the first with a package).
  void refreshVolumes();
  void select(const QString& volume);
  // Exports, or imports with `password`.
  void start(const QString& password = QString());
  void requestCancel();

 Q_SIGNALS:
  void changed();
  void volumesChanged();
  // An import ended, either way: the typed password has served.
  void importEnded();

 private:
  void showVolumes(QStringList volumes, QList<bool> hasPackage);
  void loadPreview();
  void startExport(const QString& volume);
  void startImport(const QString& volume, const QString& password);
  void finishExport(const Expected<QString, USBMigration::Error>& result);
  void finishImport(const Expected<QString, USBMigration::Error>& result);
  void showNote(const LocKey& key);
  void showFailure(const EngineMessage& message);
  void clearStatus();

  Mode mode_;
  QList<AgentEntry> agents_;
  VolumeLister listVolumes_;
  QStringList volumes_;
  QList<bool> hasPackage_;
  std::optional<QString> selection_;
  // The image an earlier import of this session placed before its password
  // was refused.
  std::optional<QString> placedImage_;
  std::optional<USBMigration::ImportPreview> preview_;
  std::optional<USBMigration::ExportProgress> progress_;
  // The status line: a note or success (worded when read), or a failure.
  std::optional<LocKey> note_;
  std::optional<EngineMessage> failure_;
  bool running_ = false;
  bool done_ = false;
  // A listing is under way; only the latest one asked for is shown.
  bool listing_ = false;
  quint64 listingRound_ = 0;
  std::shared_ptr<std::atomic<bool>> cancel_;
};

}  // namespace tlr
