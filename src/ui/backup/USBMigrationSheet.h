#pragma once

#include "presentation/USBMigrationSession.h"
#include "registry/AgentEntry.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Sheet.h"

#include <QList>

#include <functional>

class QProgressBar;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

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
}  // namespace backupui

// Moving the backup to another machine over a removable volume, in one of two
// modes. Export: pick a volume, write the migration package with its file
// and byte progress, speed and time left, and a Cancel that removes the
// partial package. Import: pick a volume that holds a package, see where it
// came from (device, OS, agent count, backup size), type the image's
// password and import it. The sheet draws its USBMigrationSession and
// forwards to it; the typed password is handed over only when an import
// starts, and wiped when it ends or the sheet closes.
class USBMigrationSheet final : public backupui::SessionSheet<USBMigrationSession> {
  Q_OBJECT
 public:
  using Mode = USBMigrationSession::Mode;
  using VolumeLister = USBMigrationSession::VolumeLister;

  // Its controls follow the language of `settings`, which must outlive it.
  USBMigrationSheet(Mode mode, QList<AgentEntry> installedAgents, std::function<void()> onClose,
                    const SettingsStore& settings, QWidget* parent = nullptr,
                    VolumeLister listVolumes = &USBMigration::listAvailableVolumes);
  ~USBMigrationSheet() override;


 protected:
  void firstShown() override;

 private:
  void build();
  void buildDriveSection(QVBoxLayout* column);
  void buildPackageSection(QVBoxLayout* column);
  void buildProgressSection(QVBoxLayout* column);
  void buildButtons(QVBoxLayout* column);
  void connectControls();
  void retranslate();
  void refreshState();
  void refreshPackage();
  void refreshProgress();
  void rebuildVolumeList();
  void act();


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
