#pragma once

#include "registry/AgentEntry.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Sheet.h"

#include <QList>
#include <QPointer>

#include <functional>

class QVBoxLayout;

namespace tlr {

class SettingsStore;

class BackupEngine;
class BackupSession;
class Card;
class Label;
class PrimaryButton;
class SecondaryButton;
class SectionTitle;

namespace backupui {
class MessageLine;
}

// "Backup & Restore": the encrypted volume (its place, the space it takes and
// the host's free space, or the first-time setup when there is no image),
// the last backup (time, size, agent count), a scan of what a backup would
// take, "Back up now" with the engine's stage label while it runs, a short
// success flash and the engine's failure when it fails (in the interface
// language, the tool's output behind "Details"), and the restore, USB export
// and USB import buttons that hand over to the next sheet.
//
// The sheet draws its BackupSession and forwards the clicks to it: a backup
// started here goes on when the sheet closes, and its completion never
// reaches a closed sheet.
class BackupSheet final : public backupui::SessionSheet<BackupSession> {
  Q_OBJECT
 public:
  struct Callbacks {
    std::function<void()> onClose;
    std::function<void()> onOpenRestore;
    std::function<void()> onOpenUSBExport;
    std::function<void()> onOpenUSBImport;
  };
  // `engine` runs the backups; the sheet's controls follow the language of
  // `settings`. Both must outlive it.
  BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, BackupEngine& engine,
              const SettingsStore& settings, QWidget* parent = nullptr);
  ~BackupSheet() override;

  // The first-time setup sheet while it is open over this one.
  FirstTimeSetupSheet* firstTimeSetup() const { return setup_.data(); }

  // Opens the first-time setup over this sheet.
  void openFirstTimeSetup();

 protected:
  void firstShown() override;

 private:
  void build();
  void buildVolumeSection(QVBoxLayout* column);
  void buildLastBackupSection(QVBoxLayout* column);
  void buildBackUpSection(QVBoxLayout* column);
  void buildHandOverSection(QVBoxLayout* column);
  void connectControls();
  void retranslate();
  void refreshState();

  Callbacks callbacks_;
  QPointer<FirstTimeSetupSheet> setup_;

  // volume
  SectionTitle* volumeTitle_ = nullptr;
  Card* volumeCard_ = nullptr;
  Label* volumePath_ = nullptr;
  Label* volumeSpace_ = nullptr;
  SecondaryButton* reveal_ = nullptr;
  Label* setupHint_ = nullptr;
  PrimaryButton* setupButton_ = nullptr;
  // last backup
  SectionTitle* lastTitle_ = nullptr;
  Card* lastCard_ = nullptr;
  Label* statTimeTitle_ = nullptr;
  Label* statTime_ = nullptr;
  Label* statSizeTitle_ = nullptr;
  Label* statSize_ = nullptr;
  Label* statAgentsTitle_ = nullptr;
  Label* statAgents_ = nullptr;
  // scan and back up
  Label* scanResult_ = nullptr;
  Label* exclusions_ = nullptr;
  SecondaryButton* scanButton_ = nullptr;
  PrimaryButton* backupButton_ = nullptr;
  Label* stage_ = nullptr;
  backupui::MessageLine* error_ = nullptr;
  // hand-over
  SecondaryButton* restore_ = nullptr;
  SecondaryButton* exportUsb_ = nullptr;
  SecondaryButton* importUsb_ = nullptr;
};

}  // namespace tlr
