#pragma once

namespace tlr {

class DashboardView;

// Fills in the dashboard's factories of the detail, add-agent and settings
// sheets, and the detail sheet's uninstall sheet.
void installDashboardSheets(DashboardView& dashboard);

}  // namespace tlr
