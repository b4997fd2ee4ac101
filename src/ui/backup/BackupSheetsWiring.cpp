#include "ui/backup/BackupSheetsWiring.h"

#include "ui/backup/PasswordPromptDialog.h"
#include "ui/dashboard/DashboardSheets.h"

namespace tlr {

void installBackupSheets(DashboardSheets& sheets) {
  Q_UNUSED(sheets);
  installDialogPasswordPrompt();
}

}  // namespace tlr
