#include "app/BackupSheetsWiring.h"

#include "backup/BackupEngine.h"
#include "backup/RestoreEngine.h"
#include "core/stores/SettingsStore.h"
#include "presentation/DashboardModel.h"
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
  // The sheets follow the dashboard's language (the settings of its model)
  // and run the process's engines.
  const SettingsStore& settings = *dashboard.model().stores().settings;
  sheets.backup = [&settings](QWidget* parent, const QList<AgentEntry>& installedAgents, std::function<void()> onClose,
                     std::function<void()> onOpenRestore, std::function<void()> onOpenUSBExport,
                     std::function<void()> onOpenUSBImport) -> Sheet* {
    return new BackupSheet(installedAgents,
                           {std::move(onClose), std::move(onOpenRestore), std::move(onOpenUSBExport),
                            std::move(onOpenUSBImport)},
                           BackupEngine::shared(), settings, parent);
  };
  sheets.restore = [&settings](QWidget* parent, std::function<void()> onClose,
                      std::function<void(const QString&)> onAgentRestored) -> Sheet* {
    return new RestoreSheet(std::move(onClose), std::move(onAgentRestored), RestoreEngine::shared(), settings, parent);
  };
  sheets.usbMigration = [&settings](QWidget* parent, DashboardSheets::USBMode mode, const QList<AgentEntry>& installedAgents,
                           std::function<void()> onClose) -> Sheet* {
    return new USBMigrationSheet(mode == DashboardSheets::USBMode::exportPkg ? USBMigrationSheet::Mode::exportPkg
                                                                            : USBMigrationSheet::Mode::importPkg,
                                 installedAgents, std::move(onClose), settings, parent);
  };
  dashboard.setSheets(std::move(sheets));
}

}  // namespace tlr
