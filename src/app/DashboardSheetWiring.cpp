#include "app/DashboardSheetWiring.h"

#include "core/stores/SettingsStore.h"
#include "core/system/SelfGuard.h"
#include "presentation/DashboardModel.h"
#include "service/VornelAppSDK.h"
#include "ui/dashboard/DashboardSheets.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/detail/AgentDetailSheet.h"
#include "ui/sheets/AddAgentSheet.h"
#include "ui/sheets/UninstallSheet.h"
#include "ui/shell/SettingsSheet.h"

#include <QPointer>
#include <QSystemTrayIcon>

namespace tlr {

// Where the sheets of the detail, sheets and shell areas join the dashboard
// (the backup sheets join it in BackupSheetsWiring.cpp): no area includes
// another, so each joins here.
void installDashboardSheets(DashboardView& dashboard) {
  DashboardSheets sheets = dashboard.sheets();
  // The sheets speak the dashboard's language: the settings of its model.
  SettingsStore& settings = *dashboard.model().stores().settings;
  sheets.detail = [&settings](QWidget* parent, const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks) {
    auto* sheet = new AgentDetailSheet(item, callbacks, AgentDetailSheet::Stores::shared(), settings, parent);
    // Its Uninstall opens the uninstall sheet over it.
    sheet->setUninstallSheetFactory([&settings](QWidget* parent, const AgentEntry& entry,
                                                std::function<void()> onClose, std::function<void()> onDone) -> Sheet* {
      return new UninstallSheet(entry, std::move(onClose), std::move(onDone), settings, parent);
    });
    return DashboardSheets::Detail{sheet, [guard = QPointer<AgentDetailSheet>(sheet)](const DashboardAgentItem& i) {
                                     if (guard) guard->setItem(i);
                                   }};
  };
  sheets.addAgent = [&settings](QWidget* parent, std::shared_ptr<const AgentRegistry> registry, const QSet<QString>& installedIds,
                       std::function<void()> onClose, std::function<void()> onDidInstall) {
    auto* sheet =
        new AddAgentSheet(std::move(registry), installedIds, std::move(onClose), std::move(onDidInstall), settings,
                                   parent);
    return DashboardSheets::AddAgent{sheet, [guard = QPointer<AddAgentSheet>(sheet)](const QSet<QString>& ids) {
                                       if (guard) guard->setInstalledIds(ids);
                                     }};
  };
  sheets.settings = [&settings](QWidget* parent, std::function<void()>) -> Sheet* {
    return new SettingsSheet({&settings, &SelfGuardStore::shared(), &VornelAppSDK::shared(),
                              SelfGuardInstaller::shared().isProductionApp(), QSystemTrayIcon::isSystemTrayAvailable()},
                             parent);
  };
  dashboard.setSheets(std::move(sheets));
}

}  // namespace tlr
