#pragma once

#include "registry/AgentEntry.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/kit/Sheet.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace tlr {

class BackupEngine;
class Card;
class Label;
class PrimaryButton;
class SecondaryButton;
class SectionTitle;

namespace backupui {
class MessageLine;
class SheetHeader;
}

// "Backup & Restore": the encrypted volume (its place, the space it takes and
// the host's free space, or the first-time setup when there is no image),
// the last backup (time, size, agent count), a scan of what a backup would
// take, "Back up now" with the engine's stage label while it runs, a short
// success flash and the engine's failure when it fails (in the interface
// language, the tool's output behind "Details"), and the restore, USB export
// and USB import buttons that hand over to the next sheet. While a backup,
// restore, export or import of this process uses the volume, none of the
// other operations is offered.
//
// The sheet only watches the shared backup engine: a backup started here
// goes on when the sheet closes, and its completion never reaches a closed
// sheet.
class BackupSheet final : public Sheet {
  Q_OBJECT
 public:
  struct Callbacks {
    std::function<void()> onClose;
    std::function<void()> onOpenRestore;
    std::function<void()> onOpenUSBExport;
    std::function<void()> onOpenUSBImport;
  };
  // How long the success flash lasts.
  static constexpr int kFlashMilliseconds = 2000;

  BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, QWidget* parent = nullptr);
  BackupSheet(QList<AgentEntry> installedAgents, Callbacks callbacks, BackupEngine& engine, QWidget* parent);
  ~BackupSheet() override;

  // What the scan found (0 until it finished).
  int discoveredAgentCount() const { return discoveredAgents_; }
  int discoveredLocationCount() const { return discoveredLocations_; }
  qint64 estimateBytes() const { return estimateBytes_; }
  bool hasScanned() const { return scanned_; }
  bool isScanning() const { return scanning_; }
  bool isFlashing() const { return flashTimer_.isActive(); }
  // The first-time setup sheet while it is open over this one.
  FirstTimeSetupSheet* firstTimeSetup() const { return setup_.data(); }

  // Scans the agents' data again (off the window's thread).
  void scan();
  // Starts a backup of the installed agents through the engine.
  void backUpNow();
  // Opens the first-time setup over this sheet.
  void openFirstTimeSetup();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void build();
  void retranslate();
  void refreshVolume();
  void refreshState();

  QList<AgentEntry> agents_;
  Callbacks callbacks_;
  BackupEngine& engine_;

  int discoveredAgents_ = 0;
  int discoveredLocations_ = 0;
  qint64 estimateBytes_ = 0;
  bool scanned_ = false;
  bool scanning_ = false;
  bool shownOnce_ = false;
  std::optional<qint64> volumeUsed_;
  std::optional<qint64> hostFree_;
  QTimer flashTimer_;
  QPointer<FirstTimeSetupSheet> setup_;

  backupui::SheetHeader* header_ = nullptr;
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
