#include "ui/backup/BackupSheetsWiring.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/detail/AgentDetailSheet.h"
#include "ui/shell/SettingsSheet.h"

namespace tlr {

// The one place where the sheets join the dashboard. A sheet's code adds its
// factory here, for example:
//
//   sheets.detail = [](QWidget* parent, const DashboardAgentItem& item,
//                      const AgentDetailCallbacks& callbacks) {
//     auto* sheet = new AgentDetailSheet(item, callbacks, parent);
//     return DashboardSheets::Detail{sheet, [sheet](const DashboardAgentItem& i) { sheet->setItem(i); }};
//   };
//
// Until a sheet exists its factory stays empty and its button does nothing.
void installDashboardSheets(DashboardView& dashboard) {
  DashboardSheets sheets = dashboard.sheets();
  sheets.detail = [](QWidget* parent, const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks) {
    auto* sheet = new AgentDetailSheet(item, callbacks, parent);
    return DashboardSheets::Detail{sheet, [guard = QPointer<AgentDetailSheet>(sheet)](const DashboardAgentItem& i) {
                                     if (guard) guard->setItem(i);
                                   }};
  };
  sheets.settings = [](QWidget* parent, std::function<void()>) -> Sheet* { return new SettingsSheet(parent); };
  installBackupSheets(sheets);
  dashboard.setSheets(std::move(sheets));
}

}  // namespace tlr
