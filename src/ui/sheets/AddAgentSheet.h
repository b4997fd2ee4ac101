#pragma once

#include "core/texts/LocKey.h"
#include "registry/AgentRegistry.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/sheets/InstallSheet.h"

#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QVBoxLayout;

namespace tlr {

class SettingsStore;


// The registry's agents to add: those not installed that have an install
// recipe, each with an Install button, then those installed. Install opens
// the agent's website, or the install sheet over this one. Which agents are
// installed is the presenter's knowledge (setInstalledIds).
class AddAgentSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{460, 580};

  // Its texts, and its install sheet's, are in the language of `settings`,
  // which must outlive it.
  AddAgentSheet(std::shared_ptr<const AgentRegistry> registry, QSet<QString> installedIds,
                std::function<void()> onClose, std::function<void()> onDidInstall, const SettingsStore& settings,
                QWidget* parent = nullptr);
  ~AddAgentSheet() override;

  void setInstalledIds(const QSet<QString>& installedIds);

  // The agent whose install sheet is open, and that sheet.
  const std::optional<QString>& installingEntryId() const { return installingEntryId_; }
  InstallSheet* installSheet() const { return installSheet_; }

 private:
  void rebuild();
  QWidget* section(const QString& key, const QString& title, const QList<AgentEntry>& entries, bool installed);
  QWidget* agentRow(const AgentEntry& entry, bool installed);
  void install(const AgentEntry& entry);
  void openInstallSheet(const QString& entryId);
  void closeInstallSheet();

  QString text(const LocKey& key) const;

  const SettingsStore& settings_;
  std::shared_ptr<const AgentRegistry> registry_;
  QSet<QString> installedIds_;
  std::function<void()> onDidInstall_;
  std::optional<QString> installingEntryId_;
  QPointer<InstallSheet> installSheet_;
  Label* title_ = nullptr;
  CloseButton* close_ = nullptr;
  QVBoxLayout* content_ = nullptr;
};

}  // namespace tlr
