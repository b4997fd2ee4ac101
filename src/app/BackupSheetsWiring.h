#pragma once

namespace tlr {

class DashboardView;

// Fills in the dashboard's factories of the backup, restore and USB
// migration sheets, and puts the password dialog in place of the headless
// prompt when there is a display.
void installBackupSheets(DashboardView& dashboard);

}  // namespace tlr
