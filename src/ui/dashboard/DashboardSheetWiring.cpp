#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"

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
  dashboard.setSheets(std::move(sheets));
}

}  // namespace tlr
