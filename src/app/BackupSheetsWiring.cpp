#include "app/BackupSheetsWiring.h"

#include "ui/backup/BackupSheet.h"
#include "ui/backup/PasswordPromptDialog.h"
#include "ui/backup/RestoreSheet.h"
#include "ui/backup/USBMigrationSheet.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"

namespace tlr {

void installBackupSheets(DashboardView& dashboard) {
  installDialogPasswordPrompt();
  DashboardSheets sheets = dashboard.sheets();
  sheets.backup = [](QWidget* parent, const QList<AgentEntry>& installedAgents, std::function<void()> onClose,
                     std::function<void()> onOpenRestore, std::function<void()> onOpenUSBExport,
                     std::function<void()> onOpenUSBImport) -> Sheet* {
    return new BackupSheet(installedAgents,
                           {std::move(onClose), std::move(onOpenRestore), std::move(onOpenUSBExport),
                            std::move(onOpenUSBImport)},
                           parent);
  };
  sheets.restore = [](QWidget* parent, std::function<void()> onClose,
                      std::function<void(const QString&)> onAgentRestored) -> Sheet* {
    return new RestoreSheet(std::move(onClose), std::move(onAgentRestored), parent);
  };
  sheets.usbMigration = [](QWidget* parent, DashboardSheets::USBMode mode, const QList<AgentEntry>& installedAgents,
                           std::function<void()> onClose) -> Sheet* {
    return new USBMigrationSheet(mode == DashboardSheets::USBMode::exportPkg ? USBMigrationSheet::Mode::exportPkg
                                                                            : USBMigrationSheet::Mode::importPkg,
                                 installedAgents, std::move(onClose), parent);
  };
  dashboard.setSheets(std::move(sheets));
}

}  // namespace tlr
