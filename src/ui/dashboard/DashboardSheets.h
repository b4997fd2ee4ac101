#pragma once

#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"
#include "registry/AgentRegistry.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace tlr {

class Sheet;

// How the dashboard builds the sheets it presents. Each factory builds its
// sheet over `parent` and returns it (not yet shown), or nullptr when there
// is nothing to show; the dashboard presents it, closes it inside the
// callbacks it hands over (sheets never close themselves) and forgets it
// when it is dismissed. A factory that is not set leaves its button or tap
// doing nothing.
//
// The start-up fills in the factories (src/app: installDashboardSheets()
// and installBackupSheets()) once on the dashboard the main window hosts.
struct DashboardSheets {
  // ---- Agent detail: a row's tap (or its Running / Faulted button) ----
  // `callbacks` carries the seven actions, onClose included. While the sheet
  // is open the dashboard hands it a fresh record through `setItem` whenever
  // one of the fields it follows changed (DashboardAgentItem::sameState).
  struct Detail {
    Sheet* sheet = nullptr;
    std::function<void(const DashboardAgentItem&)> setItem;
  };
  std::function<Detail(QWidget* parent, const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks)>
      detail;

  // ---- Add agent: the toolbar's "plus" ----
  // Only when the model has a registry. `onDidInstall` needs no action from
  // the sheet's side beyond being called (the next scan shows the agent).
  // While open, the sheet gets the installed ids on every publish through
  // `setInstalledIds`.
  struct AddAgent {
    Sheet* sheet = nullptr;
    std::function<void(const QSet<QString>&)> setInstalledIds;
  };
  std::function<AddAgent(QWidget* parent, std::shared_ptr<const AgentRegistry> registry,
                         const QSet<QString>& installedIds, std::function<void()> onClose,
                         std::function<void()> onDidInstall)>
      addAgent;

  // ---- Settings: the toolbar's "gearshape" ----
  std::function<Sheet*(QWidget* parent, std::function<void()> onClose)> settings;

  // ---- Backup: the toolbar's "archivebox" ----
  // `installedAgents`: every visible registry entry (or, without a registry,
  // the entry of every row). The three "open" actions close the backup sheet
  // and open the restore or USB sheet 0.3 s later.
  std::function<Sheet*(QWidget* parent, const QList<AgentEntry>& installedAgents, std::function<void()> onClose,
                       std::function<void()> onOpenRestore, std::function<void()> onOpenUSBExport,
                       std::function<void()> onOpenUSBImport)>
      backup;

  // ---- Restore: only from the backup sheet ----
  std::function<Sheet*(QWidget* parent, std::function<void()> onClose,
                       std::function<void(const QString& agentId)> onAgentRestored)>
      restore;

  // ---- USB export and import: only from the backup sheet ----
  enum class USBMode { exportPkg, importPkg };
  std::function<Sheet*(QWidget* parent, USBMode mode, const QList<AgentEntry>& installedAgents,
                       std::function<void()> onClose)>
      usbMigration;
};

}  // namespace tlr
