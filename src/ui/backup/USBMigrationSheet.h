#pragma once

#include "backup/USBMigration.h"
#include "core/LocKey.h"
#include "registry/AgentEntry.h"
#include "ui/kit/Sheet.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QProgressBar;
class QVBoxLayout;

namespace tlr {

class Card;
class IconButton;
class Label;
class PillButton;
class PrimaryButton;
class SecondaryButton;
class SectionTitle;

namespace backupui {
class MessageLine;
class SecureField;
class SheetHeader;
}  // namespace backupui

// Moving the backup to another machine over a removable volume, in one of two
// modes. Export: pick a volume, write the migration package with its file
// and byte progress, speed and time left, and a Cancel that removes the
// partial package. Import: pick a volume that holds a package, see where it
// came from (device, OS, agent count, backup size), type the image's
// password and import it. The copying runs off the window's thread; a
// closed sheet lets it finish and drops its report.
class USBMigrationSheet final : public Sheet {
  Q_OBJECT
 public:
  enum class Mode { exportPkg, importPkg };
  // Where removable volumes are found; tests hand their own folders.
  using VolumeLister = std::function<QStringList()>;

  USBMigrationSheet(Mode mode, QList<AgentEntry> installedAgents, std::function<void()> onClose,
                    QWidget* parent = nullptr, VolumeLister listVolumes = &USBMigration::listAvailableVolumes);
  ~USBMigrationSheet() override;

  Mode mode() const { return mode_; }
  const QStringList& volumes() const { return volumes_; }
  const std::optional<QString>& selection() const { return selection_; }
  const std::optional<USBMigration::ImportPreview>& preview() const { return preview_; }
  const std::optional<USBMigration::ExportProgress>& exportProgress() const { return progress_; }
  // The status line as shown, and whether it is a failure.
  QString statusText() const;
  bool statusIsFailure() const;
  bool isRunning() const { return running_; }
  bool isDone() const { return done_; }
  bool cancelRequested() const { return cancel_ && cancel_->load(); }

  void refreshVolumes();
  void select(const QString& volume);
  void start();
  void requestCancel();

  // "12.3 MB/s" and the time left for a progress report.
  static QString speedText(const USBMigration::ExportProgress& progress);
  static QString etaText(const USBMigration::ExportProgress& progress);
  // Where an import puts the image: "TLR 备份.sparsebundle" in the home folder.
  static QString importedImagePath();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void build();
  void retranslate();
  void refreshState();
  void rebuildVolumeList();
  QString volumeLabel(int index) const;
  void loadPreview();
  void finishExport(const Expected<QString, USBMigration::Error>& result);
  void finishImport(const Expected<QString, USBMigration::Error>& result);
  void showSuccess(const LocKey& key);
  void showFailure(const EngineMessage& message);
  void clearStatus();

  Mode mode_;
  QList<AgentEntry> agents_;
  VolumeLister listVolumes_;
  QStringList volumes_;
  QList<bool> hasPackage_;
  std::optional<QString> selection_;
  // The image an earlier import of this sheet placed before its password
  // was refused.
  std::optional<QString> placedImage_;
  std::optional<USBMigration::ImportPreview> preview_;
  std::optional<USBMigration::ExportProgress> progress_;
  // The success or note the status line shows, redrawn in the interface
  // language; a failure is kept by the line itself.
  std::optional<LocKey> statusSuccess_;
  bool running_ = false;
  bool done_ = false;
  bool shownOnce_ = false;
  std::shared_ptr<std::atomic<bool>> cancel_;

  backupui::SheetHeader* header_ = nullptr;
  Label* intro_ = nullptr;
  SectionTitle* drivesTitle_ = nullptr;
  IconButton* refresh_ = nullptr;
  QWidget* drivesBox_ = nullptr;
  QVBoxLayout* drivesColumn_ = nullptr;
  QList<PillButton*> driveButtons_;
  Label* noDrives_ = nullptr;
  // import
  SectionTitle* detailsTitle_ = nullptr;
  Card* details_ = nullptr;
  Label* rowDeviceTitle_ = nullptr;
  Label* rowDevice_ = nullptr;
  Label* rowOSTitle_ = nullptr;
  Label* rowOS_ = nullptr;
  Label* rowSizeTitle_ = nullptr;
  Label* rowSize_ = nullptr;
  Label* rowAgentsTitle_ = nullptr;
  Label* rowAgents_ = nullptr;
  Label* passwordPrompt_ = nullptr;
  Label* passwordHint_ = nullptr;
  backupui::SecureField* password_ = nullptr;
  // export
  QProgressBar* bar_ = nullptr;
  Label* progressSize_ = nullptr;
  Label* progressFiles_ = nullptr;
  Label* speed_ = nullptr;
  Label* eta_ = nullptr;
  // both
  backupui::MessageLine* status_label_ = nullptr;
  SecondaryButton* cancelButton_ = nullptr;
  PrimaryButton* action_ = nullptr;
};

}  // namespace tlr
